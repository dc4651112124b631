#include "platform/ui/QtMessageBoxes.h"

#include <QApplication>
#include <QLoggingCategory>
#include <QMessageBox>

#include "platform/automation/MessageSink.h"

namespace quenvar::ui {

namespace {
Q_LOGGING_CATEGORY(boxLog, "quenvar.messages")
}

void QtMessageBoxes::showMessage(const std::string& prompt, const std::string& title) {
    if (automation::deliverMessage(prompt, title)) return;
    // A box needs a GUI application; without one, opening it would abort the whole process.
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        qCWarning(boxLog).noquote() << QString::fromLatin1(title.empty() ? std::string("(no title)") : title) + ":"
                                    << QString::fromLatin1(prompt);
        return;
    }
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
