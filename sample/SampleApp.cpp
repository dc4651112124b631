#include "sample/SampleApp.h"

#include <QApplication>
#include <QTimer>

#include <memory>
#include <utility>

#include "sample/Frmcom.h"
#include "sample/Frmx10.h"
#include "sample/ProgramTexts.h"

namespace quenvar::sample {

SampleApp::SampleApp() = default;

SampleApp::~SampleApp() {
    delete frmcom_;
    delete frmx10_;
    for (const QPointer<QWidget>& window : disposing_) delete window.data();
}

void SampleApp::start() { showFrmcom(); }

void SampleApp::configureApplication() {
    QApplication::setApplicationName(QString::fromLatin1(programTitle));
    QApplication::setApplicationVersion(QString::fromLatin1(programVersion));
    QApplication::setQuitOnLastWindowClosed(false);
}

Frmcom& SampleApp::frmcom() {
    if (!frmcom_) frmcom_ = new Frmcom(*this);
    return *frmcom_;
}

Frmx10& SampleApp::frmx10() {
    if (!frmx10_) {
        // Loading may fail (the control cannot be created); the half-made window goes at once.
        auto loading = std::make_unique<Frmx10>(*this);
        frmx10_ = loading.release();
    }
    return *frmx10_;
}

void SampleApp::showFrmcom() { bringToFront(frmcom()); }

void SampleApp::showFrmx10() { bringToFront(frmx10()); }

void SampleApp::bringToFront(QWidget& window) {
    window.show();
    window.raise();
    window.activateWindow();
}

void SampleApp::unloadFrmcom() {
    if (!frmcom_) return;
    dispose(std::exchange(frmcom_, nullptr));
    afterUnload();
}

void SampleApp::unloadFrmx10() {
    if (!frmx10_) return;
    dispose(std::exchange(frmx10_, nullptr));
    afterUnload();
}

void SampleApp::dispose(QWidget* window) {
    window->hide();
    window->deleteLater();
    disposing_.removeAll(QPointer<QWidget>());
    disposing_.append(window);
}

void SampleApp::afterUnload() {
    if (!frmcom_ && !frmx10_) {
        emit lastWindowUnloaded();
        return;
    }
    // Judged once the current handler is over: "OK" unloads its own window before it shows the
    // controller window.
    if (screenCheckPending_) return;
    screenCheckPending_ = true;
    QTimer::singleShot(0, this, &SampleApp::unloadIfNothingOnScreen);
}

void SampleApp::unloadIfNothingOnScreen() {
    screenCheckPending_ = false;
    const bool onScreen = (frmcom_ && frmcom_->isVisible()) || (frmx10_ && frmx10_->isVisible());
    if (onScreen || (!frmcom_ && !frmx10_)) return;
    if (frmcom_) dispose(std::exchange(frmcom_, nullptr));
    if (frmx10_) dispose(std::exchange(frmx10_, nullptr));
    emit lastWindowUnloaded();
}

}  // namespace quenvar::sample
