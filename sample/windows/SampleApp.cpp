#include "sample/windows/SampleApp.h"

#include <utility>

#include "sample/windows/Frmcom.h"
#include "sample/windows/Frmx10.h"

namespace quenvar::sample::windows {

namespace {
constexpr UINT afterUnloadMessage = WM_APP;
}  // namespace

SampleApp::SampleApp() {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &SampleApp::lifetimeProcedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"QuenvarsampleLifetime";
    RegisterClassExW(&windowClass);
    lifetimeWindow_ = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      windowClass.hInstance, nullptr);
    SetWindowLongPtrW(lifetimeWindow_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

SampleApp::~SampleApp() {
    frmcom_.reset();
    frmx10_.reset();
    disposing_.clear();
    DestroyWindow(lifetimeWindow_);
}

void SampleApp::start() { showFrmcom(); }

Frmcom& SampleApp::frmcom() {
    if (!frmcom_) frmcom_ = std::make_unique<Frmcom>(*this);
    return *frmcom_;
}

Frmx10& SampleApp::frmx10() {
    // Loading may fail (the control cannot be created); the half-made window goes at once.
    if (!frmx10_) frmx10_ = std::make_unique<Frmx10>(*this);
    return *frmx10_;
}

void SampleApp::showFrmcom() { frmcom().bringToFront(); }

void SampleApp::showFrmx10() { frmx10().bringToFront(); }

void SampleApp::unloadFrmcom() {
    if (frmcom_) dispose(std::move(frmcom_));
}

void SampleApp::unloadFrmx10() {
    if (frmx10_) dispose(std::move(frmx10_));
}

void SampleApp::dispose(std::unique_ptr<FormWindow> window) {
    window->destroy();
    disposing_.push_back(std::move(window));
    if (!std::exchange(afterUnloadPosted_, true)) PostMessageW(lifetimeWindow_, afterUnloadMessage, 0, 0);
}

LRESULT CALLBACK SampleApp::lifetimeProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* app = reinterpret_cast<SampleApp*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message != afterUnloadMessage || !app) return DefWindowProcW(window, message, wParam, lParam);
    app->afterUnload();
    return 0;
}

void SampleApp::afterUnload() {
    afterUnloadPosted_ = false;
    disposing_.clear();
    const bool onScreen = (frmcom_ && frmcom_->isVisible()) || (frmx10_ && frmx10_->isVisible());
    if (onScreen) return;
    frmcom_.reset();
    frmx10_.reset();
    PostQuitMessage(0);
}

HWND SampleApp::formOf(HWND window) const {
    HWND root = window ? GetAncestor(window, GA_ROOT) : nullptr;
    if ((frmcom_ && root == frmcom_->handle()) || (frmx10_ && root == frmx10_->handle())) return root;
    return nullptr;
}

int SampleApp::run() {
    if (!frmcom_ && !frmx10_) return 1;  // start-up failed and said so
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        // Tab, Shift+Tab and the arrow keys move between a window's controls.
        HWND form = formOf(message.hwnd);
        if (!form || !IsDialogMessageW(form, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return static_cast<int>(message.wParam);
}

}  // namespace quenvar::sample::windows
