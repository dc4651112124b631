// The Windows serial component on COM1, behind which x10sim plays the interface on a real
// pseudo-terminal; notifications come through the test thread's own message loop.

#include <gtest/gtest.h>

#include <windows.h>

#include <tlhelp32.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/serial/PortMap.h"
#include "platform/serial/windows/WinSerialComponent.h"
#include "tests/support/RuntimeErrors.h"
#include "tests/support/SerialComponentRecord.h"
#include "tests/windows/support/MessageLoop.h"
#include "tests/windows/support/SimulatorBehindCom1.h"

namespace quenvar::serial {
namespace {

using namespace std::chrono_literals;
using automation::RuntimeError;
using quenvar::testing::errorOf;
using quenvar::testing::runMessagesFor;
using quenvar::testing::runMessagesUntil;
using Simulator = quenvar::testing::SimulatorBehindCom1;
namespace number = automation::error_number;

int threadsOfThisProcess() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int threads = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        threads += entry.th32OwnerProcessID == GetCurrentProcessId() ? 1 : 0;
    CloseHandle(snapshot);
    return threads;
}

// Records what the component tells from the start.
class WinSerialComponentTest : public ::testing::Test, public quenvar::testing::SerialComponentRecord {
protected:
    WinSerialComponentTest() { listenTo(component); }

    // Sends bytes and waits until x10sim has them all.
    void send(const std::string& bytes) {
        const std::size_t before = Simulator::received().size();
        component.setOutput(bytes);
        ASSERT_TRUE(runMessagesUntil([&] { return Simulator::received().size() >= before + bytes.size(); }));
    }

    WinSerialComponent component;
};

TEST_F(WinSerialComponentTest, OpensAt4800Bits8N1WithoutFlowControlAndReportsPortErrors) {
    component.setPortOpen(true);
    component.setPortOpen(true);  // the open port stays open
    ASSERT_EQ(component.openDevice(), "COM1");
    const DCB line = component.lineSettings();
    EXPECT_EQ(line.BaudRate, 4800u);
    EXPECT_EQ(line.ByteSize, 8);
    EXPECT_EQ(line.Parity, NOPARITY);
    EXPECT_EQ(line.StopBits, ONESTOPBIT);
    EXPECT_FALSE(line.fOutxCtsFlow || line.fOutxDsrFlow || line.fOutX || line.fInX);
    EXPECT_NE(line.fRtsControl, static_cast<DWORD>(RTS_CONTROL_HANDSHAKE));
    EXPECT_NE(line.fDtrControl, static_cast<DWORD>(DTR_CONTROL_HANDSHAKE));
    component.setPortOpen(false);
    EXPECT_FALSE(component.portOpen());

    _putenv_s("QUENVAR_COMM2", "COM9");  // no such port in the prefix
    _putenv_s("QUENVAR_COMM3", "NUL");   // a device, but no serial port
    struct Case {
        const char* description;
        std::function<void()> call;
        std::int32_t number;
    };
    const Case cases[] = {
        {"Serial port 2 (COM9) does not exist: connect the interface or set QUENVAR_COMM2 to its device",
         [&] { component.setCommPort(2), component.setPortOpen(true); }, number::DeviceUnavailable},
        {"Serial port 3 (NUL) is not a serial port", [&] { component.setCommPort(3), component.setPortOpen(true); },
         number::DeviceUnavailable},
        {"serial port 3 is closed; open it first", [&] { component.setOutput("x"); }, number::PortNotOpen},
        {"Invalid port number 0: choose a port from 1 to 16", [&] { component.setCommPort(0); },
         number::InvalidPortNumber},
        {"Invalid port number 17", [&] { component.setCommPort(17); }, number::InvalidPortNumber},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.description);
        const auto error = errorOf(c.call);
        EXPECT_EQ(error.number, c.number);
        EXPECT_NE(error.description.find(c.description), std::string::npos) << error.description;
        EXPECT_FALSE(component.portOpen());
    }
    EXPECT_EQ(component.commPort(), 3) << "a refused number leaves the selection";
}

TEST_F(WinSerialComponentTest, EachReceivedByteIsOneNotificationAndOneCharacterAndHandlerErrorsAreReported) {
    component.setPortOpen(true);
    // The echo of a transmission, the ready byte after its acknowledge, two bytes back to back.
    send("\x04\x66");
    ASSERT_TRUE(runMessagesUntil([&] { return reads.size() == 1; }));
    send(std::string(1, '\0'));
    ASSERT_TRUE(runMessagesUntil([&] { return reads.size() == 2; }));
    component.setOnComm([&] {
        reads += component.input();
        if (reads.size() == 3) throw RuntimeError(number::Overflow, "Overflow");
    });
    Simulator::command("stray-bytes");
    ASSERT_TRUE(runMessagesUntil([&] { return reads.size() == 4; })) << reads.size();
    runMessagesFor(100ms);

    EXPECT_EQ(reads, "\x6A\x55\x5A\x33");
    EXPECT_EQ(events, std::vector<std::int16_t>(2, comm_event::Receive));
    EXPECT_EQ(component.input(), "");
    ASSERT_EQ(errors.size(), 1u) << "the handler's error, and the next byte still came";
    EXPECT_EQ(errors[0].number(), number::Overflow);

    // A handler that reads nothing is not called again for the same bytes; nothing is dropped.
    int notifications = 0;
    component.setOnComm([&] { ++notifications; });
    Simulator::command("stray-bytes");
    ASSERT_TRUE(runMessagesUntil([&] { return component.bytesWaiting() == 2 && notifications > 0; }));
    const int notified = notifications;
    runMessagesFor(100ms);
    EXPECT_EQ(notifications, notified);
    EXPECT_LE(notified, 2) << "at most once per byte that arrived";
    EXPECT_EQ(component.input(), "\x5A");
    EXPECT_EQ(component.input(), "\x33");
}

TEST_F(WinSerialComponentTest, ClosingOrDestroyingEndsTheReaderAndNothingReachesAComponentGone) {
    component.setPortOpen(true);
    component.setPortOpen(false);
    const int threadsBefore = threadsOfThisProcess();
    for (int round = 0; round < 10; ++round) {
        component.setPortOpen(true);
        component.setPortOpen(false);
    }
    EXPECT_EQ(threadsOfThisProcess(), threadsBefore) << "each close ended its reader thread";

    // Destroyed while the news of the interface's echo waits in the thread's queue.
    auto doomed = std::make_unique<WinSerialComponent>();
    int doomedNotifications = 0;
    doomed->setOnComm([&] { ++doomedNotifications; });
    doomed->setPortOpen(true);
    quenvar::testing::dispatchQueuedMessages();
    doomed->setOutput("\x04\x66");
    ASSERT_NE(MsgWaitForMultipleObjects(0, nullptr, FALSE, 5000, QS_POSTMESSAGE), WAIT_TIMEOUT);
    doomed.reset();
    EXPECT_EQ(threadsOfThisProcess(), threadsBefore);

    // Its port was released: another owner finishes the handshake it began.
    component.setPortOpen(true);
    send(std::string(1, '\0'));
    ASSERT_TRUE(runMessagesUntil([&] { return reads == "\x55"; })) << reads.size();
    EXPECT_EQ(doomedNotifications, 0);
}

// Each on a simulator of its own: the bytes leave the interface in no known state, and a
// device that went away stays away.
class WinSerialComponentAloneTest : public WinSerialComponentTest {};

TEST_F(WinSerialComponentAloneTest, DeviceGoneIsReportedOnceWithThePortClosedAndNothingSpins) {
    component.setPortOpen(true);
    send("\x04\x66");
    ASSERT_TRUE(runMessagesUntil([&] { return reads == "\x6A"; }));

    Simulator::command("disappear");
    ASSERT_TRUE(runMessagesUntil([&] { return !errors.empty(); }));
    EXPECT_FALSE(component.portOpen());
    EXPECT_EQ(component.commEvent(), comm_event::DeviceLost);
    EXPECT_EQ(errors[0].number(), number::DeviceIoError);
    EXPECT_NE(errors[0].description().find("Serial port 1 (COM1) stopped responding or was disconnected"),
              std::string::npos)
        << errors[0].description();

    const ULONGLONG wallStart = GetTickCount64();
    const double cpuStart = quenvar::testing::processCpuSeconds();
    runMessagesFor(300ms);
    const double cpuUsed = quenvar::testing::processCpuSeconds() - cpuStart;
    const double wall = static_cast<double>(GetTickCount64() - wallStart) / 1000.0;
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_EQ(events.size(), 1u);
    EXPECT_LT(cpuUsed, 0.5 * wall) << "cpu " << cpuUsed << " s over " << wall << " s";
    EXPECT_EQ(errorOf([&] { component.setOutput("x"); }).number, number::PortNotOpen);
}

TEST_F(WinSerialComponentAloneTest, EveryByteValueReachesTheFarEndInWriteOrder) {
    component.setPortOpen(true);
    std::string bytes = quenvar::testing::allByteValues();
    for (char byte : bytes) component.setOutput(std::string(1, byte));
    component.setOutput(std::string("\x00\xff\x00", 3));
    bytes += std::string("\x00\xff\x00", 3);
    ASSERT_TRUE(runMessagesUntil([&] { return Simulator::received().size() >= bytes.size(); }));
    EXPECT_EQ(Simulator::received(), bytes);
}

}  // namespace
}  // namespace quenvar::serial
