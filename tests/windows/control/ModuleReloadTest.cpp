// A long-running host's way with the control (as Office, the VB IDE and script hosts have it):
// use it in the system's ActiveX host window, let everything go inside its event, free unused
// libraries, which unloads the module, and do it all again. The module loaded the second time
// works as the first did: its face, its events, its deferred release.

#include <algorithm>

#include "control/QuenvarSurface.h"
#include "control/windows/FaceResource.h"
#include "tests/windows/control/ControlHost.h"
#include "tests/windows/support/AtlHostWindow.h"
#include "tests/windows/support/MessageLoop.h"
#include "tests/windows/support/SimulatorBehindCom1.h"

namespace quenvar::testing {
namespace {

constexpr wchar_t moduleName[] = L"quenvar.ocx";
// What the face's pictures are filled with before it paints, and that colour as pixelsOf reads it.
constexpr COLORREF unpaintedColour = RGB(1, 2, 3);
constexpr COLORREF unpaintedPixel = 0x010203;

int childWindowsOf(HWND window) {
    int count = 0;
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) ++count;
    return count;
}

// The face window's picture as it paints it for PrintWindow, on a canvas filled first so that a
// face that paints nothing is seen.
std::vector<COLORREF> paintedFace(HWND face, int width, int height) {
    HDC dc = CreateCompatibleDC(nullptr);
    HDC screen = GetDC(nullptr);
    HBITMAP canvas = CreateCompatibleBitmap(screen, width, height);
    ReleaseDC(nullptr, screen);
    HGDIOBJ previous = SelectObject(dc, canvas);
    const RECT whole{0, 0, width, height};
    HBRUSH unpainted = CreateSolidBrush(unpaintedColour);
    FillRect(dc, &whole, unpainted);
    DeleteObject(unpainted);
    SendMessageW(face, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    SelectObject(dc, previous);
    std::vector<COLORREF> pixels = windows_tests::pixelsOf(dc, canvas, width, height);
    DeleteObject(canvas);
    DeleteDC(dc);
    return pixels;
}

// How many pixels of the painted face differ from Image1 (the module's face bitmap, at its own
// size in the top left corner) on the button face colour.
int pixelsOffTheFace(const std::vector<COLORREF>& painted, int width, int height) {
    HBITMAP picture = static_cast<HBITMAP>(LoadImageW(
        GetModuleHandleW(moduleName), MAKEINTRESOURCEW(QUENVAR_FACE_BITMAP), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (picture == nullptr) return width * height;
    BITMAP size{};
    GetObjectW(picture, sizeof size, &size);
    HDC dc = CreateCompatibleDC(nullptr);
    const std::vector<COLORREF> image = windows_tests::pixelsOf(dc, picture, size.bmWidth, size.bmHeight);
    DeleteDC(dc);
    DeleteObject(picture);
    const COLORREF background = GetSysColor(COLOR_BTNFACE);
    const COLORREF backgroundPixel = RGB(GetBValue(background), GetGValue(background), GetRValue(background));
    int wrong = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool inPicture = x < size.bmWidth && y < size.bmHeight;
            const COLORREF want = inPicture ? image[static_cast<std::size_t>(y * size.bmWidth + x)] : backgroundPixel;
            if (painted[static_cast<std::size_t>(y * width + x)] != want) ++wrong;
        }
    }
    return wrong;
}

using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();

// One life of the control, from its creation by the host window to its release inside x10ready.
void useAndLetGoInsideItsEvent() {
    windows_tests::HostWindow window({0, 0, 200, 100});
    IUnknown* sited = window.control();
    ASSERT_NE(sited, nullptr) << "AtlAxWin did not create Zelvo.quenvar";
    ASSERT_EQ(childWindowsOf(window.host), 1) << "the control is sited without its face window";
    RECT client;
    GetClientRect(GetWindow(window.host, GW_CHILD), &client);
    const std::vector<COLORREF> painted = paintedFace(GetWindow(window.host, GW_CHILD), client.right, client.bottom);
    ASSERT_FALSE(painted.empty());
    EXPECT_LT(std::count(painted.begin(), painted.end(), unpaintedPixel), static_cast<std::ptrdiff_t>(painted.size()))
        << "the face window painted nothing";
    EXPECT_EQ(pixelsOffTheFace(painted, client.right, client.bottom), 0);

    IDispatch* control = nullptr;
    ASSERT_HRESULT_SUCCEEDED(sited->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&control)));
    sited->Release();
    const auto canUnloadNow =
        reinterpret_cast<CanUnloadNow>(GetProcAddress(GetModuleHandleW(moduleName), "DllCanUnloadNow"));
    ASSERT_NE(canUnloadNow, nullptr);
    ASSERT_EQ(call(control, control::member::openx10, {Value::int16(1)}).status, S_OK);
    IConnectionPoint* events = eventConnectionPoint(control);
    ASSERT_NE(events, nullptr);
    EventSink sink;
    DWORD cookie = 0;
    ASSERT_HRESULT_SUCCEEDED(events->Advise(&sink, &cookie));
    // Everything goes inside the event: the sink, the host's reference and the host window's.
    sink.onX10ready = [&] {
        events->Unadvise(cookie);
        events->Release();
        control->Release();
        window.close();
    };
    const std::size_t receivedBefore = SimulatorBehindCom1::received().size();
    ASSERT_EQ(call(control, control::member::x10on, {Value::text(L"A"), Value::text(L"01")}).status, S_OK);
    ASSERT_TRUE(runMessagesUntil([&] { return sink.x10readyCount >= 1; }));
    EXPECT_EQ(SimulatorBehindCom1::received().substr(receivedBefore), std::string("\x04\x66\x00\x06\x62\x00", 6));
    // The control goes once its event is over, and then nothing of it lives.
    EXPECT_TRUE(runMessagesUntil([&] { return canUnloadNow() == S_OK; }));
    EXPECT_EQ(sink.x10readyCount, 1);
    EXPECT_EQ(sink.references, 0);
}

TEST(ModuleReload, TheControlWorksAsBeforeAfterItsModuleWasUnloadedAndLoadedAgain) {
    for (int load = 1; load <= 3; ++load) {
        SCOPED_TRACE("load " + std::to_string(load));
        useAndLetGoInsideItsEvent();
        if (HasFatalFailure()) return;
        CoFreeUnusedLibrariesEx(0, 0);
        ASSERT_EQ(GetModuleHandleW(moduleName), nullptr) << "the module stayed loaded";
    }
}

}  // namespace
}  // namespace quenvar::testing
