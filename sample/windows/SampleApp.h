#pragma once
// The program's two windows and their lives, and its message loop.
//
// Each window exists at most once. Asking for a window that is not loaded creates and loads it
// without showing it (the port selection window selects "CommPort 1", the controller window
// creates its control). Unloading a window destroys it; asking again later gives a fresh one.
// The program ends when the last loaded window is unloaded.
//
// A hidden but loaded window keeps the program running while another window is on screen.
// Once the handler that unloaded a window has finished, if no loaded window is on screen any
// more, the hidden ones are unloaded too: otherwise the program would go on running with
// nothing the user could close (the controller window is loaded hidden by a failed "OK").

#include <windows.h>

#include <memory>
#include <vector>

namespace quenvar::sample::windows {

class FormWindow;
class Frmcom;
class Frmx10;

class SampleApp {
public:
    SampleApp();
    ~SampleApp();
    SampleApp(const SampleApp&) = delete;
    SampleApp& operator=(const SampleApp&) = delete;

    // Start-up: the port selection window comes first.
    void start();
    // Runs the message loop until the last window is unloaded; returns the program's exit code.
    int run();

    // The loaded window, loading it (hidden) first when needed. Loading the controller window
    // creates its control and raises automation::RuntimeError when that fails; the window is
    // then not loaded.
    Frmcom& frmcom();
    Frmx10& frmx10();

    // Shows the window modeless, loading it first when needed; a window already on screen is
    // brought to the front as it is.
    void showFrmcom();
    void showFrmx10();

    // Destroys the window (nothing happens when it is not loaded).
    void unloadFrmcom();
    void unloadFrmx10();

private:
    // The window goes now; its object once the handler that unloaded it is over, because
    // unloading normally happens inside one of the window's own handlers.
    void dispose(std::unique_ptr<FormWindow> window);
    // Once that handler is over: lets unloaded windows go, unloads hidden ones when nothing is
    // on screen, and ends the program with its last window.
    void afterUnload();
    HWND formOf(HWND window) const;
    static LRESULT CALLBACK lifetimeProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    std::unique_ptr<Frmcom> frmcom_;
    std::unique_ptr<Frmx10> frmx10_;
    std::vector<std::unique_ptr<FormWindow>> disposing_;
    // A message-only window: a message posted to it is handled once the current handler is over.
    HWND lifetimeWindow_ = nullptr;
    bool afterUnloadPosted_ = false;
};

}  // namespace quenvar::sample::windows
