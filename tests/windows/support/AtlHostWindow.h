#pragma once
// The system's ActiveX host window (atl.dll's "AtlAxWin") in a top-level window, hosting the
// control it creates by ProgID, and the pixels a test reads from what was drawn.

#include <windows.h>

#include <vector>

#include <ole2.h>

namespace windows_tests {

// A top-level window with the system's ActiveX host window in it, hosting the control.
struct HostWindow {
    HWND frame = nullptr;
    HWND host = nullptr;
    explicit HostWindow(RECT place) {
        using WindowInit = BOOL(WINAPI*)();
        HMODULE atl = LoadLibraryW(L"atl.dll");
        auto init = reinterpret_cast<WindowInit>(reinterpret_cast<void*>(GetProcAddress(atl, "AtlAxWinInit")));
        // Wine's answers FALSE once the class is registered: what matters is that the class exists.
        if (!init) return;
        init();
        frame = CreateWindowExW(0, L"STATIC", L"container", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr, nullptr,
                                nullptr, nullptr);
        host = CreateWindowExW(0, L"AtlAxWin", L"Zelvo.quenvar", WS_CHILD | WS_VISIBLE, place.left, place.top,
                               place.right - place.left, place.bottom - place.top, frame, nullptr, nullptr, nullptr);
    }
    ~HostWindow() { close(); }
    // The windows go, and with them the host's hold on the control.
    void close() {
        if (frame) DestroyWindow(frame);
        frame = host = nullptr;
    }
    IUnknown* control() const {
        using GetControl = HRESULT(WINAPI*)(HWND, IUnknown**);
        auto get = reinterpret_cast<GetControl>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"atl.dll"), "AtlAxGetControl")));
        IUnknown* control = nullptr;
        if (get && host) get(host, &control);
        return control;
    }
};

// The pixels of a 24-bit picture, top row first, as 0xRRGGBB.
inline std::vector<COLORREF> pixelsOf(HDC dc, HBITMAP bitmap, int width, int height) {
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<COLORREF> pixels(static_cast<std::size_t>(width * height));
    GetDIBits(dc, bitmap, 0, static_cast<UINT>(height), pixels.data(), &info, DIB_RGB_COLORS);
    for (COLORREF& pixel : pixels) pixel &= 0xFFFFFF;
    return pixels;
}

}  // namespace windows_tests
