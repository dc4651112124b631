// The control in containers: sited, activated in place, drawn and saved by the system's
// ActiveX host window (atl.dll's "AtlAxWin") and by a caller acting as a container, under Wine.

#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "tests/windows/support/AtlHostWindow.h"
#include "tests/windows/support/ControlModule.h"

namespace {

constexpr SIZEL designedExtent{8467, 6350};  // 4800 x 3600 twips
constexpr int faceWidth = 68;
constexpr int faceHeight = 58;

template <class Interface>
struct Held {
    Interface* pointer = nullptr;
    ~Held() {
        if (pointer) pointer->Release();
    }
    Interface* operator->() const { return pointer; }
    void** out() { return reinterpret_cast<void**>(&pointer); }
};

IUnknown* createControl() {
    CLSID classId;
    IUnknown* control = nullptr;
    if (SUCCEEDED(CLSIDFromProgID(L"Zelvo.quenvar", &classId))) {
        CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, reinterpret_cast<void**>(&control));
    }
    return control;
}

LONG himetric(int pixels, int perInch) { return MulDiv(pixels, 2540, perInch); }

using windows_tests::HostWindow;
using windows_tests::pixelsOf;

// The control as the system's host window sites it: the window, the control in it, and the
// control's IOleObject and client site (each null when the step before failed).
struct HostedControl {
    explicit HostedControl(RECT place) : window(place), control{window.control()} {
        if (control.pointer) control->QueryInterface(IID_IOleObject, object.out());
        if (object.pointer) object->GetClientSite(&site.pointer);
    }
    HostWindow window;
    Held<IUnknown> control;
    Held<IOleObject> object;
    Held<IOleClientSite> site;
};

ULONG referencesOf(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

// A property bag that keeps what is written, as a document's would.
class MemoryBag final : public IPropertyBag {
public:
    std::map<std::wstring, LONG> values;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid != IID_IUnknown && iid != IID_IPropertyBag) return *out = nullptr, E_NOINTERFACE;
        *out = this;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
        const auto found = values.find(name);
        if (found == values.end()) return E_INVALIDARG;
        VariantClear(value);
        V_VT(value) = VT_I4;
        V_I4(value) = found->second;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT* value) override {
        VARIANT number;
        VariantInit(&number);
        if (FAILED(VariantChangeType(&number, value, 0, VT_I4))) return E_INVALIDARG;
        values[name] = V_I4(&number);
        return S_OK;
    }
};

SIZEL extentOf(IUnknown* control) {
    Held<IOleObject> object;
    SIZEL extent{-1, -1};
    if (SUCCEEDED(control->QueryInterface(IID_IOleObject, object.out()))) object->GetExtent(DVASPECT_CONTENT, &extent);
    return extent;
}

}  // namespace

class ContainmentTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        OleInitialize(nullptr);
        ASSERT_EQ(windows_tests::registerControlModule(), S_OK);
    }
};

TEST_F(ContainmentTest, SystemHostWindowSitesAndActivatesTheControlInPlace) {
    HostedControl hosted({10, 20, 210, 120});
    const HostWindow& window = hosted.window;
    const Held<IUnknown>& control = hosted.control;
    const Held<IOleObject>& object = hosted.object;
    ASSERT_NE(object.pointer, nullptr);
    EXPECT_NE(hosted.site.pointer, nullptr);
    DWORD status = 0;
    EXPECT_EQ(object->GetMiscStatus(DVASPECT_CONTENT, &status), S_OK);
    EXPECT_EQ(status, 0x20191u);
    // The host gave the control its window's size (Wine's host converts pixels with a factor of
    // its own, so only the proportion of the 200 x 100 window is checked).
    const SIZEL extent = extentOf(control.pointer);
    EXPECT_NE(extent.cx, designedExtent.cx);
    EXPECT_EQ(extent.cx, 2 * extent.cy);
    // Active in place: a window of its own filling the host window.
    Held<IOleInPlaceObject> inPlace;
    ASSERT_EQ(control->QueryInterface(IID_IOleInPlaceObject, inPlace.out()), S_OK);
    HWND face = nullptr;
    ASSERT_EQ(inPlace->GetWindow(&face), S_OK);
    EXPECT_EQ(GetParent(face), window.host);
    RECT client;
    GetClientRect(face, &client);
    EXPECT_EQ(client.right, 200);
    EXPECT_EQ(client.bottom, 100);
    Held<IOleControl> oleControl;
    ASSERT_EQ(control->QueryInterface(IID_IOleControl, oleControl.out()), S_OK);
    CONTROLINFO info{};
    EXPECT_EQ(oleControl->GetControlInfo(&info), S_OK);
    EXPECT_EQ(info.cAccel, 0);
    // The host window goes: the control is closed and unsited, though still referenced here.
    DestroyWindow(window.host);
    EXPECT_FALSE(IsWindow(face));
    IOleClientSite* after = nullptr;
    EXPECT_EQ(object->GetClientSite(&after), S_OK);
    EXPECT_EQ(after, nullptr);
}

TEST_F(ContainmentTest, ReleasedWhileSitedUnsitesCleanly) {
    HostedControl hosted({0, 0, 100, 80});
    const HostWindow& window = hosted.window;
    const Held<IOleClientSite>& site = hosted.site;
    ASSERT_NE(site.pointer, nullptr);
    const ULONG siteReferences = referencesOf(site.pointer);

    // A second control on the same site, active in place, then released without being closed.
    IUnknown* control = createControl();
    ASSERT_NE(control, nullptr);
    IOleObject* object = nullptr;
    ASSERT_EQ(control->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&object)), S_OK);
    ASSERT_EQ(object->SetClientSite(site.pointer), S_OK);
    const RECT place{0, 0, 100, 80};
    ASSERT_EQ(object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site.pointer, 0, window.host, &place), S_OK);
    IOleInPlaceObject* inPlace = nullptr;
    ASSERT_EQ(control->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace)), S_OK);
    HWND face = nullptr;
    ASSERT_EQ(inPlace->GetWindow(&face), S_OK);
    EXPECT_TRUE(IsWindow(face));
    EXPECT_GT(referencesOf(site.pointer), siteReferences);
    inPlace->Release();
    object->Release();
    EXPECT_EQ(control->Release(), 0u);
    EXPECT_FALSE(IsWindow(face));
    EXPECT_EQ(referencesOf(site.pointer), siteReferences);
}

TEST_F(ContainmentTest, DrawsImage1OnItsBackgroundAtItsExtent) {
    const std::string source = QUENVAR_SOURCE_DIR "/control/resources/image1.bmp";
    std::wstring path = L"Z:";  // Wine's drive for the Unix root
    for (char c : source) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
    HBITMAP picture = static_cast<HBITMAP>(
        LoadImageW(nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION));
    ASSERT_NE(picture, nullptr);
    HDC dc = CreateCompatibleDC(nullptr);
    const std::vector<COLORREF> expected = pixelsOf(dc, picture, faceWidth, faceHeight);
    const COLORREF background = GetSysColor(COLOR_BTNFACE);
    const COLORREF backgroundPixel = RGB(GetBValue(background), GetGValue(background), GetRValue(background));

    struct Case {
        const char* name;
        int width;
        int height;  // pixels of the extent, drawn at that size
    };
    for (const Case& drawing : {Case{"designed size", 320, 240}, Case{"smaller than the picture", 50, 40}}) {
        SCOPED_TRACE(drawing.name);
        Held<IUnknown> control{createControl()};
        ASSERT_NE(control.pointer, nullptr);
        Held<IOleObject> object;
        ASSERT_EQ(control->QueryInterface(IID_IOleObject, object.out()), S_OK);
        SIZEL extent{himetric(drawing.width, GetDeviceCaps(dc, LOGPIXELSX)),
                     himetric(drawing.height, GetDeviceCaps(dc, LOGPIXELSY))};
        ASSERT_EQ(object->SetExtent(DVASPECT_CONTENT, &extent), S_OK);
        Held<IViewObject2> view;
        ASSERT_EQ(control->QueryInterface(IID_IViewObject2, view.out()), S_OK);
        BITMAPINFO info{};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), drawing.width, -drawing.height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* bits = nullptr;
        HBITMAP canvas = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        HGDIOBJ previous = SelectObject(dc, canvas);
        const RECTL bounds{0, 0, drawing.width, drawing.height};
        ASSERT_EQ(view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0), S_OK);
        SelectObject(dc, previous);
        const std::vector<COLORREF> drawn = pixelsOf(dc, canvas, drawing.width, drawing.height);
        DeleteObject(canvas);
        int wrong = 0;
        for (int y = 0; y < drawing.height; ++y) {
            for (int x = 0; x < drawing.width; ++x) {
                const bool inPicture = x < faceWidth && y < faceHeight;
                const COLORREF want =
                    inPicture ? expected[static_cast<std::size_t>(y * faceWidth + x)] : backgroundPixel;
                if (drawn[static_cast<std::size_t>(y * drawing.width + x)] != want) ++wrong;
            }
        }
        EXPECT_EQ(wrong, 0);
    }
    DeleteDC(dc);
    DeleteObject(picture);
}

TEST_F(ContainmentTest, KeepsOnlyItsExtentWithTheDocument) {
    const SIZEL chosen{1234, 567};
    // A stream: empty loads the designed size; a saved one gives back the extent, 8 bytes.
    {
        Held<IStream> empty;
        ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &empty.pointer), S_OK);
        Held<IUnknown> control{createControl()};
        Held<IPersistStreamInit> persist;
        ASSERT_EQ(control->QueryInterface(IID_IPersistStreamInit, persist.out()), S_OK);
        EXPECT_EQ(persist->Load(empty.pointer), S_OK);
        EXPECT_EQ(extentOf(control.pointer).cx, designedExtent.cx);
        EXPECT_EQ(extentOf(control.pointer).cy, designedExtent.cy);

        Held<IOleObject> object;
        ASSERT_EQ(control->QueryInterface(IID_IOleObject, object.out()), S_OK);
        SIZEL extent = chosen;
        object->SetExtent(DVASPECT_CONTENT, &extent);
        EXPECT_EQ(persist->IsDirty(), S_OK);
        Held<IStream> saved;
        ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &saved.pointer), S_OK);
        ASSERT_EQ(persist->Save(saved.pointer, TRUE), S_OK);
        EXPECT_EQ(persist->IsDirty(), S_FALSE);
        STATSTG stat{};
        saved->Stat(&stat, STATFLAG_NONAME);
        EXPECT_EQ(stat.cbSize.QuadPart, 8u);
        saved->Seek({}, STREAM_SEEK_SET, nullptr);
        Held<IUnknown> reloaded{createControl()};
        Held<IPersistStreamInit> reloading;
        ASSERT_EQ(reloaded->QueryInterface(IID_IPersistStreamInit, reloading.out()), S_OK);
        EXPECT_EQ(reloading->Load(saved.pointer), S_OK);
        EXPECT_EQ(extentOf(reloaded.pointer).cx, chosen.cx);
        EXPECT_EQ(extentOf(reloaded.pointer).cy, chosen.cy);
    }
    // A property bag: the same, under the names the classic designer uses.
    {
        MemoryBag bag;
        Held<IUnknown> control{createControl()};
        Held<IPersistPropertyBag> persist;
        ASSERT_EQ(control->QueryInterface(IID_IPersistPropertyBag, persist.out()), S_OK);
        EXPECT_EQ(persist->Load(&bag, nullptr), S_OK);
        EXPECT_EQ(extentOf(control.pointer).cx, designedExtent.cx);
        Held<IOleObject> object;
        ASSERT_EQ(control->QueryInterface(IID_IOleObject, object.out()), S_OK);
        SIZEL extent = chosen;
        object->SetExtent(DVASPECT_CONTENT, &extent);
        ASSERT_EQ(persist->Save(&bag, TRUE, TRUE), S_OK);
        EXPECT_EQ(bag.values, (std::map<std::wstring, LONG>{{L"_ExtentX", chosen.cx}, {L"_ExtentY", chosen.cy}}));
        Held<IUnknown> reloaded{createControl()};
        Held<IPersistPropertyBag> reloading;
        ASSERT_EQ(reloaded->QueryInterface(IID_IPersistPropertyBag, reloading.out()), S_OK);
        EXPECT_EQ(reloading->Load(&bag, nullptr), S_OK);
        EXPECT_EQ(extentOf(reloaded.pointer).cx, chosen.cx);
        EXPECT_EQ(extentOf(reloaded.pointer).cy, chosen.cy);
    }
}
