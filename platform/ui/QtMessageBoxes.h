#pragma once
// Message boxes on screen: a modal QMessageBox with the prompt, the title and an OK button
// only, no icon. Runs a nested event loop, so serial notifications keep arriving meanwhile.
//
// In a process without windows no box is opened and nothing waits: when the host installed a
// message sink (automation/MessageSink.h) the message goes there; otherwise, when the process
// has no QApplication (a QCoreApplication, or none at all), it becomes a warning in the log,
// title and text.

#include <QPointer>
#include <QWidget>

#include "platform/ui/MessageBoxes.h"

namespace quenvar::ui {

class QtMessageBoxes : public MessageBoxes {
public:
    // Boxes are centred on `parent` (when it is still alive) and modal to the application.
    explicit QtMessageBoxes(QWidget* parent = nullptr) : parent_(parent) {}
    void setParent(QWidget* parent) { parent_ = parent; }

    void showMessage(const std::string& prompt, const std::string& title) override;

private:
    QPointer<QWidget> parent_;
};

}  // namespace quenvar::ui
