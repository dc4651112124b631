// Captions, geometry (15 twips a pixel), fonts, colours and tab order of both windows.

#include "WindowLayoutTest.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QSlider>
#include <QTest>

#include <memory>

#include "sample/Frmcom.h"
#include "sample/Frmx10.h"
#include "sample/SampleApp.h"

using quenvar::sample::Frmcom;
using quenvar::sample::Frmx10;
using quenvar::sample::SampleApp;

namespace {

const QColor lightGrey(192, 192, 192);

QRect fromTwips(int left, int top, int width, int height) { return {left / 15, top / 15, width / 15, height / 15}; }

// The names of `names`' widgets in the order Tab visits them, starting at the first.
QStringList focusOrder(QWidget* window, const QStringList& names) {
    QWidget* start = window->findChild<QWidget*>(names.front());
    if (!start) return {};
    QStringList order;
    QWidget* widget = start;
    do {
        if (names.contains(widget->objectName()) && !order.contains(widget->objectName()))
            order << widget->objectName();
        widget = widget->nextInFocusChain();
    } while (widget != start && order.size() < names.size());
    return order;
}

// Widgets that take focus with Tab, in the order Tab visits them, starting at `first`.
QStringList tabStops(QWidget* window, QWidget* first) {
    QStringList order;
    QWidget* widget = first;
    do {
        if (widget->window() == window && widget->isVisibleTo(window) && (widget->focusPolicy() & Qt::TabFocus) &&
            !widget->objectName().isEmpty() && !widget->objectName().startsWith(QLatin1String("qt_")))
            order << widget->objectName();
        widget = widget->nextInFocusChain();
    } while (widget != first);
    return order;
}

void addControlColumns() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("family");
    QTest::addColumn<qreal>("pointSize");  // 0: the window's default font
    QTest::addColumn<bool>("greyBackground");
}

QString captionOf(QWidget* widget) {
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
    if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
    return {};
}

// A pixel of the widget's own background, away from its text and indicator.
QColor backgroundPixel(QWidget* widget) {
    const QImage image = widget->grab().toImage();
    return image.pixelColor(image.width() - 2, image.height() - 2);
}

void checkControl(QWidget* window, QWidget* expectedParent) {
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QRect, geometry);
    QFETCH(QString, family);
    QFETCH(qreal, pointSize);
    QFETCH(bool, greyBackground);
    auto* widget = window->findChild<QWidget*>(name);
    QVERIFY2(widget, qPrintable(name));
    QCOMPARE(widget->parentWidget(), expectedParent);
    QCOMPARE(captionOf(widget), caption);
    QCOMPARE(widget->geometry(), geometry);
    if (pointSize > 0) {
        QCOMPARE(widget->font().family(), family);
        QCOMPARE(widget->font().pointSizeF(), pointSize);
        QCOMPARE(widget->font().styleHint(), QFont::SansSerif);
        QCOMPARE(widget->font().weight(), QFont::Normal);
    } else {
        QCOMPARE(widget->font(), QApplication::font(widget));
    }
    if (greyBackground) {
        QCOMPARE(backgroundPixel(widget), lightGrey);
        QCOMPARE(widget->palette().color(widget->foregroundRole()), QColor(Qt::black));
    }
}

}  // namespace

void WindowLayoutTest::portWindowControls_data() {
    addControlColumns();
    const QString face = QStringLiteral("MS Sans Serif");
    // clang-format off
    QTest::newRow("Optcom1_0") << "Optcom1_0" << "CommPort 1" << fromTwips(1440, 240, 1815, 375) << face << 12.0 << true;
    QTest::newRow("Optcom1_1") << "Optcom1_1" << "CommPort 2" << fromTwips(1440, 840, 1815, 375) << face << 12.0 << true;
    QTest::newRow("Optcom1_2") << "Optcom1_2" << "CommPort 3" << fromTwips(1440, 1440, 1815, 375) << face << 12.0 << true;
    QTest::newRow("Optcom1_3") << "Optcom1_3" << "CommPort 4" << fromTwips(1440, 2040, 1815, 375) << face << 12.0 << true;
    QTest::newRow("Command1") << "Command1" << "OK" << fromTwips(960, 2640, 975, 495) << QString() << 0.0 << false;
    QTest::newRow("Command2") << "Command2" << "Cancel" << fromTwips(2760, 2640, 975, 495) << QString() << 0.0 << false;
    // clang-format on
}

void WindowLayoutTest::portWindowControls() {
    SampleApp forms;
    forms.showFrmcom();
    Frmcom& window = forms.frmcom();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    checkControl(&window, &window);
}

void WindowLayoutTest::portWindowFrame() {
    SampleApp forms;
    forms.showFrmcom();
    Frmcom& window = forms.frmcom();
    QCOMPARE(window.objectName(), QStringLiteral("Frmcom"));
    QCOMPARE(window.windowTitle(), QStringLiteral("Communitcation Port"));
    QCOMPARE(window.size(), QSize(312, 215));
    QVERIFY(window.findChildren<QMenuBar*>().isEmpty());
    // The window keeps the platform's default colours.
    QCOMPARE(window.palette().color(QPalette::Window), QApplication::palette(&window).color(QPalette::Window));
}

void WindowLayoutTest::portWindowTabOrder() {
    SampleApp forms;
    forms.showFrmcom();
    Frmcom& window = forms.frmcom();
    const QStringList expected{"Optcom1_0", "Optcom1_1", "Optcom1_2", "Optcom1_3", "Command1", "Command2"};
    QCOMPARE(focusOrder(&window, expected), expected);
}

void WindowLayoutTest::controllerControls_data() {
    addControlColumns();
    const QString face = QStringLiteral("MS Sans Serif");
    // clang-format off
    QTest::newRow("Label2") << "Label2" << "Housecode" << fromTwips(240, 240, 1335, 375) << face << 12.0 << true;
    QTest::newRow("Label3") << "Label3" << "UnitCode" << fromTwips(2640, 240, 1215, 375) << face << 12.0 << true;
    QTest::newRow("Command1") << "Command1" << "On" << fromTwips(240, 840, 975, 495) << face << 12.0 << false;
    QTest::newRow("Command2") << "Command2" << "Off" << fromTwips(1440, 840, 975, 495) << face << 12.0 << false;
    QTest::newRow("Command3") << "Command3" << "All On" << fromTwips(2640, 840, 975, 495) << face << 12.0 << false;
    QTest::newRow("Command4") << "Command4" << "All Off" << fromTwips(3840, 840, 975, 495) << face << 12.0 << false;
    QTest::newRow("Command5") << "Command5" << "Dim" << fromTwips(360, 1920, 975, 495) << face << 12.0 << false;
    QTest::newRow("Command6") << "Command6" << "Bright" << fromTwips(3840, 1920, 975, 495) << face << 12.0 << false;
    QTest::newRow("Label4") << "Label4" << "Dim Value" << fromTwips(1680, 1560, 1095, 255) << face << 9.75 << true;
    QTest::newRow("Label5") << "Label5" << "100%" << fromTwips(2880, 1560, 495, 255) << face << 9.75 << true;
    QTest::newRow("Slider1") << "Slider1" << "" << fromTwips(1440, 2040, 2295, 255) << face << 12.0 << false;
    QTest::newRow("cbhouse") << "cbhouse" << "" << fromTwips(1680, 240, 735, 420) << face << 12.0 << false;
    QTest::newRow("CBunit") << "CBunit" << "" << fromTwips(3960, 240, 735, 420) << face << 12.0 << false;
    QTest::newRow("quenvar1") << "quenvar1" << "" << fromTwips(1920, 2400, 975, 855) << face << 12.0 << false;
    // clang-format on
}

void WindowLayoutTest::controllerControls() {
    SampleApp forms;
    forms.showFrmx10();
    Frmx10& window = forms.frmx10();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    checkControl(&window, window.centralWidget());
}

void WindowLayoutTest::controllerFrame() {
    SampleApp forms;
    forms.showFrmx10();
    Frmx10& window = forms.frmx10();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.objectName(), QStringLiteral("Frmx10"));
    QCOMPARE(window.windowTitle(), QStringLiteral("X10 Controller"));
    // The client area lies below the menu bar.
    QCOMPARE(window.centralWidget()->size(), QSize(343, 228));
    QCOMPARE(window.centralWidget()->y(), window.menuBar()->height());
    QCOMPARE(window.size(), QSize(343, 228 + window.menuBar()->height()));
    // The window's background, seen through the central area where no control lies.
    const QImage client = window.centralWidget()->grab().toImage();
    QCOMPARE(client.pixelColor(4, 4), lightGrey);
    QCOMPARE(client.pixelColor(client.width() - 4, client.height() - 4), lightGrey);
}

void WindowLayoutTest::controllerTabOrder() {
    SampleApp forms;
    forms.showFrmx10();
    Frmx10& window = forms.frmx10();
    const QStringList expected{"Label2",   "Label3", "Command1", "Command2", "Command3", "Command4", "Command5",
                               "Command6", "Label4", "Label5",   "Slider1",  "cbhouse",  "CBunit",   "quenvar1"};
    QCOMPARE(focusOrder(&window, expected), expected);
    // Tab itself skips the labels and goes button by button, then slider, boxes and control.
    const QStringList stops = tabStops(&window, window.findChild<QWidget*>(QStringLiteral("Command1")));
    QCOMPARE(stops, (QStringList{"Command1", "Command2", "Command3", "Command4", "Command5", "Command6", "Slider1",
                                 "cbhouse", "CBunit", "quenvar1"}));
}

void WindowLayoutTest::controllerMenu() {
    SampleApp forms;
    Frmx10& window = forms.frmx10();
    const QList<QAction*> top = window.menuBar()->actions();
    QCOMPARE(top.size(), 1);
    QCOMPARE(top.front()->text(), QStringLiteral("File"));
    QMenu* file = top.front()->menu();
    QVERIFY(file);
    QCOMPARE(file->objectName(), QStringLiteral("mnufile"));
    const QList<QAction*> entries = file->actions();
    QCOMPARE(entries.size(), 2);
    QCOMPARE(entries[0]->objectName(), QStringLiteral("mnucomport"));
    QCOMPARE(entries[0]->text(), QStringLiteral("Comport"));
    QCOMPARE(entries[1]->objectName(), QStringLiteral("mnuexit"));
    QCOMPARE(entries[1]->text(), QStringLiteral("Exit"));
    for (QAction* action : {top.front(), entries[0], entries[1]}) QVERIFY(action->shortcut().isEmpty());
}

void WindowLayoutTest::houseAndUnitBoxes_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("items");
    QStringList letters;
    QStringList units;
    for (int index = 0; index < 16; ++index) {
        letters << QString(QChar(u'A' + index));
        units << QStringLiteral("%1").arg(index + 1, 2, 10, QLatin1Char('0'));
    }
    QTest::newRow("cbhouse") << "cbhouse" << letters;
    QTest::newRow("CBunit") << "CBunit" << units;
}

void WindowLayoutTest::houseAndUnitBoxes() {
    QFETCH(QString, name);
    QFETCH(QStringList, items);
    SampleApp forms;
    auto* box = forms.frmx10().findChild<QComboBox*>(name);
    QVERIFY(box);
    QVERIFY(box->isEditable());
    QCOMPARE(box->insertPolicy(), QComboBox::NoInsert);
    QStringList stored;
    for (int index = 0; index < box->count(); ++index) {
        stored << box->itemText(index);
        QCOMPARE(box->itemData(index), QVariant());
    }
    QCOMPARE(stored, items);
    // Nothing preselected.
    QCOMPARE(box->currentIndex(), -1);
    QCOMPARE(box->currentText(), QString());
}

void WindowLayoutTest::typedTextIsNotAddedToList() {
    SampleApp forms;
    forms.showFrmx10();
    auto* box = forms.frmx10().findChild<QComboBox*>(QStringLiteral("CBunit"));
    box->setFocus();
    QTest::keyClicks(box, QStringLiteral("7"));
    QTest::keyClick(box, Qt::Key_Return);
    QCOMPARE(box->count(), 16);
    QCOMPARE(box->currentText(), QStringLiteral("7"));
}

void WindowLayoutTest::slider() {
    SampleApp forms;
    auto* slider = forms.frmx10().findChild<QSlider*>(QStringLiteral("Slider1"));
    QVERIFY(slider);
    QCOMPARE(slider->orientation(), Qt::Horizontal);
    QCOMPARE(slider->minimum(), 0);
    QCOMPARE(slider->maximum(), 20);
}

void WindowLayoutTest::controlFillsItsPlace() {
    SampleApp forms;
    forms.showFrmx10();
    quenvar::ui::ControlSite& site = forms.frmx10().quenvar1();
    QVERIFY(!site.isNull());
    QCOMPARE(site.control(), QStringLiteral("Zelvo.quenvar"));
    QCOMPARE(site.size(), QSize(65, 57));
    QVERIFY(site.isVisible());
    const QList<QWidget*> faces = site.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    QCOMPARE(faces.size(), 1);
    QCOMPARE(faces.front()->geometry(), QRect(QPoint(0, 0), site.size()));
    QVERIFY(faces.front()->isVisible());
}
