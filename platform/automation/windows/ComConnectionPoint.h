#pragma once
// IConnectionPoint for an object's event interface, over the runtime's ConnectionPoint: hosts
// advise their sinks (answering the event interface or IDispatch), and raising an event calls
// each sink's IDispatch::Invoke with the event's id, on the raising thread.
//
// It lives inside the object whose events it carries: its references are the object's.

#include <windows.h>
#include <ocidl.h>

#include "platform/automation/ConnectionPoint.h"

namespace quenvar::automation::windows {

class ComConnectionPoint final : public IConnectionPoint {
public:
    // `owner` is the object that holds this connection point and answers
    // IConnectionPointContainer; `events` describes the event interface (static data).
    ComConnectionPoint(IUnknown& owner, const InterfaceInfo& events);

    // Calls every advised sink (see ConnectionPoint::raise); a sink's failure is raised again
    // after all have been called.
    void raise(MemberId id, std::span<const Variant> args = {}) { sinks_.raise(id, args); }
    std::size_t sinkCount() const { return sinks_.sinkCount(); }

    // IUnknown: the owner's.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return owner_.AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return owner_.Release(); }

    // IConnectionPoint
    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** container) override;
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) override;

private:
    IUnknown& owner_;
    IID eventsIid_;
    ConnectionPoint sinks_;
};

// The runtime's Guid as COM's IID, and back.
IID iidOf(const Guid& guid);
Guid guidOf(const IID& iid);

}  // namespace quenvar::automation::windows
