#pragma once
// The program's two windows and their lives.
//
// Each window exists at most once. Asking for a window that is not loaded creates and loads it
// without showing it (its load step runs: the port selection window selects "CommPort 1", the
// controller window creates its control). Unloading a window destroys it; asking again later
// gives a fresh one. When the last loaded window is unloaded, lastWindowUnloaded() is emitted
// (main ends the program on it).
//
// A hidden but loaded window keeps the program running while another window is on screen.
// Once the handler that unloaded a window has finished, if no loaded window is on screen any
// more, the hidden ones are unloaded too: otherwise the program would go on running with
// nothing the user could close (the controller window is loaded hidden by a failed "OK").

#include <QList>
#include <QObject>
#include <QPointer>
#include <QWidget>

namespace quenvar::sample {

class Frmcom;
class Frmx10;

class SampleApp : public QObject {
    Q_OBJECT
public:
    SampleApp();
    ~SampleApp() override;
    SampleApp(const SampleApp&) = delete;
    SampleApp& operator=(const SampleApp&) = delete;

    // Start-up: the port selection window comes first.
    void start();
    // The application's name, version and lifetime rule (it runs while one of its windows is
    // loaded, shown or not); called once the QApplication exists.
    static void configureApplication();

    // The loaded window, loading it (hidden) first when needed. Loading the controller window
    // creates its control and raises automation::RuntimeError when that fails; the window is
    // then not loaded.
    Frmcom& frmcom();
    Frmx10& frmx10();

    // The loaded window, or nullptr; never loads one.
    Frmcom* loadedFrmcom() const { return frmcom_; }
    Frmx10* loadedFrmx10() const { return frmx10_; }

    // Shows the window modeless, loading it first when needed; a window already on screen is
    // brought to the front as it is.
    void showFrmcom();
    void showFrmx10();

    // Hides and destroys the window (nothing happens when it is not loaded).
    void unloadFrmcom();
    void unloadFrmx10();

signals:
    void lastWindowUnloaded();

private:
    static void bringToFront(QWidget& window);
    // Hides now; the window object goes once the event loop is back, because unloading
    // normally happens inside one of the window's own handlers.
    void dispose(QWidget* window);
    void afterUnload();
    void unloadIfNothingOnScreen();

    Frmcom* frmcom_ = nullptr;
    Frmx10* frmx10_ = nullptr;
    QList<QPointer<QWidget>> disposing_;
    bool screenCheckPending_ = false;
};

}  // namespace quenvar::sample
