// A plain container for a photograph of the control's face: a borderless window at a fixed
// place with the system's ActiveX host window in it, hosting the control by its ProgID. Prints
// "ready X Y" (the screen position of the control's top-left corner) once the face is on the
// screen, and ends when its standard input closes.

#include <windows.h>
#include <ole2.h>

#include <cstdio>

#include "tests/windows/support/ControlModule.h"

namespace {

DWORD WINAPI closeAtEndOfInput(void* window) {
    char buffer[64];
    DWORD read = 0;
    while (ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &read, nullptr) && read > 0) {
    }
    PostMessageW(static_cast<HWND>(window), WM_CLOSE, 0, 0);
    return 0;
}

LRESULT CALLBACK frameProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) PostQuitMessage(0);
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    OleInitialize(nullptr);
    if (FAILED(windows_tests::registerControlModule())) {
        std::puts("quenvar.ocx could not be registered");
        return 1;
    }
    HMODULE atl = LoadLibraryW(L"atl.dll");
    using WindowInit = BOOL(WINAPI*)();
    auto init = reinterpret_cast<WindowInit>(reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxWinInit")));
    if (!init || !init()) {
        std::puts("atl.dll offers no ActiveX host window");
        return 1;
    }
    WNDCLASSEXW frameClass{};
    frameClass.cbSize = sizeof frameClass;
    frameClass.lpfnWndProc = frameProcedure;
    frameClass.hInstance = instance;
    frameClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    frameClass.lpszClassName = L"FaceSite";
    RegisterClassExW(&frameClass);
    HWND frame = CreateWindowExW(0, L"FaceSite", L"face", WS_POPUP | WS_VISIBLE, 40, 30, 200, 160, nullptr, nullptr,
                                 instance, nullptr);
    // The control at its place in the host window: 100 x 80 pixels, larger than the picture.
    HWND host = CreateWindowExW(0, L"AtlAxWin", L"Zelvo.quenvar", WS_CHILD | WS_VISIBLE, 20, 10, 100, 80, frame,
                                nullptr, instance, nullptr);
    RedrawWindow(frame, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    GdiFlush();
    POINT corner{0, 0};
    ClientToScreen(host, &corner);
    std::printf("ready %ld %ld\n", corner.x, corner.y);
    std::fflush(stdout);
    CreateThread(nullptr, 0, closeAtEndOfInput, frame, 0, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    OleUninitialize();
    return 0;
}
