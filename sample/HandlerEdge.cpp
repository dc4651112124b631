#include "sample/HandlerEdge.h"

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include "platform/automation/Dispatch.h"

namespace quenvar::sample {

QString runtimeErrorText(const automation::RuntimeError& error) {
    // Descriptions are texts of the single-byte code page, like every text of the runtime.
    return QString::fromLatin1(runtimeErrorHeading(error.number())) + QStringLiteral("\n\n") +
           QString::fromLatin1(error.description());
}

void showRuntimeError(QWidget* window, const automation::RuntimeError& error) {
    QPointer<QWidget> parent = (window && window->isVisible()) ? window : nullptr;
    QMessageBox box(QMessageBox::Critical, QString::fromLatin1(programTitle), runtimeErrorText(error), QMessageBox::Ok,
                    parent.data());
    box.setWindowModality(Qt::ApplicationModal);
    box.setObjectName(QStringLiteral("runtimeErrorBox"));
    box.exec();
}

namespace handler_detail {

void showUnexpectedFailure(QWidget* window, const std::exception& error) {
    showRuntimeError(window, automation::RuntimeError(automation::error_number::UnexpectedFailure, error.what()));
}

}  // namespace handler_detail

}  // namespace quenvar::sample
