#pragma once
// Reaching the program's widgets the way a user does: by their names in the window layouts,
// with the mouse on buttons and menus.

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QString>
#include <QTest>
#include <QWidget>

namespace program_windows {

// The widget named `name` in `window`; a missing widget ends the test run, since every test
// after it would only fail for the same reason.
template <class Widget>
Widget* child(QWidget* window, const char* name) {
    auto* widget = window->findChild<Widget*>(QString::fromLatin1(name));
    if (!widget) qFatal("no widget named %s", name);
    return widget;
}

// Opens `menuName` in the window's menu bar and clicks its entry `entryName`, as a user would.
// Returns false when the menu did not open.
inline bool clickMenuEntry(QMainWindow* window, const char* menuName, const char* entryName) {
    QMenuBar* bar = window->menuBar();
    auto* menu = child<QMenu>(window, menuName);
    auto* entry = child<QAction>(window, entryName);
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(menu->menuAction()).center());
    if (!QTest::qWaitFor([menu] { return menu->isVisible(); }, 2000)) return false;
    QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(entry).center());
    return true;
}

// Types `text` into the editable box `box` as a person does: clicks into its text field, then
// presses one key per character on the widget that has the keyboard focus. Returns false when the
// click did not give the box the focus (its window is not the active one).
inline bool typeInto(QComboBox* box, const QString& text) {
    QTest::mouseClick(box->lineEdit(), Qt::LeftButton);
    QWidget* focused = QApplication::focusWidget();
    if (focused != box && focused != box->lineEdit()) return false;
    QTest::keyClicks(focused, text);
    return true;
}

}  // namespace program_windows
