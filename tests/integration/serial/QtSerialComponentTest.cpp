#include <gtest/gtest.h>

#include <unistd.h>
#include <QEventLoop>
#include <QFile>
#include <QLoggingCategory>
#include <QPointer>
#include <QStringList>
#include <QTemporaryDir>
#include <QtGlobal>
#include <chrono>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/serial/PortMap.h"
#include "platform/serial/QtSerialComponent.h"
#include "tests/support/EventLoopWaits.h"
#include "tests/support/PseudoTerminal.h"
#include "tests/support/RuntimeErrors.h"
#include "tests/support/SerialComponentRecord.h"

namespace quenvar::serial {
namespace {

using namespace std::chrono_literals;
using automation::RuntimeError;
using quenvar::testing::CpuShare;
using quenvar::testing::cpuShareWhileEventsRun;
using quenvar::testing::errorFrom;
using quenvar::testing::processEventsFor;
using quenvar::testing::PseudoTerminal;
using quenvar::testing::waitUntil;
namespace number = automation::error_number;

void mapPort(int port, const std::string& device) {
    qputenv(portVariableName(port).c_str(), QByteArray::fromStdString(device));
}

// Records what the component tells once a case calls listenTo(component).
class QtSerialComponentTest : public ::testing::Test, public quenvar::testing::SerialComponentRecord {
protected:
    void SetUp() override {
        clearVariables();
        mapPort(1, pty.deviceName());
    }
    void TearDown() override { clearVariables(); }
    static void clearVariables() {
        for (int port = FirstPortNumber; port <= LastPortNumber; ++port) qunsetenv(portVariableName(port).c_str());
    }

    PseudoTerminal pty;
    QtSerialComponent component;
};

TEST_F(QtSerialComponentTest, OpensAndClosesTheMappedDevice) {
    EXPECT_EQ(component.commPort(), 1);
    EXPECT_FALSE(component.portOpen());
    component.setPortOpen(true);
    EXPECT_TRUE(component.portOpen());
    EXPECT_EQ(component.openDevice(), pty.deviceName());
    component.setPortOpen(false);
    EXPECT_FALSE(component.portOpen());
    EXPECT_EQ(component.openDevice(), "");
    // Closing released the device: another component can have it now.
    QtSerialComponent other;
    other.setPortOpen(true);
    EXPECT_TRUE(other.portOpen());
}

TEST_F(QtSerialComponentTest, OpeningTheOpenPortAgainLeavesItUntouched) {
    listenTo(component);
    component.setPortOpen(true);
    // Waiting in the device and queued for it: a reopen would flush both away.
    pty.send("k");
    component.setOutput("q");
    component.setPortOpen(true);
    EXPECT_TRUE(component.portOpen());
    EXPECT_EQ(pty.receive(1), "q");
    ASSERT_TRUE(waitUntil([&] { return reads == "k"; })) << reads;
}

TEST_F(QtSerialComponentTest, SelectingAnotherPortAndOpeningSwitchesDevices) {
    PseudoTerminal second;
    mapPort(2, second.deviceName());
    component.setPortOpen(true);
    component.setCommPort(2);
    EXPECT_EQ(component.commPort(), 2);
    EXPECT_EQ(component.openDevice(), pty.deviceName()) << "selecting alone must not reopen";
    component.setPortOpen(true);
    EXPECT_EQ(component.openDevice(), second.deviceName());

    component.setOutput("2nd");
    EXPECT_EQ(second.receive(3), "2nd");
    EXPECT_EQ(pty.drain(), "");
    // The first device was closed on the way.
    QtSerialComponent other;
    other.setPortOpen(true);
    EXPECT_TRUE(other.portOpen());
}

TEST_F(QtSerialComponentTest, EveryByteValueGoesOutAsOneByteInWriteOrder) {
    component.setPortOpen(true);
    const std::string bytes = quenvar::testing::allByteValues();
    for (char byte : bytes) component.setOutput(std::string(1, byte));
    component.setOutput(std::string("\x00\xff\x00", 3));
    EXPECT_EQ(pty.receive(bytes.size() + 3), bytes + std::string("\x00\xff\x00", 3));
}

TEST_F(QtSerialComponentTest, BytesQueuedWhenThePortClosesStillGoOut) {
    component.setPortOpen(true);
    const std::string reply = "\xFB" + std::string(42, '\0');
    for (char byte : reply) component.setOutput(std::string(1, byte));
    component.setPortOpen(false);
    EXPECT_EQ(pty.receive(reply.size()), reply);
}

TEST_F(QtSerialComponentTest, SendingOnAClosedPortIsAnErrorAndSendsNothing) {
    const auto neverOpened = errorFrom([&] { component.setOutput("x"); });
    ASSERT_TRUE(neverOpened.has_value());
    EXPECT_EQ(neverOpened->number(), number::PortNotOpen);
    EXPECT_NE(neverOpened->description().find("Operation valid only when the port is open"), std::string::npos);

    component.setPortOpen(true);
    component.setPortOpen(false);
    const auto afterClose = errorFrom([&] { component.setOutput("y"); });
    ASSERT_TRUE(afterClose.has_value());
    EXPECT_EQ(afterClose->number(), number::PortNotOpen);
    processEventsFor(50ms);
    EXPECT_EQ(pty.drain(), "");
}

TEST_F(QtSerialComponentTest, UnknownPortNumberIsRefusedAndTheSelectionKept) {
    component.setCommPort(3);
    for (std::int16_t port : {0, 17, -1}) {
        SCOPED_TRACE(port);
        const auto error = errorFrom([&] { component.setCommPort(port); });
        ASSERT_TRUE(error.has_value());
        EXPECT_EQ(error->number(), number::InvalidPortNumber);
        EXPECT_EQ(component.commPort(), 3);
    }
}

TEST_F(QtSerialComponentTest, OneNotificationAndOneCharacterPerReceivedByte) {
    listenTo(component);
    component.setPortOpen(true);
    pty.send(std::string("\x6A\x00\x55", 3));
    ASSERT_TRUE(waitUntil([&] { return reads.size() == 3; })) << reads.size();
    processEventsFor(100ms);
    EXPECT_EQ(reads, std::string("\x6A\x00\x55", 3));
    EXPECT_EQ(events, (std::vector<std::int16_t>{comm_event::Receive, comm_event::Receive, comm_event::Receive}));
    EXPECT_EQ(component.input(), "") << "nothing left once every byte was read";
    EXPECT_TRUE(errors.empty());
}

TEST_F(QtSerialComponentTest, AHandlerThatReadsNothingIsNotCalledAgainUntilMoreArrives) {
    int notifications = 0;
    component.setOnComm([&] { ++notifications; });
    component.setPortOpen(true);
    pty.send("A");
    ASSERT_TRUE(waitUntil([&] { return notifications >= 1; }));
    processEventsFor(200ms);
    EXPECT_EQ(notifications, 1);
    EXPECT_EQ(component.bytesWaiting(), 1u);

    pty.send("B");
    ASSERT_TRUE(waitUntil([&] { return notifications >= 2; }));
    processEventsFor(100ms);
    EXPECT_EQ(notifications, 2);
    // Nothing was dropped while nobody read.
    EXPECT_EQ(component.input(), "A");
    EXPECT_EQ(component.input(), "B");
    EXPECT_EQ(component.input(), "");
}

TEST_F(QtSerialComponentTest, NotificationsNeverRunInsideAMemberCall) {
    bool insideMemberCall = false;
    bool calledInside = false;
    int notifications = 0;
    component.setOnComm([&] {
        ++notifications;
        calledInside = calledInside || insideMemberCall;
    });
    component.setPortOpen(true);
    pty.send("xyz");
    // Closing sends what is queued first, and reads what has come meanwhile.
    component.setOutput("out");
    insideMemberCall = true;
    component.setPortOpen(false);
    insideMemberCall = false;

    EXPECT_EQ(component.bytesWaiting(), 3u) << "the bytes arrived during the call";
    EXPECT_FALSE(calledInside);
    EXPECT_EQ(pty.receive(3), "out");
    processEventsFor(50ms);
    EXPECT_EQ(notifications, 0) << "no notification while the port is closed";
    EXPECT_EQ(component.input(), "x") << "bytes read before closing stay readable";
}

TEST_F(QtSerialComponentTest, NotificationsNestInsideAModalLoopWithoutLosingBytes) {
    int depth = 0;
    int deepest = 0;
    std::string order;
    component.setOnComm([&] {
        ++depth;
        deepest = std::max(deepest, depth);
        const std::string byte = component.input();
        order += byte;
        if (byte == "1") {
            // A modal box: its own event loop runs until the rest has been handled.
            pty.send("23");
            waitUntil([&] { return order.size() == 3; });
        }
        --depth;
    });
    component.setPortOpen(true);
    pty.send("1");
    ASSERT_TRUE(waitUntil([&] { return order.size() == 3 && depth == 0; })) << order;
    pty.send("4");
    ASSERT_TRUE(waitUntil([&] { return order.size() == 4; })) << order;
    EXPECT_EQ(order, "1234");
    EXPECT_EQ(deepest, 2);
}

TEST_F(QtSerialComponentTest, AHandlerErrorIsReportedAndTheNextByteStillDelivered) {
    struct Case {
        const char* name;
        std::function<void()> fail;
        std::int32_t number;
        const char* text;
    };
    const Case cases[] = {
        {"run-time error", [] { throw RuntimeError(number::Overflow, "Overflow"); }, number::Overflow, "Overflow"},
        {"standard exception", [] { throw std::out_of_range("entry 2 is missing"); }, number::InvalidProcedureCall,
         "entry 2 is missing"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QtSerialComponent port;
        std::string seen;
        std::vector<RuntimeError> reported;
        port.setOnComm([&] {
            seen += port.input();
            if (seen.size() == 1) c.fail();
        });
        port.setOnError([&](const RuntimeError& error) { reported.push_back(error); });
        port.setPortOpen(true);
        pty.send("ab");
        ASSERT_TRUE(waitUntil([&] { return seen.size() == 2; })) << seen;
        ASSERT_EQ(reported.size(), 1u);
        EXPECT_EQ(reported[0].number(), c.number);
        EXPECT_NE(reported[0].description().find(c.text), std::string::npos);
        pty.send("c");
        ASSERT_TRUE(waitUntil([&] { return seen.size() == 3; }));
        EXPECT_EQ(seen, "abc");
        EXPECT_EQ(reported.size(), 1u);
        port.setPortOpen(false);
    }
}

TEST_F(QtSerialComponentTest, MissingDeviceIsReportedWithItsName) {
    mapPort(1, "/nonexistent/tty");
    const auto error = errorFrom([&] { component.setPortOpen(true); });
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->number(), number::DeviceUnavailable);
    EXPECT_NE(error->description().find("/nonexistent/tty"), std::string::npos) << error->description();
    EXPECT_NE(error->description().find("QUENVAR_COMM1"), std::string::npos) << error->description();
    EXPECT_FALSE(component.portOpen());
}

TEST_F(QtSerialComponentTest, AFileThatIsNoSerialPortIsRefused) {
    mapPort(1, "/dev/null");
    const auto error = errorFrom([&] { component.setPortOpen(true); });
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->number(), number::DeviceUnavailable);
    EXPECT_NE(error->description().find("/dev/null"), std::string::npos) << error->description();
    EXPECT_FALSE(component.portOpen());
}

TEST_F(QtSerialComponentTest, DeviceWithoutAccessRightsNamesTheDialoutGroup) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "running as root, which ignores file modes: a mode-000 device cannot be "
                        "refused (the message itself is checked in PortErrorsTest)";
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString device = folder.filePath("locked-tty");
    QFile file(device);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    ASSERT_TRUE(file.setPermissions(QFileDevice::Permissions()));
    mapPort(1, device.toStdString());
    const auto error = errorFrom([&] { component.setPortOpen(true); });
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->number(), number::PermissionDenied);
    EXPECT_NE(error->description().find(device.toStdString()), std::string::npos);
    EXPECT_NE(error->description().find("dialout"), std::string::npos);
}

TEST_F(QtSerialComponentTest, APortInUseByAnotherOwnerIsReportedAsBusy) {
    QtSerialComponent owner;
    owner.setPortOpen(true);
    const auto error = errorFrom([&] { component.setPortOpen(true); });
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->number(), number::PortAlreadyOpen);
    EXPECT_NE(error->description().find(pty.deviceName()), std::string::npos) << error->description();
    EXPECT_FALSE(component.portOpen());
    EXPECT_TRUE(owner.portOpen());
}

TEST_F(QtSerialComponentTest, LosingTheDeviceClosesThePortReportsOnceAndDoesNotSpin) {
    listenTo(component);
    component.setPortOpen(true);
    pty.send("z");
    ASSERT_TRUE(waitUntil([&] { return reads == "z"; }));

    pty.closeMaster();
    ASSERT_TRUE(waitUntil([&] { return !errors.empty(); }));
    EXPECT_FALSE(component.portOpen());
    EXPECT_EQ(component.commEvent(), comm_event::DeviceLost);
    EXPECT_EQ(errors[0].number(), number::DeviceIoError);
    EXPECT_NE(errors[0].description().find(pty.deviceName()), std::string::npos) << errors[0].description();

    const CpuShare share = cpuShareWhileEventsRun(300ms);
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_EQ(events.size(), 1u);
    EXPECT_LT(share.percent(), 50.0) << "cpu " << share.cpuSeconds << " s over " << share.wallSeconds << " s";

    const auto sendAfterLoss = errorFrom([&] { component.setOutput("x"); });
    ASSERT_TRUE(sendAfterLoss.has_value());
    EXPECT_EQ(sendAfterLoss->number(), number::PortNotOpen);

    // The interface is back (on a new device): opening works again.
    PseudoTerminal replacement;
    mapPort(1, replacement.deviceName());
    component.setPortOpen(true);
    EXPECT_TRUE(component.portOpen());
    component.setOutput("ok");
    EXPECT_EQ(replacement.receive(2), "ok");
    replacement.send("y");
    ASSERT_TRUE(waitUntil([&] { return reads == "zy"; })) << reads;
    EXPECT_EQ(errors.size(), 1u);
}

TEST_F(QtSerialComponentTest, DestroyingTheComponentClosesItsPort) {
    {
        QtSerialComponent temporary;
        temporary.setPortOpen(true);
        temporary.setOutput("bye");
    }
    EXPECT_EQ(pty.receive(3), "bye");
    component.setPortOpen(true);
    EXPECT_TRUE(component.portOpen());
}

QStringList* capturedLog = nullptr;

void captureMessage(QtMsgType, const QMessageLogContext& context, const QString& message) {
    if (capturedLog != nullptr && context.category != nullptr)
        capturedLog->append(QString::fromLatin1(context.category) + ": " + message);
}

TEST_F(QtSerialComponentTest, WireLogShowsBytesBothWaysAsHexWhenSwitchedOn) {
    QStringList log;
    capturedLog = &log;
    const QtMessageHandler previous = qInstallMessageHandler(captureMessage);
    listenTo(component);
    component.setPortOpen(true);
    component.setOutput("\x01");
    EXPECT_EQ(pty.receive(1), "\x01");
    const bool quietByDefault = log.filter("quenvar.serial.wire: ").isEmpty();
    QLoggingCategory::setFilterRules("quenvar.serial.wire.debug=true");
    component.setOutput("\x04\x66");
    EXPECT_EQ(pty.receive(2), "\x04\x66");
    pty.send("\x6A");
    const bool received = waitUntil([&] { return reads == "\x6A"; });
    QLoggingCategory::setFilterRules(QString());
    qInstallMessageHandler(previous);
    capturedLog = nullptr;

    ASSERT_TRUE(received);
    EXPECT_TRUE(quietByDefault) << log.join('\n').toStdString();
    const QStringList wire = log.filter("quenvar.serial.wire: ");
    ASSERT_EQ(wire.size(), 2) << log.join('\n').toStdString();
    EXPECT_TRUE(wire[0].contains("-> 04 66")) << wire[0].toStdString();
    EXPECT_TRUE(wire[1].contains("<- 6a")) << wire[1].toStdString();
}

TEST_F(QtSerialComponentTest, AHandlerMayDestroyTheComponentItRunsFor) {
    auto* owned = new QtSerialComponent;
    QPointer<QtSerialComponent> watch(owned);
    int notifications = 0;
    owned->setOnComm([&] {
        ++notifications;
        delete owned;
    });
    owned->setPortOpen(true);
    pty.send("ab");
    ASSERT_TRUE(waitUntil([&] { return watch.isNull(); }));
    processEventsFor(50ms);
    EXPECT_EQ(notifications, 1);
    // Its port was released with it.
    component.setPortOpen(true);
    EXPECT_TRUE(component.portOpen());
}

}  // namespace
}  // namespace quenvar::serial
