#include "platform/ui/QtMessageBoxes.h"

#include <QMessageBox>

namespace quenvar::ui {

void QtMessageBoxes::showMessage(const std::string& prompt, const std::string& title) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(title), QString::fromLatin1(prompt),
                    QMessageBox::Ok, parent_.data());
    box.setWindowModality(Qt::ApplicationModal);
    box.setObjectName(QStringLiteral("quenvarMessageBox"));
    box.exec();
}

}  // namespace quenvar::ui
