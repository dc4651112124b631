// The program as a user meets it: both windows, the control created by its ProgID from the
// registry, and a simulated power-line interface on a real pseudo-terminal.

#include <QAction>
#include <QButtonGroup>
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTest>

#include <memory>

#include "ModalBoxes.h"
#include "ProgramFlowTest.h"
#include "ProgramWindows.h"
#include "platform/automation/Dispatch.h"
#include "sample/Frmcom.h"
#include "sample/Frmx10.h"
#include "sample/MemberIds.h"
#include "sample/SampleApp.h"
#include "sim/Simulator.h"
#include "tests/support/OpenDescriptors.h"

using program_windows::child;
using quenvar::automation::ObjectRef;
using quenvar::automation::Variant;
using quenvar::sample::Frmcom;
using quenvar::sample::Frmx10;
using quenvar::sample::SampleApp;
using quenvar::testing::openDescriptorsOf;

namespace {

constexpr int waitMs = 5000;

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray result;
    for (int value : values) result.append(static_cast<char>(value));
    return result;
}

QString missingDevice(int port) { return QStringLiteral("/nonexistent/quenvar-test-comm%1").arg(port); }

}  // namespace

struct ProgramFlowTest::Fixture {
    x10sim::Simulator simulator;
    ModalBoxes boxes;
    SampleApp forms;
    int simulatorHandles = 0;

    // What was true each time the controller window was shown or hidden.
    struct Moment {
        QEvent::Type type;
        bool frmcomLoaded;
        bool portOpen;
    };
    QVector<Moment> controllerMoments;
};

// Records the controller window's show and hide moments (the window is created inside the
// handlers under test, so the filter watches the whole application).
class ControllerWatch : public QObject {
public:
    explicit ControllerWatch(ProgramFlowTest::Fixture& fixture) : fixture_(fixture) {}
    bool eventFilter(QObject* watched, QEvent* event) override {
        if ((event->type() == QEvent::Show || event->type() == QEvent::Hide) && qobject_cast<Frmx10*>(watched)) {
            fixture_.controllerMoments.append(
                {event->type(), fixture_.forms.loadedFrmcom() != nullptr,
                 openDescriptorsOf(fixture_.simulator.devicePath()) > fixture_.simulatorHandles});
        }
        return false;
    }

private:
    ProgramFlowTest::Fixture& fixture_;
};

ProgramFlowTest::ProgramFlowTest() = default;
ProgramFlowTest::~ProgramFlowTest() = default;

void ProgramFlowTest::init() {
    for (int port = 1; port <= 4; ++port)
        qputenv(qPrintable(QStringLiteral("QUENVAR_COMM%1").arg(port)), missingDevice(port).toLocal8Bit());
    fixture_ = std::make_unique<Fixture>();
    fixture_->simulator.start();
    fixture_->simulatorHandles = openDescriptorsOf(fixture_->simulator.devicePath());
    watch_ = std::make_unique<ControllerWatch>(*fixture_);
    qApp->installEventFilter(watch_.get());
}

void ProgramFlowTest::cleanup() {
    qApp->removeEventFilter(watch_.get());
    watch_.reset();
    fixture_.reset();
}

void ProgramFlowTest::usePort(int port) {
    qputenv(qPrintable(QStringLiteral("QUENVAR_COMM%1").arg(port)), fixture_->simulator.devicePath().toLocal8Bit());
}

bool ProgramFlowTest::portOpen() const {
    return openDescriptorsOf(fixture_->simulator.devicePath()) > fixture_->simulatorHandles;
}

Frmx10* ProgramFlowTest::openControllerOnPort(int port) {
    usePort(port);
    SampleApp& forms = fixture_->forms;
    forms.start();
    Frmcom* frmcom = forms.loadedFrmcom();
    child<QRadioButton>(frmcom, qPrintable(QStringLiteral("Optcom1_%1").arg(port - 1)))->setChecked(true);
    QTest::mouseClick(child<QPushButton>(frmcom, "Command1"), Qt::LeftButton);
    Frmx10* frmx10 = forms.loadedFrmx10();
    if (!frmx10 || !frmx10->isVisible() || !portOpen()) return nullptr;
    return frmx10;
}

void ProgramFlowTest::freshPortWindowSelectsFirstPort() {
    SampleApp& forms = fixture_->forms;
    forms.start();
    Frmcom* frmcom = forms.loadedFrmcom();
    QVERIFY(frmcom);
    QVERIFY(frmcom->isVisible());
    QCOMPARE(forms.loadedFrmx10(), nullptr);
    QCOMPARE(frmcom->selectedPort(), 1);
    QVERIFY(child<QRadioButton>(frmcom, "Optcom1_0")->isChecked());
    for (const char* other : {"Optcom1_1", "Optcom1_2", "Optcom1_3"})
        QVERIFY(!child<QRadioButton>(frmcom, other)->isChecked());
    // The group numbers its buttons by index.
    auto* group = frmcom->findChild<QButtonGroup*>(QStringLiteral("Optcom1"));
    QVERIFY(group);
    QCOMPARE(group->checkedId(), 0);
    QCOMPARE(group->id(child<QRadioButton>(frmcom, "Optcom1_3")), 3);
}

void ProgramFlowTest::okOpensFirstPortAtOnce() {
    usePort(1);
    SampleApp& forms = fixture_->forms;
    forms.start();
    QTest::mouseClick(child<QPushButton>(forms.loadedFrmcom(), "Command1"), Qt::LeftButton);
    QVERIFY(forms.loadedFrmx10());
    QVERIFY(portOpen());
    QVERIFY(fixture_->boxes.shown().isEmpty());
}

void ProgramFlowTest::okOpensChosenPortThenShowsController() {
    Frmx10* frmx10 = openControllerOnPort(3);
    QVERIFY(frmx10);
    SampleApp& forms = fixture_->forms;
    QCOMPARE(forms.loadedFrmcom(), nullptr);
    QVERIFY(fixture_->boxes.shown().isEmpty());
    // Shown once, after the port was open and the port selection window was gone.
    QCOMPARE(fixture_->controllerMoments.size(), 1);
    QCOMPARE(fixture_->controllerMoments[0].type, QEvent::Show);
    QVERIFY(!fixture_->controllerMoments[0].frmcomLoaded);
    QVERIFY(fixture_->controllerMoments[0].portOpen);
    // Once the handler is over the controller window stays: it is on screen.
    QCoreApplication::processEvents();
    QCOMPARE(forms.loadedFrmx10(), frmx10);
    QCOMPARE(fixture_->controllerMoments.size(), 1);
    // The port really is the simulator's: a command reaches it.
    child<QComboBox>(frmx10, "cbhouse")->setEditText(QStringLiteral("B"));
    QTest::mouseClick(child<QPushButton>(frmx10, "Command3"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(fixture_->simulator.frames().size(), std::size_t{1}, waitMs);
    QCOMPARE(QString::fromStdString(fixture_->simulator.frames().front().text()), QStringLiteral("B All Lights On"));
}

void ProgramFlowTest::okWithoutSelectionAsksForPort() {
    SampleApp& forms = fixture_->forms;
    forms.start();
    Frmcom* frmcom = forms.loadedFrmcom();
    auto* group = frmcom->findChild<QButtonGroup*>(QStringLiteral("Optcom1"));
    group->setExclusive(false);
    child<QRadioButton>(frmcom, "Optcom1_0")->setChecked(false);
    group->setExclusive(true);
    QCOMPARE(frmcom->selectedPort(), 0);

    QTest::mouseClick(child<QPushButton>(frmcom, "Command1"), Qt::LeftButton);

    QCOMPARE(fixture_->boxes.shown().size(), 1);
    const ShownBox box = fixture_->boxes.shown().front();
    QCOMPARE(box.text, QStringLiteral("Please choose a RS232 port"));
    QCOMPARE(box.title, QStringLiteral("Error"));
    QVERIFY(box.applicationModal);
    QVERIFY(box.okOnly);
    QCOMPARE(forms.loadedFrmcom(), frmcom);
    QVERIFY(frmcom->isVisible());
    QCOMPARE(frmcom->selectedPort(), 0);
    QCOMPARE(forms.loadedFrmx10(), nullptr);
}

void ProgramFlowTest::failingOpenKeepsPortWindow() {
    // Port 2 names a device that does not exist.
    SampleApp& forms = fixture_->forms;
    forms.start();
    Frmcom* frmcom = forms.loadedFrmcom();
    child<QRadioButton>(frmcom, "Optcom1_1")->setChecked(true);
    QSignalSpy ended(&forms, &SampleApp::lastWindowUnloaded);

    QTest::mouseClick(child<QPushButton>(frmcom, "Command1"), Qt::LeftButton);

    QCOMPARE(fixture_->boxes.shown().size(), 1);
    const ShownBox box = fixture_->boxes.shown().front();
    QCOMPARE(box.title, QStringLiteral("quenvarsample"));
    QVERIFY2(box.text.startsWith(QStringLiteral("Run-time error '")), qPrintable(box.text));
    QVERIFY2(box.text.contains(QStringLiteral("':\n\n")), qPrintable(box.text));
    QVERIFY2(box.text.contains(missingDevice(2)), qPrintable(box.text));
    QVERIFY(box.applicationModal);
    // The handler ended at openx10: the port window stays, the controller window (loaded by
    // the reference to its control) is not shown.
    QCOMPARE(forms.loadedFrmcom(), frmcom);
    QVERIFY(frmcom->isVisible());
    QCOMPARE(frmcom->selectedPort(), 2);
    QVERIFY(forms.loadedFrmx10());
    QVERIFY(!forms.loadedFrmx10()->isVisible());
    QCOMPARE(ended.count(), 0);

    // The user may choose another port and go on with the same controller window.
    usePort(4);
    Frmx10* loaded = forms.loadedFrmx10();
    child<QRadioButton>(frmcom, "Optcom1_3")->setChecked(true);
    QTest::mouseClick(child<QPushButton>(frmcom, "Command1"), Qt::LeftButton);
    QCOMPARE(forms.loadedFrmx10(), loaded);
    QVERIFY(loaded->isVisible());
    QVERIFY(portOpen());
}

void ProgramFlowTest::cancelAndReopenStartAtFirstPort() {
    Frmx10* frmx10 = openControllerOnPort(1);
    QVERIFY(frmx10);
    SampleApp& forms = fixture_->forms;
    QAction* comport = frmx10->findChild<QAction*>(QStringLiteral("mnucomport"));
    QVERIFY(comport);

    comport->trigger();
    QPointer<Frmcom> first = forms.loadedFrmcom();
    QVERIFY(first);
    QVERIFY(first->isVisible());
    QCOMPARE(first->selectedPort(), 1);
    child<QRadioButton>(first, "Optcom1_3")->setChecked(true);

    // A window already open is only brought to the front, its choice kept.
    comport->trigger();
    QCOMPARE(forms.loadedFrmcom(), first.data());
    QCOMPARE(first->selectedPort(), 4);

    QTest::mouseClick(child<QPushButton>(first, "Command2"), Qt::LeftButton);
    QCOMPARE(forms.loadedFrmcom(), nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(first.isNull(), waitMs);
    // Cancel left the controller window and its port as they were.
    QCOMPARE(forms.loadedFrmx10(), frmx10);
    QVERIFY(frmx10->isVisible());
    QVERIFY(portOpen());

    comport->trigger();
    QVERIFY(forms.loadedFrmcom());
    QCOMPARE(forms.loadedFrmcom()->selectedPort(), 1);
}

void ProgramFlowTest::okAgainReopensOnSameControl() {
    Frmx10* frmx10 = openControllerOnPort(1);
    QVERIFY(frmx10);
    SampleApp& forms = fixture_->forms;
    const ObjectRef control = frmx10->quenvar1().object();
    frmx10->findChild<QAction*>(QStringLiteral("mnucomport"))->trigger();
    QTest::mouseClick(child<QPushButton>(forms.loadedFrmcom(), "Command1"), Qt::LeftButton);
    // openx10 again on the same control, the port not closed first; the serial component
    // keeps a port that is already open as it is.
    QVERIFY(fixture_->boxes.shown().isEmpty());
    QCOMPARE(forms.loadedFrmcom(), nullptr);
    QCOMPARE(forms.loadedFrmx10(), frmx10);
    QCOMPARE(frmx10->quenvar1().object(), control);
    QVERIFY(frmx10->isVisible());
    QCOMPARE(openDescriptorsOf(fixture_->simulator.devicePath()), fixture_->simulatorHandles + 1);
}

void ProgramFlowTest::closingOnlyWindowEndsProgram_data() {
    QTest::addColumn<bool>("closeBox");
    QTest::newRow("Cancel") << false;
    QTest::newRow("close box") << true;
}

void ProgramFlowTest::closingOnlyWindowEndsProgram() {
    QFETCH(bool, closeBox);
    SampleApp& forms = fixture_->forms;
    QSignalSpy ended(&forms, &SampleApp::lastWindowUnloaded);
    forms.start();
    Frmcom* frmcom = forms.loadedFrmcom();
    if (closeBox) {
        QVERIFY(frmcom->close());
    } else {
        QTest::mouseClick(child<QPushButton>(frmcom, "Command2"), Qt::LeftButton);
    }
    QCOMPARE(forms.loadedFrmcom(), nullptr);
    QCOMPARE(ended.count(), 1);
    QVERIFY(!portOpen());
}

void ProgramFlowTest::unitCommandsSendWhatWasTyped_data() {
    QTest::addColumn<QString>("house");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QString>("functionFrame");  // empty: the control refuses the unit with its message
    // Each transmission is followed by the computer's 0x00 once the checksum echo matched.
    QTest::newRow("On A1") << "A"
                           << "01"
                           << "Command1" << bytes({0x04, 0x66, 0x00, 0x06, 0x62, 0x00}) << "A On";
    QTest::newRow("Off P16") << "P"
                             << "16"
                             << "Command2" << bytes({0x04, 0xCC, 0x00, 0x06, 0xC3, 0x00}) << "P Off";
    // A typed lower-case house goes to the control exactly as typed (the list holds "C"); the
    // control accepts it.
    QTest::newRow("On c5") << "c"
                           << "05"
                           << "Command1" << bytes({0x04, 0x21, 0x00, 0x06, 0x22, 0x00}) << "C On";
    // Stored items begin with these texts ("10" with "1", "01" with "0"): nothing may complete them.
    QTest::newRow("On a1") << "a"
                           << "1"
                           << "Command1" << bytes({0x04, 0x66, 0x00, 0x06, 0x62, 0x00}) << "A On";
    QTest::newRow("On a0 refused") << "a"
                                   << "0"
                                   << "Command1" << QByteArray() << QString();
    QTest::newRow("On a7") << "a"
                           << "7"
                           << "Command1" << bytes({0x04, 0x65, 0x00, 0x06, 0x62, 0x00}) << "A On";
    QTest::newRow("Off a16") << "a"
                             << "16"
                             << "Command2" << bytes({0x04, 0x6C, 0x00, 0x06, 0x63, 0x00}) << "A Off";
}

void ProgramFlowTest::unitCommandsSendWhatWasTyped() {
    QFETCH(QString, house);
    QFETCH(QString, unit);
    QFETCH(QString, button);
    QFETCH(QByteArray, received);
    QFETCH(QString, functionFrame);
    Frmx10* frmx10 = openControllerOnPort(1);
    QVERIFY(frmx10);
    QVERIFY(QTest::qWaitForWindowActive(frmx10));
    auto* houseBox = child<QComboBox>(frmx10, "cbhouse");
    auto* unitBox = child<QComboBox>(frmx10, "CBunit");
    QVERIFY(program_windows::typeInto(houseBox, house));
    QVERIFY(program_windows::typeInto(unitBox, unit));

    // The press takes the focus from the unit box before the button acts.
    QTest::mouseClick(child<QPushButton>(frmx10, qPrintable(button)), Qt::LeftButton);

    if (functionFrame.isEmpty()) {
        QCOMPARE(fixture_->boxes.shown().size(), 1);
        QCOMPARE(fixture_->boxes.shown().front().text, QStringLiteral("The Unitcode must be between 1 and 16"));
        QVERIFY(fixture_->simulator.receivedBytes().isEmpty());
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(fixture_->simulator.receivedBytes(), received, waitMs);
        QCOMPARE(fixture_->simulator.frames().size(), std::size_t{2});
        QCOMPARE(QString::fromStdString(fixture_->simulator.frames()[1].text()), functionFrame);
        QVERIFY(fixture_->boxes.shown().isEmpty());
    }
    // The window changed nothing it passed, and the stored items are all still in the lists.
    QCOMPARE(houseBox->currentText(), house);
    QCOMPARE(unitBox->currentText(), unit);
    QCOMPARE(houseBox->count(), 16);
    QCOMPARE(unitBox->count(), 16);
}

void ProgramFlowTest::onSwitchesModuleOn() {
    Frmx10* frmx10 = openControllerOnPort(1);
    QVERIFY(frmx10);
    child<QComboBox>(frmx10, "cbhouse")->setCurrentIndex(0);
    child<QComboBox>(frmx10, "CBunit")->setCurrentIndex(0);
    QTest::mouseClick(child<QPushButton>(frmx10, "Command1"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(fixture_->simulator.module('A', 1).on, waitMs);
    QVERIFY(!fixture_->simulator.module('A', 2).on);
}

void ProgramFlowTest::houseCommandsSendOneFunction_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QByteArray>("received");
    QTest::addColumn<QString>("frame");
    QTest::newRow("All On") << "Command3" << bytes({0x06, 0x61, 0x00}) << "A All Lights On";
    // "All Off" is All Units Off (function 0), not All Lights Off (function 6).
    QTest::newRow("All Off") << "Command4" << bytes({0x06, 0x60, 0x00}) << "A All Units Off";
}

void ProgramFlowTest::houseCommandsSendOneFunction() {
    QFETCH(QString, button);
    QFETCH(QByteArray, received);
    QFETCH(QString, frame);
    Frmx10* frmx10 = openControllerOnPort(1);
    QVERIFY(frmx10);
    child<QComboBox>(frmx10, "cbhouse")->setCurrentIndex(0);
    // No unit is needed: the unit box may stay empty.
    QTest::mouseClick(child<QPushButton>(frmx10, qPrintable(button)), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(fixture_->simulator.receivedBytes(), received, waitMs);
    QCOMPARE(fixture_->simulator.frames().size(), std::size_t{1});
    QCOMPARE(QString::fromStdString(fixture_->simulator.frames().front().text()), frame);
    QVERIFY(fixture_->boxes.shown().isEmpty());
}

void ProgramFlowTest::dimAndBrightPassFivePerStep_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("sliderValue");
    QTest::addColumn<int>("dimHeader");  // 0: the control refuses the percentage
    QTest::newRow("Dim 10 -> 50%") << "Command5" << 10 << 0x5E;
    QTest::newRow("Dim 1 -> 5%") << "Command5" << 1 << 0x06;
    QTest::newRow("Dim 2 -> 10%") << "Command5" << 2 << 0x1E;
    QTest::newRow("Bright 19 -> 95%") << "Command6" << 19 << 0x96;
    QTest::newRow("Bright 7 -> 35%") << "Command6" << 7 << 0x36;
    QTest::newRow("Dim 0 -> 0% refused") << "Command5" << 0 << 0;
    QTest::newRow("Bright 20 -> 100% refused") << "Command6" << 20 << 0;
}

void ProgramFlowTest::dimAndBrightPassFivePerStep() {
    QFETCH(QString, button);
    QFETCH(int, sliderValue);
    QFETCH(int, dimHeader);
    Frmx10* frmx10 = openControllerOnPort(1);
    QVERIFY(frmx10);
    child<QComboBox>(frmx10, "cbhouse")->setCurrentIndex(0);
    child<QComboBox>(frmx10, "CBunit")->setCurrentIndex(0);
    child<QSlider>(frmx10, "Slider1")->setValue(sliderValue);
    const int function = button == QLatin1String("Command5") ? 0x64 : 0x65;

    QTest::mouseClick(child<QPushButton>(frmx10, qPrintable(button)), Qt::LeftButton);

    if (dimHeader != 0) {
        QTRY_COMPARE_WITH_TIMEOUT(fixture_->simulator.receivedBytes(),
                                  bytes({0x04, 0x66, 0x00, dimHeader, function, 0x00}), waitMs);
        QVERIFY(fixture_->boxes.shown().isEmpty());
        return;
    }
    QCOMPARE(fixture_->boxes.shown().size(), 1);
    QCOMPARE(fixture_->boxes.shown().front().text, QStringLiteral("Dim value must between 5 and 95"));
    QCOMPARE(fixture_->boxes.shown().front().title, QStringLiteral("Error"));
    // Nothing went out: the next command's bytes are the first the interface sees.
    QTest::mouseClick(child<QPushButton>(frmx10, "Command3"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(fixture_->simulator.receivedBytes(), bytes({0x06, 0x61, 0x00}), waitMs);
}

void ProgramFlowTest::sliderRewritesPercentageLabel_data() {
    QTest::addColumn<QList<int>>("moves");
    QTest::addColumn<QString>("caption");
    QTest::newRow("not moved yet") << QList<int>{} << "100%";
    QTest::newRow("3") << QList<int>{3} << "15%";
    QTest::newRow("7") << QList<int>{7} << "35%";
    QTest::newRow("20") << QList<int>{20} << "100%";
    QTest::newRow("back to 0") << QList<int>{4, 0} << "0%";
    QTest::newRow("past the end stays at 20") << QList<int>{25} << "100%";
}

void ProgramFlowTest::sliderRewritesPercentageLabel() {
    QFETCH(QList<int>, moves);
    QFETCH(QString, caption);
    Frmx10& frmx10 = fixture_->forms.frmx10();
    auto* slider = child<QSlider>(&frmx10, "Slider1");
    for (int value : moves) slider->setValue(value);
    QCOMPARE(child<QLabel>(&frmx10, "Label5")->text(), caption);
}

void ProgramFlowTest::sliderKeysMoveLabel() {
    Frmx10& frmx10 = fixture_->forms.frmx10();
    fixture_->forms.showFrmx10();
    auto* slider = child<QSlider>(&frmx10, "Slider1");
    slider->setFocus();
    QTest::keyClick(slider, Qt::Key_Right);
    QTest::keyClick(slider, Qt::Key_Right);
    QCOMPARE(slider->value(), 2);
    QCOMPARE(child<QLabel>(&frmx10, "Label5")->text(), QStringLiteral("10%"));
}

void ProgramFlowTest::emptyUnitEndsHandlerWithRuntimeError_data() {
    QTest::addColumn<QString>("button");
    QTest::newRow("On") << "Command1";
    QTest::newRow("Off") << "Command2";
    QTest::newRow("Dim") << "Command5";
    QTest::newRow("Bright") << "Command6";
}

void ProgramFlowTest::emptyUnitEndsHandlerWithRuntimeError() {
    QFETCH(QString, button);
    Frmx10* frmx10 = openControllerOnPort(1);
    QVERIFY(frmx10);
    child<QComboBox>(frmx10, "cbhouse")->setCurrentIndex(0);
    child<QSlider>(frmx10, "Slider1")->setValue(10);

    QTest::mouseClick(child<QPushButton>(frmx10, qPrintable(button)), Qt::LeftButton);

    QCOMPARE(fixture_->boxes.shown().size(), 1);
    const ShownBox box = fixture_->boxes.shown().front();
    QCOMPARE(box.title, QStringLiteral("quenvarsample"));
    QVERIFY2(box.text.startsWith(QStringLiteral("Run-time error '13':\n\n")), qPrintable(box.text));
    QVERIFY(box.applicationModal);
    QVERIFY(box.okOnly);
    // The program goes on as it was.
    QCOMPARE(fixture_->forms.loadedFrmx10(), frmx10);
    QVERIFY(frmx10->isVisible());
    QTest::mouseClick(child<QPushButton>(frmx10, "Command3"), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(fixture_->simulator.receivedBytes(), bytes({0x06, 0x61, 0x00}), waitMs);
}

void ProgramFlowTest::commandsBeforeOpenMeetPortCheck() {
    SampleApp& forms = fixture_->forms;
    forms.showFrmx10();
    Frmx10* frmx10 = forms.loadedFrmx10();
    QVERIFY(frmx10);
    // Both boxes empty: the port check comes first.
    QTest::mouseClick(child<QPushButton>(frmx10, "Command1"), Qt::LeftButton);
    QCOMPARE(fixture_->boxes.shown().size(), 1);
    QCOMPARE(fixture_->boxes.shown().front().text, QStringLiteral("Port must be open before you can call a command"));
    QCOMPARE(fixture_->boxes.shown().front().title, QStringLiteral("Error"));
}

void ProgramFlowTest::exitClosesPortThenUnloads() {
    Frmx10* frmx10 = openControllerOnPort(1);
    QVERIFY(frmx10);
    QPointer<Frmx10> window = frmx10;
    SampleApp& forms = fixture_->forms;
    QSignalSpy ended(&forms, &SampleApp::lastWindowUnloaded);
    const ObjectRef control = frmx10->quenvar1().object();

    frmx10->findChild<QAction*>(QStringLiteral("mnuexit"))->trigger();

    QCOMPARE(forms.loadedFrmx10(), nullptr);
    QCOMPARE(ended.count(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), waitMs);
    // The port was already closed when the window went away.
    QCOMPARE(fixture_->controllerMoments.size(), 2);
    QCOMPARE(fixture_->controllerMoments[1].type, QEvent::Hide);
    QVERIFY(!fixture_->controllerMoments[1].portOpen);
    // The control itself (still held here) was told to close: its port check now fails.
    QVERIFY(!portOpen());
    control->call(quenvar::sample::member::lightson, {Variant::fromText("A")});
    QCOMPARE(fixture_->boxes.shown().size(), 1);
    QCOMPARE(fixture_->boxes.shown().front().text, QStringLiteral("Port must be open before you can call a command"));
}

void ProgramFlowTest::closeBoxUnloadsWithoutClosingPort() {
    Frmx10* frmx10 = openControllerOnPort(1);
    QVERIFY(frmx10);
    QPointer<Frmx10> window = frmx10;
    SampleApp& forms = fixture_->forms;
    QSignalSpy ended(&forms, &SampleApp::lastWindowUnloaded);
    const ObjectRef control = frmx10->quenvar1().object();

    QVERIFY(frmx10->close());

    QCOMPARE(forms.loadedFrmx10(), nullptr);
    QCOMPARE(ended.count(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), waitMs);
    QVERIFY(fixture_->controllerMoments.back().portOpen);
    // closex10 was never called: the control held here still sends.
    QVERIFY(portOpen());
    control->call(quenvar::sample::member::lightson, {Variant::fromText("A")});
    QTRY_COMPARE_WITH_TIMEOUT(fixture_->simulator.receivedBytes(), bytes({0x06, 0x61, 0x00}), waitMs);
    QVERIFY(fixture_->boxes.shown().isEmpty());
}

void ProgramFlowTest::exitWithPortWindowOpenKeepsRunning() {
    Frmx10* frmx10 = openControllerOnPort(1);
    QVERIFY(frmx10);
    SampleApp& forms = fixture_->forms;
    QSignalSpy ended(&forms, &SampleApp::lastWindowUnloaded);
    frmx10->findChild<QAction*>(QStringLiteral("mnucomport"))->trigger();
    Frmcom* frmcom = forms.loadedFrmcom();
    QVERIFY(frmcom);

    frmx10->findChild<QAction*>(QStringLiteral("mnuexit"))->trigger();

    QCOMPARE(forms.loadedFrmx10(), nullptr);
    QCOMPARE(forms.loadedFrmcom(), frmcom);
    QVERIFY(frmcom->isVisible());
    QCOMPARE(ended.count(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!portOpen(), waitMs);

    // "OK" now makes a new controller window with a new control.
    QTest::mouseClick(child<QPushButton>(frmcom, "Command1"), Qt::LeftButton);
    QVERIFY(forms.loadedFrmx10());
    QVERIFY(forms.loadedFrmx10()->isVisible());
    QVERIFY(portOpen());
    QCOMPARE(ended.count(), 0);
}

void ProgramFlowTest::hiddenWindowDoesNotOutliveLastOnScreen() {
    SampleApp& forms = fixture_->forms;
    QSignalSpy ended(&forms, &SampleApp::lastWindowUnloaded);
    forms.start();
    QPointer<Frmx10> hidden = &forms.frmx10();  // a reference loads it without showing it
    QVERIFY(!hidden->isVisible());
    QCOMPARE(ended.count(), 0);

    QTest::mouseClick(child<QPushButton>(forms.loadedFrmcom(), "Command2"), Qt::LeftButton);

    // Nothing is left on screen, so the hidden window goes too and the program ends.
    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, waitMs);
    QCOMPARE(forms.loadedFrmx10(), nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(hidden.isNull(), waitMs);
}

void ProgramFlowTest::failedOpenThenCancelEndsProgram() {
    SampleApp& forms = fixture_->forms;
    QSignalSpy ended(&forms, &SampleApp::lastWindowUnloaded);
    forms.start();
    Frmcom* frmcom = forms.loadedFrmcom();
    child<QRadioButton>(frmcom, "Optcom1_1")->setChecked(true);  // a missing device
    QTest::mouseClick(child<QPushButton>(frmcom, "Command1"), Qt::LeftButton);
    QCOMPARE(fixture_->boxes.shown().size(), 1);
    QVERIFY(forms.loadedFrmx10());

    QTest::mouseClick(child<QPushButton>(frmcom, "Command2"), Qt::LeftButton);

    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, waitMs);
    QCOMPARE(forms.loadedFrmcom(), nullptr);
    QCOMPARE(forms.loadedFrmx10(), nullptr);
}
