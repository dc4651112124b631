#include "sample/windows/FormWindow.h"

#include <cmath>
#include <stdexcept>

#include "sample/windows/ResourceIds.h"

namespace quenvar::sample::windows {

namespace {

constexpr const wchar_t* formClassName = L"QuenvarsampleForm";
constexpr const wchar_t* classicFaceName = L"MS Sans Serif";

ATOM registerFormClass() {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefWindowProcW;  // each form installs its own procedure at creation
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hIcon = LoadIconW(windowClass.hInstance, MAKEINTRESOURCEW(QUENVARSAMPLE_ICON));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = formClassName;
    const ATOM atom = RegisterClassExW(&windowClass);
    if (!atom) throw std::runtime_error("the program's window class cannot be registered");
    return atom;
}

}  // namespace

RECT toPixels(const Twips& twips) {
    return {twips.left / twipsPerPixel, twips.top / twipsPerPixel, (twips.left + twips.width) / twipsPerPixel,
            (twips.top + twips.height) / twipsPerPixel};
}

FormFont::FormFont(double points) {
    HDC screen = GetDC(nullptr);
    const int pixelsPerInch = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    const int height = -static_cast<int>(std::lround(points * pixelsPerInch / 72.0));
    // FF_SWISS picks a sans-serif face when the classic one is not installed.
    font_ = CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                        CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, VARIABLE_PITCH | FF_SWISS, classicFaceName);
}

FormFont::~FormFont() { DeleteObject(font_); }

FormWindow::~FormWindow() {
    destroy();
    if (windowBackground_) DeleteObject(windowBackground_);
    if (childBackground_) DeleteObject(childBackground_);
}

void FormWindow::create(const wchar_t* caption, const Twips& client, HMENU menu, const FormFont& font) {
    static const ATOM formClass = registerFormClass();
    constexpr DWORD style = WS_OVERLAPPEDWINDOW;
    constexpr DWORD extendedStyle = WS_EX_CONTROLPARENT;
    RECT frame = toPixels(client);
    AdjustWindowRectEx(&frame, style, menu != nullptr, extendedStyle);
    window_ = CreateWindowExW(extendedStyle, reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(formClass)), caption,
                              style, CW_USEDEFAULT, CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top,
                              nullptr, menu, GetModuleHandleW(nullptr), nullptr);
    if (!window_) {
        if (menu) DestroyMenu(menu);
        throw std::runtime_error("the program's window cannot be created");
    }
    SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&FormWindow::windowProcedure));
    SendMessageW(window_, WM_SETFONT, reinterpret_cast<WPARAM>(font.handle()), FALSE);
}

HWND FormWindow::addChild(const ChildWindow& child) {
    const RECT place = toPixels(child.place);
    HWND window =
        CreateWindowExW(0, child.windowClass, child.text, WS_CHILD | WS_VISIBLE | child.style, place.left, place.top,
                        place.right - place.left, place.bottom - place.top, window_,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(child.id)), GetModuleHandleW(nullptr), nullptr);
    if (!window) throw std::runtime_error("a control of the program's window cannot be created");
    if (child.font) SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(child.font->handle()), FALSE);
    return window;
}

void FormWindow::setWindowBackground(COLORREF colour) {
    if (windowBackground_) DeleteObject(windowBackground_);
    windowBackground_ = CreateSolidBrush(colour);
}

void FormWindow::setChildBackground(COLORREF colour) {
    if (childBackground_) DeleteObject(childBackground_);
    childBackground_ = CreateSolidBrush(colour);
    childBackgroundColour_ = colour;
}

void FormWindow::bringToFront() {
    ShowWindow(window_, SW_SHOW);
    SetForegroundWindow(window_);
}

void FormWindow::destroy() {
    if (!window_) return;
    HWND window = window_;
    window_ = nullptr;
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    DestroyWindow(window);
}

LRESULT FormWindow::childColours(HDC dc) {
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkColor(dc, childBackgroundColour_);
    return reinterpret_cast<LRESULT>(childBackground_);
}

LRESULT FormWindow::onMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_ERASEBKGND:
            if (!windowBackground_) break;
            {
                RECT client;
                GetClientRect(window_, &client);
                FillRect(reinterpret_cast<HDC>(wParam), &client, windowBackground_);
            }
            return 1;
        case WM_CTLCOLORSTATIC:
        case WM_CTLCOLORBTN:
            if (childBackground_) return childColours(reinterpret_cast<HDC>(wParam));
            break;
        default: break;
    }
    return DefWindowProcW(window_, message, wParam, lParam);
}

LRESULT CALLBACK FormWindow::windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* form = reinterpret_cast<FormWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!form || form->window_ != window) return DefWindowProcW(window, message, wParam, lParam);
    return form->onMessage(message, wParam, lParam);
}

std::wstring windowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

}  // namespace quenvar::sample::windows
