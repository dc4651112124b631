#include "platform/ui/QtMessageBoxes.h"

#include <QMessageBox>

namespace quenvar::ui {

void QtMessageBoxes::showMessage(const std::string& prompt, const std::string& title) {
    // While the box is open its event loop runs the host's code, which may close the parent window
    // for good: the box then goes with its parent and must not be deleted a second time.
    const QPointer<QMessageBox> box = new QMessageBox(QMessageBox::NoIcon, QString::fromLatin1(title),
                                                      QString::fromLatin1(prompt), QMessageBox::Ok, parent_.data());
    box->setWindowModality(Qt::ApplicationModal);
    box->setObjectName(QStringLiteral("quenvarMessageBox"));
    box->exec();
    delete box.data();
}

}  // namespace quenvar::ui
