#pragma once
// The user in front of the screen: reads every message box the application shows and presses
// OK after a set delay, keeping what each box said. Works on real modal QMessageBoxes (their
// nested event loop keeps running, so serial notifications arrive while a box is open).
//
// It notices a box from the box's own show event, so no timer polls while nothing is shown.
// Needs a QApplication; link Qt6::Widgets.

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace quenvar::testing {

class MessageBoxReader : public QObject {
public:
    struct Box {
        std::string title;
        std::string prompt;
    };

    MessageBoxReader() { QApplication::instance()->installEventFilter(this); }
    ~MessageBoxReader() override { QApplication::instance()->removeEventFilter(this); }
    MessageBoxReader(const MessageBoxReader&) = delete;
    MessageBoxReader& operator=(const MessageBoxReader&) = delete;

    // How long each box stays open before OK is pressed (0: at the next turn of its loop).
    void setReadingTime(std::chrono::milliseconds time) { readingTime_ = time; }

    // Runs `action` once, from the event loop of the next box while it is open: a test waiting
    // in its own loop sees nothing until the box is closed.
    void whileNextBoxIsOpen(std::function<void()> action) { whileOpen_ = std::move(action); }

    const std::vector<Box>& seen() const { return seen_; }
    int openNow() const { return open_; }

    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* box = qobject_cast<QMessageBox*>(watched);
        // Only the box's own show and hide count, not the window system's echo of them.
        if (box == nullptr || event->spontaneous()) {
            return QObject::eventFilter(watched, event);
        }
        if (event->type() == QEvent::Show) {
            seen_.push_back({box->windowTitle().toStdString(), box->text().toStdString()});
            ++open_;
            if (whileOpen_) {
                QTimer::singleShot(0, box, std::exchange(whileOpen_, nullptr));
            }
            QTimer::singleShot(readingTime_, box, [box] { box->button(QMessageBox::Ok)->click(); });
        } else if (event->type() == QEvent::Hide) {
            --open_;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::chrono::milliseconds readingTime_{0};
    std::vector<Box> seen_;
    int open_ = 0;
    std::function<void()> whileOpen_;
};

}  // namespace quenvar::testing
