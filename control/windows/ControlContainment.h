#pragma once
// What containers need of a visible control: VB and VBA forms, Office documents and the
// system's ActiveX host window site it (IOleObject), activate it in place in a window of its
// own (IOleInPlaceObject, IOleInPlaceActiveObject), ask it for its keyboard needs
// (IOleControl), have it draw its face (IViewObject2) and save and load it with their own
// documents (IPersistStreamInit, IPersistPropertyBag).
//
// The face is Image1, the control's 68 x 58 picture, at the top-left corner on the control's
// background (the system's button face colour), drawn at the control's extent. The control
// keeps nothing with the container's document but that extent; loading an empty stream or
// property bag keeps the designed size, 4800 x 3600 twips.
//
// This part lives inside the control's COM object and answers for it: every IUnknown call
// goes to the control. A control released while still sited (a container that forgets to
// close it) unsites itself: its window goes and it lets go of the site and of the container's
// sinks, without calling them.

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <functional>

#include "control/windows/FaceResource.h"

namespace quenvar::control {

// The designed size in HIMETRIC (0.01 mm): 4800 x 3600 twips, 320 x 240 pixels.
inline constexpr SIZEL designedExtent{8467, 6350};
// Image1's picture (bitmap resource QUENVAR_FACE_BITMAP of the module) is this big.
inline constexpr int faceWidth = 68;
inline constexpr int faceHeight = 58;
// What the control tells containers of itself (also its registered value): recompose on
// resize, cannot link inside, inside-out, activate when visible, set client site first.
inline constexpr DWORD controlMiscStatus = 0x20191;

class ControlContainment final : public IOleObject,
                                 public IOleInPlaceObject,
                                 public IOleInPlaceActiveObject,
                                 public IOleControl,
                                 public IViewObject2,
                                 public IPersistStreamInit,
                                 public IPersistPropertyBag {
public:
    // `control` is the object this part answers for. `hostWindowChanged` hears the top-level
    // window of the container when the control is activated in place, and nullptr when it is
    // deactivated: the control's message boxes belong to that window.
    ControlContainment(IUnknown& control, const CLSID& classId, HMODULE module,
                       std::function<void(HWND)> hostWindowChanged);
    ~ControlContainment();
    ControlContainment(const ControlContainment&) = delete;
    ControlContainment& operator=(const ControlContainment&) = delete;

    // This part's interface `iid`, or nullptr; the caller adds the reference, as for its own.
    void* find(REFIID iid);

    // IUnknown, all the control's.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IOleObject
    HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) override;
    HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** site) override;
    HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR, LPCOLESTR) override;
    HRESULT STDMETHODCALLTYPE Close(DWORD saveOption) override;
    HRESULT STDMETHODCALLTYPE SetMoniker(DWORD, IMoniker*) override;
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** moniker) override;
    HRESULT STDMETHODCALLTYPE InitFromData(IDataObject*, BOOL, DWORD) override;
    HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD, IDataObject** data) override;
    HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, LPMSG, IOleClientSite* activeSite, LONG, HWND parent,
                                     LPCRECT position) override;
    HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB** verbs) override;
    HRESULT STDMETHODCALLTYPE Update() override;
    HRESULT STDMETHODCALLTYPE IsUpToDate() override;
    HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID* classId) override;
    HRESULT STDMETHODCALLTYPE GetUserType(DWORD, LPOLESTR* name) override;
    HRESULT STDMETHODCALLTYPE SetExtent(DWORD aspect, SIZEL* size) override;
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, SIZEL* size) override;
    HRESULT STDMETHODCALLTYPE Advise(IAdviseSink* sink, DWORD* connection) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD connection) override;
    HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA** advises) override;
    HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD aspect, DWORD* status) override;
    HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE*) override;

    // IOleWindow, of both in-place interfaces
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override;
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override;
    // IOleInPlaceObject
    HRESULT STDMETHODCALLTYPE InPlaceDeactivate() override;
    HRESULT STDMETHODCALLTYPE UIDeactivate() override;
    HRESULT STDMETHODCALLTYPE SetObjectRects(LPCRECT position, LPCRECT clip) override;
    HRESULT STDMETHODCALLTYPE ReactivateAndUndo() override;
    // IOleInPlaceActiveObject
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG) override;
    HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL) override;
    HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL) override;
    HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override;
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override;

    // IOleControl
    HRESULT STDMETHODCALLTYPE GetControlInfo(CONTROLINFO* info) override;
    HRESULT STDMETHODCALLTYPE OnMnemonic(MSG*) override;
    HRESULT STDMETHODCALLTYPE OnAmbientPropertyChange(DISPID) override;
    HRESULT STDMETHODCALLTYPE FreezeEvents(BOOL) override;

    // IViewObject2
    HRESULT STDMETHODCALLTYPE Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc, LPCRECTL bounds, LPCRECTL,
                                   BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) override;
    HRESULT STDMETHODCALLTYPE GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colours) override;
    HRESULT STDMETHODCALLTYPE Freeze(DWORD, LONG, void*, DWORD*) override;
    HRESULT STDMETHODCALLTYPE Unfreeze(DWORD) override;
    HRESULT STDMETHODCALLTYPE SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override;
    HRESULT STDMETHODCALLTYPE GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override;
    HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) override;

    // IPersist, of both persistence interfaces
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* classId) override;
    // IPersistStreamInit
    HRESULT STDMETHODCALLTYPE IsDirty() override;
    HRESULT STDMETHODCALLTYPE Load(LPSTREAM stream) override;
    HRESULT STDMETHODCALLTYPE Save(LPSTREAM stream, BOOL clearDirty) override;
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* size) override;
    HRESULT STDMETHODCALLTYPE InitNew() override;
    // IPersistPropertyBag
    HRESULT STDMETHODCALLTYPE Load(IPropertyBag* bag, IErrorLog*) override;
    HRESULT STDMETHODCALLTYPE Save(IPropertyBag* bag, BOOL clearDirty, BOOL) override;

private:
    HRESULT activateInPlace(IOleClientSite* site, bool userInterface);
    void leaveSite();
    void drawFace(HDC dc, const RECT& bounds, int imageWidth, int imageHeight) const;
    static LRESULT CALLBACK windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    IUnknown& control_;
    CLSID classId_;
    HMODULE module_;
    std::function<void(HWND)> hostWindowChanged_;
    HBITMAP face_ = nullptr;
    SIZEL extent_ = designedExtent;
    bool dirty_ = false;

    IOleClientSite* site_ = nullptr;
    IOleInPlaceSite* inPlaceSite_ = nullptr;  // while active in place
    IOleInPlaceFrame* frame_ = nullptr;       // while active with its user interface
    IOleInPlaceUIWindow* document_ = nullptr;
    bool userInterfaceActive_ = false;
    HWND window_ = nullptr;
    IOleAdviseHolder* adviseHolder_ = nullptr;
    IAdviseSink* viewSink_ = nullptr;
    DWORD viewAspects_ = 0;
    DWORD viewFlags_ = 0;
};

}  // namespace quenvar::control
