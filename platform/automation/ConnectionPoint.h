#pragma once
// Events: an object's connection point keeps the sinks that hosts have advised and calls
// each of them when the object raises an event of its event interface.

#include <cstdint>
#include <functional>
#include <span>
#include <utility>
#include <vector>

#include "platform/automation/Dispatch.h"
#include "platform/automation/LivenessToken.h"

namespace quenvar::automation {

namespace error_number {
// Connection point failures (automation status codes).
inline constexpr std::int32_t NoConnection = static_cast<std::int32_t>(0x80040200u);
inline constexpr std::int32_t CannotConnect = static_cast<std::int32_t>(0x80040202u);
}  // namespace error_number

class ConnectionPoint {
public:
    using Cookie = std::uint32_t;
    using Connection = std::pair<Cookie, ObjectRef>;

    // `events` describes the events; it must outlive the connection point (tables are static).
    explicit ConnectionPoint(const InterfaceInfo& events);

    const InterfaceInfo& eventInterface() const { return *events_; }

    // Connects a sink: a Dispatchable that answers the event ids as methods. Returns the cookie
    // that disconnects it (never 0). The null reference raises CannotConnect.
    Cookie advise(ObjectRef sink);
    // Disconnects; a cookie that is not connected raises NoConnection.
    void unadvise(Cookie cookie);
    std::size_t sinkCount() const { return sinks_.size(); }
    // The connected sinks with their cookies, in the order they were advised.
    const std::vector<Connection>& connections() const { return sinks_; }

    // Calls invoke(id, Method, args) on every sink in the order they were advised, on the
    // calling thread, and returns after the last one. With no sink it does nothing.
    // - Each sink gets its own copy of the arguments.
    // - A sink may advise or unadvise during the raise: sinks advised meanwhile are called from
    //   the next raise on; a sink unadvised meanwhile is not called any more.
    // - A sink that answers MemberNotFound simply does not handle this event. Any other error
    //   of a sink does not stop the others: after every sink has been called, the first such
    //   error is raised again to the caller.
    // - A sink may let go of the object this connection point belongs to, and so destroy the
    //   connection point: raise then returns at once, calls no further sink and raises no sink's
    //   error (no one is left to hear it).
    // An id that the event interface does not have raises MemberNotFound before any sink runs.
    void raise(MemberId id, std::span<const Variant> args = {});

private:
    const InterfaceInfo* events_;
    std::vector<Connection> sinks_;
    Cookie lastCookie_ = 0;
    LivenessToken liveness_;
};

// Implemented by objects that raise events: the connection point for an event interface, or
// nullptr when the object has none for that iid.
class ConnectionPointContainer {
public:
    virtual ~ConnectionPointContainer();
    virtual ConnectionPoint* findConnectionPoint(const Guid& iid) = 0;
};

// A sink made from a callback, so hosts can advise without writing a class. Answers every
// event of `events` (with the event's parameter count and types); other ids and kinds raise
// MemberNotFound. The callback gets the event id and the converted arguments.
class EventSink : public Dispatchable {
public:
    using Handler = std::function<void(MemberId, std::span<Variant>)>;
    EventSink(const InterfaceInfo& events, Handler handler);

    const InterfaceInfo& interfaceInfo() const override { return *events_; }
    Variant invoke(MemberId id, InvokeKind kind, std::span<Variant> args) override;

private:
    const InterfaceInfo* events_;
    Handler handler_;
};

}  // namespace quenvar::automation
