// quenvarsample as it starts for a person, with one addition: it reports to the benchmark that
// started it when each of its windows first reaches the screen, and plays the user's part in
// between (OK on the port selection window, then "Comport" in the controller window's menu so
// that both windows are open). Then it sits idle like the program does.
//
// Reports are lines on the file descriptor named by QUENVAR_PROBE_REPORT_FD:
//   frmcom <ns>   the port selection window was exposed (CLOCK_MONOTONIC nanoseconds)
//   frmx10 <ns>   the controller window was exposed after OK
//   both <ns>     the port selection window was exposed again beside the controller window
//   failed <why>  the program could not go on

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "sample/Frmcom.h"
#include "sample/Frmx10.h"
#include "sample/SampleApp.h"

namespace {

class Reporter {
public:
    Reporter() {
        if (const char* fd = std::getenv("QUENVAR_PROBE_REPORT_FD")) fd_ = std::atoi(fd);
    }
    void report(const std::string& line) const {
        if (fd_ < 0) return;
        const std::string text = line + "\n";
        [[maybe_unused]] const auto written = ::write(fd_, text.data(), text.size());
    }
    void reportNow(const char* what) const {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        report(std::string(what) + " " + std::to_string(now.tv_sec * 1'000'000'000LL + now.tv_nsec));
    }

private:
    int fd_ = -1;
};

// Watches every window's expose event, and acts as the user once the awaited window is there.
class UserScript : public QObject {
public:
    UserScript(quenvar::sample::SampleApp& forms, const Reporter& reporter) : forms_(forms), reporter_(reporter) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Expose) {
            if (auto* window = qobject_cast<QWindow*>(watched); window && window->isExposed()) exposed(*window);
        }
        return false;
    }

private:
    void exposed(const QWindow& window) {
        const bool isFrmcom = forms_.loadedFrmcom() && forms_.loadedFrmcom()->windowHandle() == &window;
        const bool isFrmx10 = forms_.loadedFrmx10() && forms_.loadedFrmx10()->windowHandle() == &window;
        if (stage_ == 0 && isFrmcom) {
            reporter_.reportNow("frmcom");
            stage_ = 1;
            QTimer::singleShot(0, this, [this] { press<QPushButton>(forms_.loadedFrmcom(), "Command1"); });
        } else if (stage_ == 1 && isFrmx10) {
            reporter_.reportNow("frmx10");
            stage_ = 2;
            QTimer::singleShot(0, this, [this] { press<QAction>(forms_.loadedFrmx10(), "mnucomport"); });
        } else if (stage_ == 2 && isFrmcom) {
            reporter_.reportNow("both");
            stage_ = 3;
        }
    }

    template <class Control>
    void press(QWidget* window, const char* name) {
        Control* control = window ? window->findChild<Control*>(name) : nullptr;
        if (!control) {
            reporter_.report(std::string("failed ") + name + " is not in the window");
            return;
        }
        if constexpr (std::is_same_v<Control, QAction>)
            control->trigger();
        else
            control->click();
    }

    quenvar::sample::SampleApp& forms_;
    const Reporter& reporter_;
    int stage_ = 0;
};

}  // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    quenvar::sample::SampleApp::configureApplication();

    Reporter reporter;
    quenvar::sample::SampleApp forms;
    UserScript script(forms, reporter);
    app.installEventFilter(&script);
    QObject::connect(
        &forms, &quenvar::sample::SampleApp::lastWindowUnloaded, &app,
        [&] {
            reporter.report("failed the program unloaded its last window");
            QApplication::quit();
        },
        Qt::QueuedConnection);
    forms.start();
    return app.exec();
}
