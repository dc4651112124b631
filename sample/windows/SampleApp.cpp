#include "sample/windows/SampleApp.h"

#include <utility>

#include "sample/windows/Frmcom.h"
#include "sample/windows/Frmx10.h"

namespace quenvar::sample::windows {

SampleApp::SampleApp() = default;
SampleApp::~SampleApp() = default;

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
    unloaded_ = true;
}

void SampleApp::afterMessage() {
    disposing_.clear();
    if (!std::exchange(unloaded_, false)) return;
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
        afterMessage();
    }
    return static_cast<int>(message.wParam);
}

}  // namespace quenvar::sample::windows
