// Faults of the line and the interface met by the running program: the device pulled out, an
// interface that stops answering or says it is not ready, the mains failing. Both windows, the
// control created by its ProgID, and the interface simulated on a real pseudo-terminal reached
// through a symbolic link, so that a new interface can come back at the same place.

#include <QComboBox>
#include <QDir>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "LineFaultsTest.h"
#include "ModalBoxes.h"
#include "ProgramWindows.h"
#include "sample/Frmcom.h"
#include "sample/Frmx10.h"
#include "sample/SampleApp.h"
#include "sim/Simulator.h"
#include "tests/support/EventLoopWaits.h"

using program_windows::child;
using quenvar::sample::Frmcom;
using quenvar::sample::Frmx10;
using quenvar::sample::SampleApp;
using ProtocolState = x10sim::InterfaceProtocol::State;

namespace {

constexpr int waitMs = 5000;
// The program waits in its event loop while a fault lasts; more than this share of one core
// over the measuring period means something polls or spins.
constexpr double maxCpuPercent = 20.0;
constexpr std::chrono::milliseconds measuringPeriod{500};

enum class LineFault {
    DeviceGoneWhileIdle,
    DeviceGoneAwaitingEcho,  // the address went out, its echo never came
    InterfaceStopsAnswering,
    NotReadyDuringOn,
    PowerFailureWhileIdle,
};

// What the user must be told (nothing where the program stays quiet).
enum class Notice { None, DeviceLost, NotResponding };

const QByteArray powerFailReply = QByteArray::fromHex("FB") + QByteArray(42, '\0');

// Picks `text` from the combo box's list, as a user choosing an item does.
void chooseItem(QComboBox* box, const QString& text) {
    const int index = box->findText(text);
    if (index < 0) qFatal("no item %s", qPrintable(text));
    box->setCurrentIndex(index);
}

void chooseModule(Frmx10* frmx10, const QString& house, const QString& unit) {
    chooseItem(child<QComboBox>(frmx10, "cbhouse"), house);
    chooseItem(child<QComboBox>(frmx10, "CBunit"), unit);
}

void clickOn(Frmx10* frmx10) { QTest::mouseClick(child<QPushButton>(frmx10, "Command1"), Qt::LeftButton); }

}  // namespace

Q_DECLARE_METATYPE(LineFault)
Q_DECLARE_METATYPE(Notice)

struct LineFaultsTest::Fixture {
    QTemporaryDir folder;
    QString linkPath = QDir(folder.path()).filePath(QStringLiteral("interface"));
    std::unique_ptr<x10sim::Simulator> simulator;
    // Every frame the current interface put on the power line, as text ("A1 address", "A On").
    QStringList frames;
    ModalBoxes boxes;
    SampleApp forms;

    // A new interface at CommPort 1's link; the one there before goes first.
    void startInterface() {
        simulator.reset();
        frames.clear();
        x10sim::SimulatorOptions options;
        options.linkPath = linkPath;
        simulator = std::make_unique<x10sim::Simulator>(options);
        simulator->start();
        QObject::connect(simulator.get(), &x10sim::Simulator::frameSent,
                         [this](const x10sim::Frame& frame) { frames.append(QString::fromStdString(frame.text())); });
    }
};

LineFaultsTest::LineFaultsTest() = default;
LineFaultsTest::~LineFaultsTest() = default;

void LineFaultsTest::init() {
    fixture_ = std::make_unique<Fixture>();
    QVERIFY(fixture_->folder.isValid());
    qputenv("QUENVAR_COMM1", fixture_->linkPath.toLocal8Bit());
    for (int port = 2; port <= 4; ++port) {
        qputenv(qPrintable(QStringLiteral("QUENVAR_COMM%1").arg(port)),
                QStringLiteral("/nonexistent/quenvar-test-comm%1").arg(port).toLocal8Bit());
    }
    fixture_->startInterface();
}

void LineFaultsTest::cleanup() { fixture_.reset(); }

Frmx10* LineFaultsTest::openController() {
    SampleApp& forms = fixture_->forms;
    forms.start();
    Frmcom* frmcom = forms.loadedFrmcom();
    if (!frmcom) return nullptr;
    QTest::mouseClick(child<QPushButton>(frmcom, "Command1"), Qt::LeftButton);
    Frmx10* frmx10 = forms.loadedFrmx10();
    return frmx10 && frmx10->isVisible() && !forms.loadedFrmcom() ? frmx10 : nullptr;
}

bool LineFaultsTest::openPortAgain(Frmx10* frmx10) {
    SampleApp& forms = fixture_->forms;
    if (!program_windows::clickMenuEntry(frmx10, "mnufile", "mnucomport")) return false;
    Frmcom* frmcom = forms.loadedFrmcom();
    if (!frmcom || !frmcom->isVisible() || !child<QRadioButton>(frmcom, "Optcom1_0")->isChecked()) return false;
    QTest::mouseClick(child<QPushButton>(frmcom, "Command1"), Qt::LeftButton);
    return !forms.loadedFrmcom();
}

void LineFaultsTest::programStaysUsable_data() {
    QTest::addColumn<LineFault>("fault");
    QTest::addColumn<Notice>("notice");
    QTest::newRow("device pulled out while idle") << LineFault::DeviceGoneWhileIdle << Notice::DeviceLost;
    QTest::newRow("device pulled out awaiting the echo") << LineFault::DeviceGoneAwaitingEcho << Notice::DeviceLost;
    QTest::newRow("interface stops answering") << LineFault::InterfaceStopsAnswering << Notice::None;
    QTest::newRow("interface not ready during On") << LineFault::NotReadyDuringOn << Notice::NotResponding;
    QTest::newRow("power failure while idle") << LineFault::PowerFailureWhileIdle << Notice::None;
}

void LineFaultsTest::programStaysUsable() {
    QFETCH(LineFault, fault);
    QFETCH(Notice, notice);
    Fixture& fixture = *fixture_;
    Frmx10* frmx10 = openController();
    QVERIFY(frmx10);
    QVERIFY(fixture.boxes.shown().isEmpty());
    chooseModule(frmx10, QStringLiteral("A"), QStringLiteral("01"));
    x10sim::Simulator& interface = *fixture.simulator;

    switch (fault) {
        case LineFault::DeviceGoneWhileIdle: interface.disappear(); break;
        case LineFault::DeviceGoneAwaitingEcho:
            interface.injectFault(x10sim::Fault::NoAnswer);
            clickOn(frmx10);
            QTRY_COMPARE_WITH_TIMEOUT(interface.receivedBytes(), QByteArray::fromHex("0466"), waitMs);
            interface.disappear();
            break;
        case LineFault::InterfaceStopsAnswering:
            interface.injectFault(x10sim::Fault::NoAnswer);
            clickOn(frmx10);
            QTRY_COMPARE_WITH_TIMEOUT(interface.receivedBytes(), QByteArray::fromHex("0466"), waitMs);
            break;
        case LineFault::NotReadyDuringOn:
            interface.injectFault(x10sim::Fault::NotReady);
            clickOn(frmx10);
            break;
        case LineFault::PowerFailureWhileIdle:
            interface.powerFailure();
            QTRY_COMPARE_WITH_TIMEOUT(interface.receivedBytes(), powerFailReply, waitMs);
            break;
    }
    if (notice != Notice::None) QTRY_VERIFY_WITH_TIMEOUT(!fixture.boxes.shown().isEmpty(), waitMs);

    // While the fault lasts the program waits in its event loop.
    const double cpuPercent = quenvar::testing::cpuShareWhileEventsRun(measuringPeriod).percent();
    qInfo("%s: %.1f%% of one core while the fault lasted", QTest::currentDataTag(), cpuPercent);
    QVERIFY2(cpuPercent < maxCpuPercent, qPrintable(QStringLiteral("%1% CPU").arg(cpuPercent, 0, 'f', 1)));

    // Exactly the box the user must see, closed again with its OK button.
    const QVector<ShownBox>& shown = fixture.boxes.shown();
    QCOMPARE(shown.size(), notice == Notice::None ? 0 : 1);
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    if (notice != Notice::None) {
        const ShownBox& box = shown.front();
        QCOMPARE(box.title, QStringLiteral("quenvar"));
        QVERIFY(box.okOnly);
        if (notice == Notice::NotResponding) {
            QCOMPARE(box.text, QStringLiteral("Interface is not responding"));
        } else {
            QVERIFY2(box.text.contains(fixture.linkPath), qPrintable(box.text));
            QVERIFY2(box.text.contains(QStringLiteral("open the port again")), qPrintable(box.text));
        }
    }

    // What each fault leaves on the power line.
    switch (fault) {
        case LineFault::DeviceGoneWhileIdle:
        case LineFault::DeviceGoneAwaitingEcho:
        case LineFault::InterfaceStopsAnswering: QVERIFY(fixture.frames.isEmpty()); break;
        case LineFault::NotReadyDuringOn: QCOMPARE(fixture.frames, QStringList{QStringLiteral("A1 address")}); break;
        case LineFault::PowerFailureWhileIdle:
            // Answered once: the interface asks no more.
            QCOMPARE(interface.receivedBytes(), powerFailReply);
            QVERIFY(interface.protocolState() != ProtocolState::PowerFailRequesting);
            QVERIFY(fixture.frames.isEmpty());
            break;
    }

    const bool deviceLost = notice == Notice::DeviceLost;
    qsizetype boxesBefore = shown.size();
    if (deviceLost) {
        // Until the port is open again a command meets the port check, not a failure.
        clickOn(frmx10);
        QCOMPARE(shown.size(), boxesBefore + 1);
        QCOMPARE(shown.back().text, QStringLiteral("Port must be open before you can call a command"));
        QCOMPARE(shown.back().title, QStringLiteral("Error"));
        ++boxesBefore;
        // The user plugs the interface back in and opens the port again from the menu.
        fixture.startInterface();
        QVERIFY(openPortAgain(frmx10));
    }
    QCOMPARE(fixture.forms.loadedFrmx10(), frmx10);
    QVERIFY(frmx10->isVisible());

    chooseModule(frmx10, QStringLiteral("D"), QStringLiteral("04"));
    const qsizetype framesBefore = fixture.frames.size();
    clickOn(frmx10);
    QTRY_VERIFY_WITH_TIMEOUT(fixture.frames.size() > framesBefore && fixture.frames.back() == QStringLiteral("D On"),
                             waitMs);
    QCOMPARE(fixture.frames.at(framesBefore), QStringLiteral("D4 address"));
    QVERIFY(fixture.simulator->module('D', 4).on);
    // The function of an interrupted "On" stays queued and goes out at the next ready byte,
    // ahead of this command's own.
    const bool onInterrupted = fault == LineFault::DeviceGoneAwaitingEcho ||
                               fault == LineFault::InterfaceStopsAnswering || fault == LineFault::NotReadyDuringOn;
    const QStringList expectedAfter =
        onInterrupted ? QStringList{"D4 address", "A On", "D On"} : QStringList{"D4 address", "D On"};
    QCOMPARE(fixture.frames.mid(framesBefore), expectedAfter);
    QCOMPARE(shown.size(), boxesBefore);
    QCOMPARE(fixture.forms.loadedFrmx10(), frmx10);
    QVERIFY(frmx10->isVisible());
}

void LineFaultsTest::exitAfterDeviceLostEndsProgram() {
    Fixture& fixture = *fixture_;
    Frmx10* frmx10 = openController();
    QVERIFY(frmx10);
    QPointer<Frmx10> window = frmx10;
    QSignalSpy ended(&fixture.forms, &SampleApp::lastWindowUnloaded);
    fixture.simulator->disappear();
    QTRY_COMPARE_WITH_TIMEOUT(fixture.boxes.shown().size(), 1, waitMs);

    // Closing a port whose device is gone is no error: "Exit" ends the program quietly.
    QVERIFY(program_windows::clickMenuEntry(frmx10, "mnufile", "mnuexit"));

    QCOMPARE(fixture.forms.loadedFrmx10(), nullptr);
    QCOMPARE(ended.count(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(window.isNull(), waitMs);
    QCOMPARE(fixture.boxes.shown().size(), 1);
}
