#include "sample/HandlerEdge.h"

#include <cstdint>

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include "platform/automation/Dispatch.h"

namespace quenvar::sample {

namespace {

QString errorNumberText(std::int32_t number) {
    QString text = QString::number(number);
    if (number < 0) {
        text += QStringLiteral(" (%1)").arg(static_cast<std::uint32_t>(number), 8, 16, QLatin1Char('0')).toUpper();
    }
    return text;
}

}  // namespace

QString runtimeErrorText(const automation::RuntimeError& error) {
    // Descriptions are texts of the single-byte code page, like every text of the runtime.
    return QStringLiteral("Run-time error '%1':\n\n%2")
        .arg(errorNumberText(error.number()), QString::fromLatin1(error.description()));
}

void showRuntimeError(QWidget* window, const automation::RuntimeError& error) {
    QPointer<QWidget> parent = (window && window->isVisible()) ? window : nullptr;
    QMessageBox box(QMessageBox::Critical, QString::fromLatin1(programTitle), runtimeErrorText(error),
                    QMessageBox::Ok, parent.data());
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
