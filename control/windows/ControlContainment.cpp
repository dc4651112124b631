#include "control/windows/ControlContainment.h"

#include <algorithm>
#include <utility>

#include "platform/automation/windows/ModuleWindowClasses.h"

namespace quenvar::control {

namespace {

constexpr const wchar_t* faceWindowClass = L"quenvar.Face";
constexpr int himetricPerInch = 2540;
// The names containers of the classic designer store a control's extent under.
constexpr const wchar_t* extentXName = L"_ExtentX";
constexpr const wchar_t* extentYName = L"_ExtentY";

template <class Interface>
void release(Interface*& pointer) {
    if (Interface* held = std::exchange(pointer, nullptr)) held->Release();
}

int screenPixelsPerInch(int index) {
    HDC screen = GetDC(nullptr);
    const int perInch = GetDeviceCaps(screen, index);
    ReleaseDC(nullptr, screen);
    return perInch;
}

}  // namespace

ControlContainment::ControlContainment(IUnknown& control, const CLSID& classId, HMODULE module,
                                       std::function<void(HWND)> hostWindowChanged)
    : control_(control), classId_(classId), module_(module), hostWindowChanged_(std::move(hostWindowChanged)) {
    face_ = static_cast<HBITMAP>(
        LoadImageW(module_, MAKEINTRESOURCEW(QUENVAR_FACE_BITMAP), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
}

ControlContainment::~ControlContainment() {
    // Released while sited: nothing of the container is called any more, only let go of.
    if (window_) {
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        DestroyWindow(std::exchange(window_, nullptr));
    }
    release(document_);
    release(frame_);
    release(inPlaceSite_);
    release(site_);
    release(viewSink_);
    release(adviseHolder_);
    if (face_) DeleteObject(face_);
}

void* ControlContainment::find(REFIID iid) {
    if (iid == IID_IOleObject) return static_cast<IOleObject*>(this);
    if (iid == IID_IOleWindow || iid == IID_IOleInPlaceObject) return static_cast<IOleInPlaceObject*>(this);
    if (iid == IID_IOleInPlaceActiveObject) return static_cast<IOleInPlaceActiveObject*>(this);
    if (iid == IID_IOleControl) return static_cast<IOleControl*>(this);
    if (iid == IID_IViewObject || iid == IID_IViewObject2) return static_cast<IViewObject2*>(this);
    if (iid == IID_IPersist || iid == IID_IPersistStreamInit) return static_cast<IPersistStreamInit*>(this);
    if (iid == IID_IPersistPropertyBag) return static_cast<IPersistPropertyBag*>(this);
    return nullptr;
}

HRESULT ControlContainment::QueryInterface(REFIID iid, void** out) { return control_.QueryInterface(iid, out); }
ULONG ControlContainment::AddRef() { return control_.AddRef(); }
ULONG ControlContainment::Release() { return control_.Release(); }

// --- IOleObject ---

HRESULT ControlContainment::SetClientSite(IOleClientSite* site) {
    if (site == site_) return S_OK;
    if (!site) InPlaceDeactivate();
    if (site) site->AddRef();
    release(site_);
    site_ = site;
    return S_OK;
}

HRESULT ControlContainment::GetClientSite(IOleClientSite** site) {
    if (!site) return E_POINTER;
    *site = site_;
    if (site_) site_->AddRef();
    return S_OK;
}

HRESULT ControlContainment::SetHostNames(LPCOLESTR, LPCOLESTR) { return S_OK; }

HRESULT ControlContainment::Close(DWORD) {
    // Nothing to save: the extent is saved by the container through the persistence interfaces.
    InPlaceDeactivate();
    if (adviseHolder_) adviseHolder_->SendOnClose();
    return S_OK;
}

HRESULT ControlContainment::SetMoniker(DWORD, IMoniker*) { return E_NOTIMPL; }

HRESULT ControlContainment::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
    if (moniker) *moniker = nullptr;
    return E_NOTIMPL;
}

HRESULT ControlContainment::InitFromData(IDataObject*, BOOL, DWORD) { return E_NOTIMPL; }

HRESULT ControlContainment::GetClipboardData(DWORD, IDataObject** data) {
    if (data) *data = nullptr;
    return E_NOTIMPL;
}

HRESULT ControlContainment::DoVerb(LONG verb, LPMSG, IOleClientSite* activeSite, LONG, HWND, LPCRECT) {
    IOleClientSite* site = activeSite ? activeSite : site_;
    switch (verb) {
        case OLEIVERB_PRIMARY:
        case OLEIVERB_SHOW:
        case OLEIVERB_INPLACEACTIVATE: return activateInPlace(site, false);
        case OLEIVERB_UIACTIVATE: return activateInPlace(site, true);
        case OLEIVERB_HIDE: return InPlaceDeactivate();
        default:
            // Properties and other verbs: the control has none of its own.
            return verb < 0 ? E_NOTIMPL : OLEOBJ_S_INVALIDVERB;
    }
}

HRESULT ControlContainment::activateInPlace(IOleClientSite* site, bool userInterface) {
    if (!site) return E_UNEXPECTED;
    if (!inPlaceSite_) {
        IOleInPlaceSite* inPlaceSite = nullptr;
        if (FAILED(site->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&inPlaceSite)))) {
            return E_NOINTERFACE;
        }
        if (inPlaceSite->CanInPlaceActivate() != S_OK) {
            inPlaceSite->Release();
            return E_FAIL;
        }
        inPlaceSite_ = inPlaceSite;
        inPlaceSite_->OnInPlaceActivate();
        HWND parent = nullptr;
        RECT position{};
        RECT clip{};
        OLEINPLACEFRAMEINFO frameInfo{sizeof frameInfo, FALSE, nullptr, nullptr, 0};
        inPlaceSite_->GetWindow(&parent);
        inPlaceSite_->GetWindowContext(&frame_, &document_, &position, &clip, &frameInfo);
        const ATOM faceClass = automation::windows::moduleWindowClass(
            module_, faceWindowClass, &ControlContainment::windowProcedure, CS_HREDRAW | CS_VREDRAW,
            LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW)));
        window_ = CreateWindowExW(0, reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(faceClass)), L"",
                                  WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, position.left, position.top,
                                  position.right - position.left, position.bottom - position.top, parent, nullptr,
                                  module_, nullptr);
        if (!window_) {
            InPlaceDeactivate();
            return E_FAIL;
        }
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        if (hostWindowChanged_) hostWindowChanged_(GetAncestor(parent, GA_ROOT));
    }
    if (userInterface && !userInterfaceActive_) {
        userInterfaceActive_ = true;
        inPlaceSite_->OnUIActivate();
        if (frame_) frame_->SetActiveObject(this, nullptr);
        if (document_) document_->SetActiveObject(this, nullptr);
    }
    return S_OK;
}

HRESULT ControlContainment::EnumVerbs(IEnumOLEVERB** verbs) {
    if (verbs) *verbs = nullptr;
    return OLE_S_USEREG;
}

HRESULT ControlContainment::Update() { return S_OK; }
HRESULT ControlContainment::IsUpToDate() { return S_OK; }

HRESULT ControlContainment::GetUserClassID(CLSID* classId) { return GetClassID(classId); }

HRESULT ControlContainment::GetUserType(DWORD, LPOLESTR* name) {
    if (name) *name = nullptr;
    return OLE_S_USEREG;
}

HRESULT ControlContainment::SetExtent(DWORD aspect, SIZEL* size) {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!size || size->cx < 0 || size->cy < 0) return E_INVALIDARG;
    if (size->cx != extent_.cx || size->cy != extent_.cy) dirty_ = true;
    extent_ = *size;
    return S_OK;
}

HRESULT ControlContainment::GetExtent(DWORD aspect, SIZEL* size) {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!size) return E_POINTER;
    *size = extent_;
    return S_OK;
}

HRESULT ControlContainment::Advise(IAdviseSink* sink, DWORD* connection) {
    if (!adviseHolder_ && FAILED(CreateOleAdviseHolder(&adviseHolder_))) return E_OUTOFMEMORY;
    return adviseHolder_->Advise(sink, connection);
}

HRESULT ControlContainment::Unadvise(DWORD connection) {
    return adviseHolder_ ? adviseHolder_->Unadvise(connection) : OLE_E_NOCONNECTION;
}

HRESULT ControlContainment::EnumAdvise(IEnumSTATDATA** advises) {
    if (!advises) return E_POINTER;
    *advises = nullptr;
    return adviseHolder_ ? adviseHolder_->EnumAdvise(advises) : S_OK;
}

HRESULT ControlContainment::GetMiscStatus(DWORD aspect, DWORD* status) {
    if (!status) return E_POINTER;
    *status = aspect == DVASPECT_CONTENT ? controlMiscStatus : 0;
    return S_OK;
}

HRESULT ControlContainment::SetColorScheme(LOGPALETTE*) { return E_NOTIMPL; }

// --- IOleWindow, IOleInPlaceObject, IOleInPlaceActiveObject ---

HRESULT ControlContainment::GetWindow(HWND* window) {
    if (!window) return E_POINTER;
    *window = window_;
    return window_ ? S_OK : E_FAIL;
}

HRESULT ControlContainment::ContextSensitiveHelp(BOOL) { return E_NOTIMPL; }

HRESULT ControlContainment::InPlaceDeactivate() {
    if (!inPlaceSite_) return S_OK;
    UIDeactivate();
    if (window_) {
        SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
        DestroyWindow(std::exchange(window_, nullptr));
    }
    release(document_);
    release(frame_);
    IOleInPlaceSite* site = std::exchange(inPlaceSite_, nullptr);
    if (hostWindowChanged_) hostWindowChanged_(nullptr);
    site->OnInPlaceDeactivate();
    site->Release();
    return S_OK;
}

HRESULT ControlContainment::UIDeactivate() {
    if (!userInterfaceActive_) return S_OK;
    userInterfaceActive_ = false;
    if (frame_) frame_->SetActiveObject(nullptr, nullptr);
    if (document_) document_->SetActiveObject(nullptr, nullptr);
    if (inPlaceSite_) inPlaceSite_->OnUIDeactivate(FALSE);
    return S_OK;
}

HRESULT ControlContainment::SetObjectRects(LPCRECT position, LPCRECT) {
    if (!position) return E_POINTER;
    if (window_) {
        MoveWindow(window_, position->left, position->top, position->right - position->left,
                   position->bottom - position->top, TRUE);
    }
    return S_OK;
}

HRESULT ControlContainment::ReactivateAndUndo() { return E_NOTIMPL; }
HRESULT ControlContainment::TranslateAccelerator(LPMSG) { return S_FALSE; }
HRESULT ControlContainment::OnFrameWindowActivate(BOOL) { return S_OK; }
HRESULT ControlContainment::OnDocWindowActivate(BOOL) { return S_OK; }
HRESULT ControlContainment::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) { return S_OK; }
HRESULT ControlContainment::EnableModeless(BOOL) { return S_OK; }

// --- IOleControl: no mnemonics, no ambient properties it follows, events always delivered ---

HRESULT ControlContainment::GetControlInfo(CONTROLINFO* info) {
    if (!info) return E_POINTER;
    info->cb = sizeof *info;
    info->hAccel = nullptr;
    info->cAccel = 0;
    info->dwFlags = 0;
    return S_OK;
}

HRESULT ControlContainment::OnMnemonic(MSG*) { return E_NOTIMPL; }
HRESULT ControlContainment::OnAmbientPropertyChange(DISPID) { return S_OK; }
HRESULT ControlContainment::FreezeEvents(BOOL) { return S_OK; }

// --- IViewObject2 ---

void ControlContainment::drawFace(HDC dc, const RECT& bounds, int imageWidth, int imageHeight) const {
    FillRect(dc, &bounds, GetSysColorBrush(COLOR_BTNFACE));
    if (!face_) return;
    HDC picture = CreateCompatibleDC(dc);
    HGDIOBJ previous = SelectObject(picture, face_);
    // Image1 stays at its own size; a smaller control shows the part that fits.
    const int width = std::min<int>(imageWidth, bounds.right - bounds.left);
    const int height = std::min<int>(imageHeight, bounds.bottom - bounds.top);
    SetStretchBltMode(dc, COLORONCOLOR);
    StretchBlt(dc, bounds.left, bounds.top, width, height, picture, 0, 0, MulDiv(width, faceWidth, imageWidth),
               MulDiv(height, faceHeight, imageHeight), SRCCOPY);
    SelectObject(picture, previous);
    DeleteDC(picture);
}

HRESULT ControlContainment::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc, LPCRECTL bounds, LPCRECTL,
                                 BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!dc || !bounds) return E_INVALIDARG;
    const RECT area{bounds->left, bounds->top, bounds->right, bounds->bottom};
    // The picture keeps its share of the extent: at the extent's own size in screen pixels it
    // is 68 x 58; drawn larger or smaller (printing, a zoomed document) it scales with it.
    const int extentWidth = MulDiv(extent_.cx, screenPixelsPerInch(LOGPIXELSX), himetricPerInch);
    const int extentHeight = MulDiv(extent_.cy, screenPixelsPerInch(LOGPIXELSY), himetricPerInch);
    const int imageWidth = extentWidth > 0 ? MulDiv(faceWidth, area.right - area.left, extentWidth) : faceWidth;
    const int imageHeight = extentHeight > 0 ? MulDiv(faceHeight, area.bottom - area.top, extentHeight) : faceHeight;
    drawFace(dc, area, imageWidth, imageHeight);
    return S_OK;
}

HRESULT ControlContainment::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colours) {
    if (colours) *colours = nullptr;
    return S_FALSE;
}

HRESULT ControlContainment::Freeze(DWORD, LONG, void*, DWORD*) { return E_NOTIMPL; }
HRESULT ControlContainment::Unfreeze(DWORD) { return E_NOTIMPL; }

HRESULT ControlContainment::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
    if (sink) sink->AddRef();
    release(viewSink_);
    viewSink_ = sink;
    viewAspects_ = aspects;
    viewFlags_ = flags;
    return S_OK;
}

HRESULT ControlContainment::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
    if (aspects) *aspects = viewAspects_;
    if (flags) *flags = viewFlags_;
    if (sink) {
        *sink = viewSink_;
        if (viewSink_) viewSink_->AddRef();
    }
    return S_OK;
}

HRESULT ControlContainment::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) {
    return GetExtent(aspect, size);
}

// --- IPersistStreamInit, IPersistPropertyBag: the extent and nothing else ---

HRESULT ControlContainment::GetClassID(CLSID* classId) {
    if (!classId) return E_POINTER;
    *classId = classId_;
    return S_OK;
}

HRESULT ControlContainment::IsDirty() { return dirty_ ? S_OK : S_FALSE; }

HRESULT ControlContainment::InitNew() {
    extent_ = designedExtent;
    dirty_ = false;
    return S_OK;
}

HRESULT ControlContainment::Load(LPSTREAM stream) {
    if (!stream) return E_POINTER;
    // Width and height in HIMETRIC; an empty or shorter stream keeps the designed size.
    LONG size[2] = {};
    ULONG read = 0;
    const HRESULT status = stream->Read(size, sizeof size, &read);
    if (FAILED(status)) return status;
    extent_ = read == sizeof size && size[0] >= 0 && size[1] >= 0 ? SIZEL{size[0], size[1]} : designedExtent;
    dirty_ = false;
    return S_OK;
}

HRESULT ControlContainment::Save(LPSTREAM stream, BOOL clearDirty) {
    if (!stream) return E_POINTER;
    const LONG size[2] = {extent_.cx, extent_.cy};
    const HRESULT status = stream->Write(size, sizeof size, nullptr);
    if (SUCCEEDED(status) && clearDirty) dirty_ = false;
    return status;
}

HRESULT ControlContainment::GetSizeMax(ULARGE_INTEGER* size) {
    if (!size) return E_POINTER;
    size->QuadPart = 2 * sizeof(LONG);
    return S_OK;
}

HRESULT ControlContainment::Load(IPropertyBag* bag, IErrorLog*) {
    if (!bag) return E_POINTER;
    SIZEL loaded = designedExtent;
    LONG* const fields[] = {&loaded.cx, &loaded.cy};
    const wchar_t* const names[] = {extentXName, extentYName};
    for (int i = 0; i < 2; ++i) {
        VARIANT value;
        VariantInit(&value);
        V_VT(&value) = VT_I4;
        // A missing value keeps the designed one.
        if (SUCCEEDED(bag->Read(names[i], &value, nullptr)) && SUCCEEDED(VariantChangeType(&value, &value, 0, VT_I4)) &&
            V_I4(&value) >= 0) {
            *fields[i] = V_I4(&value);
        }
        VariantClear(&value);
    }
    extent_ = loaded;
    dirty_ = false;
    return S_OK;
}

HRESULT ControlContainment::Save(IPropertyBag* bag, BOOL clearDirty, BOOL) {
    if (!bag) return E_POINTER;
    const LONG fields[] = {extent_.cx, extent_.cy};
    const wchar_t* const names[] = {extentXName, extentYName};
    for (int i = 0; i < 2; ++i) {
        VARIANT value;
        VariantInit(&value);
        V_VT(&value) = VT_I4;
        V_I4(&value) = fields[i];
        const HRESULT status = bag->Write(names[i], &value);
        if (FAILED(status)) return status;
    }
    if (clearDirty) dirty_ = false;
    return S_OK;
}

// --- the control's window while active in place ---

LRESULT CALLBACK ControlContainment::windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* containment = reinterpret_cast<ControlContainment*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
        case WM_ERASEBKGND: return 1;  // painted whole in WM_PAINT
        case WM_PAINT: {
            PAINTSTRUCT paint;
            HDC dc = BeginPaint(window, &paint);
            RECT client;
            GetClientRect(window, &client);
            if (containment) containment->drawFace(dc, client, faceWidth, faceHeight);
            EndPaint(window, &paint);
            return 0;
        }
        case WM_PRINTCLIENT: {
            // Into the caller's device context, as PrintWindow and window animations ask.
            RECT client;
            GetClientRect(window, &client);
            if (containment) containment->drawFace(reinterpret_cast<HDC>(wParam), client, faceWidth, faceHeight);
            return 0;
        }
        default: return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace quenvar::control
