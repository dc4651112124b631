#pragma once
// Closes the program's modal message boxes as they come up, and keeps what each one said.
//
// A modal box runs its own event loop; the timer keeps firing inside it, finds the box as the
// application's active modal widget, records it and presses OK.

#include <QApplication>
#include <QMessageBox>
#include <QObject>
#include <QPushButton>
#include <QString>
#include <QTimer>
#include <QVector>

struct ShownBox {
    QString title;
    QString text;
    bool applicationModal = false;
    bool okOnly = false;
};

class ModalBoxes : public QObject {
public:
    ModalBoxes() {
        timer_.setInterval(10);
        connect(&timer_, &QTimer::timeout, this, &ModalBoxes::closeActiveBox);
        timer_.start();
    }

    const QVector<ShownBox>& shown() const { return shown_; }
    void forget() { shown_.clear(); }

private:
    void closeActiveBox() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) return;
        const QList<QAbstractButton*> buttons = box->buttons();
        shown_.append({box->windowTitle(), box->text(), box->windowModality() == Qt::ApplicationModal,
                       buttons.size() == 1 && box->standardButton(buttons.front()) == QMessageBox::Ok});
        box->button(QMessageBox::Ok) ? box->button(QMessageBox::Ok)->click() : box->reject();
    }

    QTimer timer_;
    QVector<ShownBox> shown_;
};
