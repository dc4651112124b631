// Each way the line and the interface can fail, in each state of the handshake it can meet the
// control in: nothing crashes, nothing spins, the user hears exactly what they must know (and
// nothing where the control stays quiet), and afterwards the control still switches modules.

#include <gtest/gtest.h>

#include <QByteArray>

#include <chrono>
#include <cstdio>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "control/Quenvar.h"
#include "tests/integration/faults/ControlOnSimulatedLine.h"
#include "tests/support/ComputerSide.h"
#include "tests/support/EventLoopWaits.h"

namespace quenvar::testing {
namespace {

using namespace std::chrono_literals;
using x10sim::Fault;
namespace member = control::member;
namespace hs = control::handshake;

// What the user must be told about a fault (nothing at all where the control stays quiet).
enum class Notice {
    DeviceLost,     // the serial port's error, naming the device
    NotResponding,  // "Interface is not responding"
};

struct FaultRow {
    const char* name;
    bool pacedInterface;  // replies paced like the real line
    // Brings the fault about and returns once it is in force.
    std::function<void(ControlOnSimulatedLine&)> provoke;
    std::vector<Notice> notices;  // in the order the user sees them
    bool deviceGone;              // a new interface at the same place and openx10 again before going on
    // Checks of what the fault leaves behind, run once it has lasted a while.
    std::function<void(ControlOnSimulatedLine&)> leavesBehind = [](ControlOnSimulatedLine&) {};
};

void PrintTo(const FaultRow& row, std::ostream* out) { *out << row.name; }

void onA1(ControlOnSimulatedLine& line) {
    ASSERT_EQ(line.openPort().number, 0);
    ASSERT_EQ(line.unitCommand(member::x10on, "A", "01").number, 0);
}

bool received(ControlOnSimulatedLine& line, int count) {
    return waitUntil([&] { return line.interface().receivedBytes().size() >= count; });
}

const QByteArray powerFailReply = QByteArray::fromHex("FB") + QByteArray(42, '\0');

// A remote control on the power line: B1 On.
void remoteB1On(x10sim::Simulator& sim) {
    sim.sendFromOtherTransmitter(
        {x10sim::Frame::forAddress('B', 1), x10sim::Frame::forFunction('B', x10sim::FunctionCode::On)});
}

// After a poll met the control's x10on A1: A1 still went out once, x10ready came once, and the
// host heard B1 On.
void commandAndUploadBothArrived(ControlOnSimulatedLine& line) {
    std::vector<std::string> sentByTheInterface;
    for (const x10sim::Frame& frame : line.interface().frames()) {
        if (frame.origin == x10sim::FrameOrigin::Interface) sentByTheInterface.push_back(frame.text());
    }
    EXPECT_EQ(sentByTheInterface, (std::vector<std::string>{"A1 address", "A On"}));
    EXPECT_EQ(line.heard(), (std::vector<control::HeardFunction>{{"B", "01", "On", 0}}));
    EXPECT_EQ(line.readyEvents(), 1);
    EXPECT_EQ(line.comstatus(), hs::idle);
    EXPECT_TRUE(line.interface().module('A', 1).on);
}

// The poll meets the control's x10on A1 once the interface has `count` bytes of it (and, when
// `afterThem`, once it has acted on them): it comes right away, crossing the command on the line.
FaultRow pollDuringACommand(const char* name, bool paced, int count, bool afterThem) {
    return {name,
            paced,
            [count, afterThem](ControlOnSimulatedLine& line) {
                line.whenReceived(count, [afterThem](x10sim::Simulator& sim) {
                    if (afterThem) {
                        QMetaObject::invokeMethod(
                            &sim, [&sim] { remoteB1On(sim); }, Qt::QueuedConnection);
                    } else {
                        remoteB1On(sim);
                    }
                });
                onA1(line);
                ASSERT_TRUE(waitUntil([&] { return line.readyEvents() == 1; }, 3s));
            },
            {},
            false,
            commandAndUploadBothArrived};
}

// News waits in the interface, and its first poll went to whoever had the line before the control
// opened it: the control's A1 is neither taken nor echoed, and only the poll that comes a second
// later, in the poll's own rhythm, tells the control why.
FaultRow pollASecondLater(const char* name) {
    return {name,
            false,
            [](ControlOnSimulatedLine& line) {
                remoteB1On(line.interface());
                {
                    ComputerSide before(line.linkPath());
                    ASSERT_EQ(before.read(1), QByteArray("\x5A"));
                }
                onA1(line);
                ASSERT_TRUE(waitUntil([&] { return line.readyEvents() == 1; }, 3s));
            },
            {},
            false,
            commandAndUploadBothArrived};
}

// An upload spoiled on the line while the control is idle: nothing is told, and the next
// command still goes out (the usable-afterwards check of every row).
FaultRow spoiledUpload(const char* name, Fault fault) {
    return {name,
            false,
            [fault](ControlOnSimulatedLine& line) {
                ASSERT_EQ(line.openPort().number, 0);
                line.interface().injectFault(fault);
                remoteB1On(line.interface());
                ASSERT_TRUE(received(line, 1));
            },
            {},
            false,
            [](ControlOnSimulatedLine& line) {
                EXPECT_EQ(line.interface().receivedBytes(), QByteArray::fromHex("C3"));
                EXPECT_TRUE(line.heard().empty());
                EXPECT_TRUE(line.interface().module('B', 1).on) << "the remote switched its module";
            }};
}

const std::vector<FaultRow> faultRows = {
    {"DeviceGoneWhileIdle",
     false,
     [](ControlOnSimulatedLine& line) {
         ASSERT_EQ(line.openPort().number, 0);
         processEventsFor(20ms);
         line.interface().disappear();
     },
     {Notice::DeviceLost},
     true},
    {"DeviceGoneAwaitingEcho",
     false,
     [](ControlOnSimulatedLine& line) {
         line.interface().injectFault(Fault::NoAnswer);
         onA1(line);
         ASSERT_TRUE(received(line, 2));
         ASSERT_EQ(line.comstatus(), hs::awaitingEcho);
         line.interface().disappear();
     },
     {Notice::DeviceLost},
     true},
    {"DeviceGoneAwaitingReady",
     true,
     [](ControlOnSimulatedLine& line) {
         onA1(line);
         ASSERT_TRUE(waitUntil([&] { return line.comstatus() == hs::awaitingReady; }));
         line.interface().disappear();
     },
     {Notice::DeviceLost},
     true},
    {"SilentInterface",
     false,
     [](ControlOnSimulatedLine& line) {
         line.interface().injectFault(Fault::NoAnswer);
         onA1(line);
         ASSERT_TRUE(received(line, 2));
     },
     {},
     false,
     [](ControlOnSimulatedLine& line) {
         EXPECT_EQ(line.comstatus(), hs::awaitingEcho);
         EXPECT_TRUE(line.interface().frames().empty());
         EXPECT_EQ(line.readyEvents(), 0);
     }},
    {"WrongEchoForTheAddress",
     false,
     [](ControlOnSimulatedLine& line) {
         line.interface().injectFault(Fault::WrongEcho);
         onA1(line);
         ASSERT_TRUE(waitUntil([&] { return line.interface().sentBytes().size() >= 1; }));
     },
     {},
     false,
     [](ControlOnSimulatedLine& line) {
         EXPECT_EQ(line.interface().receivedBytes(), QByteArray::fromHex("0466"));  // no acknowledge
         EXPECT_TRUE(line.interface().frames().empty());
         EXPECT_TRUE(line.acknowledged().empty());
         EXPECT_EQ(line.comstatus(), hs::awaitingEcho);
     }},
    {"WrongEchoForTheQueuedFunction",
     false,
     [](ControlOnSimulatedLine& line) {
         line.whenReceived(3, [](x10sim::Simulator& sim) { sim.injectFault(Fault::WrongEcho); });
         onA1(line);
         ASSERT_TRUE(waitUntil([&] { return line.interface().sentBytes().size() >= 3; }));
     },
     {},
     false,
     [](ControlOnSimulatedLine& line) {
         EXPECT_EQ(line.interface().sentBytes(), QByteArray::fromHex("6A"
                                                                     "55"
                                                                     "69"));
         EXPECT_EQ(line.frameTexts(), (std::vector<std::string>{"A1 address"}));
         EXPECT_EQ(line.comstatus(), hs::awaitingEcho);
         EXPECT_EQ(line.readyEvents(), 0);
     }},
    {"NotReadyWithThePairQueued",
     false,
     [](ControlOnSimulatedLine& line) {
         line.interface().injectFault(Fault::NotReady);
         onA1(line);
         ASSERT_TRUE(waitUntil([&] { return !line.boxes().seen().empty(); }));
     },
     {Notice::NotResponding},
     false,
     [](ControlOnSimulatedLine& line) {
         EXPECT_EQ(line.comstatus(), hs::idle);
         EXPECT_EQ(line.queuedEntries(), 2);  // the function waits for the next ready byte
         EXPECT_EQ(line.frameTexts(), (std::vector<std::string>{"A1 address"}));
     }},
    {"DeviceGoneWhileTheBoxIsOpen",
     false,
     [](ControlOnSimulatedLine& line) {
         // The user is still reading "Interface is not responding" when the cable comes out.
         line.boxes().setReadingTime(300ms);
         line.boxes().whileNextBoxIsOpen([&line] { line.interface().disappear(); });
         line.interface().injectFault(Fault::NotReady);
         onA1(line);
         ASSERT_TRUE(waitUntil([&] { return line.boxes().seen().size() == 2 && line.boxes().openNow() == 0; }));
     },
     {Notice::NotResponding, Notice::DeviceLost},
     true,
     [](ControlOnSimulatedLine& line) {
         EXPECT_EQ(line.comstatus(), hs::idle);  // the first box was closed after the second
         EXPECT_EQ(line.queuedEntries(), 2);
     }},
    {"PowerFailWhileIdle",
     false,
     [](ControlOnSimulatedLine& line) {
         ASSERT_EQ(line.openPort().number, 0);
         line.interface().powerFailure();
         ASSERT_TRUE(received(line, powerFailReply.size()));
     },
     {},
     false,
     [](ControlOnSimulatedLine& line) {
         EXPECT_EQ(line.interface().receivedBytes(), powerFailReply);
         EXPECT_EQ(line.comstatus(), hs::idle);
     }},
    {"PowerFailAwaitingEcho",
     false,
     [](ControlOnSimulatedLine& line) {
         // The interface lost the transmission with the mains and asks once the mains is back.
         line.interface().injectFault(Fault::NoAnswer);
         onA1(line);
         ASSERT_TRUE(received(line, 2));
         line.interface().powerFailure();
         ASSERT_TRUE(waitUntil([&] { return line.readyEvents() == 1; }));
     },
     {},
     false,
     [](ControlOnSimulatedLine& line) {
         // The reply's handshake, then the address again and the rest of the command.
         EXPECT_EQ(line.interface().receivedBytes(), QByteArray::fromHex("0466") + powerFailReply +
                                                         QByteArray::fromHex("00"
                                                                             "046600"
                                                                             "066200"))
             << "the power-fail request met while awaiting the echo must be answered";
         EXPECT_EQ(line.frameTexts(), (std::vector<std::string>{"A1 address", "A On"}));
         EXPECT_EQ(line.comstatus(), hs::idle);
         EXPECT_EQ(line.readyEvents(), 1);
     }},
    {"PowerFailAwaitingReady",
     false,
     [](ControlOnSimulatedLine& line) {
         // The mains goes while the address frame is on the power line, before the ready byte.
         line.whenReceived(3, [](x10sim::Simulator& sim) { sim.powerFailure(); });
         onA1(line);
         ASSERT_TRUE(waitUntil([&] { return line.readyEvents() == 1; }));
     },
     {},
     false,
     [](ControlOnSimulatedLine& line) {
         // The frame the mains took goes out again once the request is answered.
         EXPECT_EQ(line.frameTexts(), (std::vector<std::string>{"A1 address", "A On"}));
         EXPECT_EQ(line.queuedEntries(), 0);
         EXPECT_EQ(line.readyEvents(), 1);
     }},
    {"StrayBytesWhileIdle",
     false,
     [](ControlOnSimulatedLine& line) {
         ASSERT_EQ(line.openPort().number, 0);
         line.interface().injectFault(Fault::StrayBytes);
         ASSERT_TRUE(waitUntil([&] { return line.interface().sentBytes().size() >= 2; }));
     },
     {},
     false,
     [](ControlOnSimulatedLine& line) {
         // 0x5A is the interface's poll: answered; 0x33 is no upload size and ends the reading.
         EXPECT_EQ(line.interface().receivedBytes(), QByteArray::fromHex("C3"));
         EXPECT_TRUE(line.heard().empty());
         EXPECT_EQ(line.comstatus(), hs::idle);
     }},
    {"StrayBytesBetweenTheTwoTransmissions",
     false,
     [](ControlOnSimulatedLine& line) {
         line.whenReceived(3, [](x10sim::Simulator& sim) { sim.injectFault(Fault::StrayBytes); });
         onA1(line);
         ASSERT_TRUE(waitUntil([&] { return !line.boxes().seen().empty(); }));
     },
     // A poll that was none: the control answers it, sends the function again when no upload
     // follows, and then meets the echo of both transmissions.
     {Notice::NotResponding},
     false,
     [](ControlOnSimulatedLine& line) {
         EXPECT_EQ(line.interface().sentBytes(), QByteArray::fromHex("6A"
                                                                     "55"
                                                                     "5A33"
                                                                     "68"
                                                                     "68"
                                                                     "55"));
         EXPECT_EQ(line.frameTexts(), (std::vector<std::string>{"A1 address", "A On"}));
         EXPECT_EQ(line.readyEvents(), 0);
     }},
    {"RemoteA1OnWhileIdle",
     false,
     [](ControlOnSimulatedLine& line) {
         ASSERT_EQ(line.openPort().number, 0);
         line.interface().sendFromOtherTransmitter(
             {x10sim::Frame::forAddress('A', 1), x10sim::Frame::forFunction('A', x10sim::FunctionCode::On)});
         ASSERT_TRUE(waitUntil([&] { return !line.heard().empty(); }));
     },
     {},
     false,
     [](ControlOnSimulatedLine& line) {
         EXPECT_EQ(line.heard(), (std::vector<control::HeardFunction>{{"A", "01", "On", 0}}));
         EXPECT_EQ(line.interface().receivedBytes(), QByteArray::fromHex("C3"));
         EXPECT_EQ(line.comstatus(), hs::idle);
         EXPECT_EQ(line.readyEvents(), 0);
     }},
    pollDuringACommand("PollInsteadOfTheAddressEcho", false, 1, false),
    pollDuringACommand("PollWhileTheAddressAwaitsItsAcknowledge", false, 3, false),
    pollDuringACommand("PollInsteadOfTheAddressReadyByte", true, 3, true),
    pollDuringACommand("PollInsteadOfTheFunctionEcho", false, 4, false),
    pollDuringACommand("PollInsteadOfTheLastReadyByte", true, 6, true),
    pollASecondLater("PollASecondAfterTheCommandWasLeftUnanswered"),
    spoiledUpload("UploadCutShort", Fault::UploadCutShort),
    spoiledUpload("UploadSizeOutOfRange", Fault::UploadSizeOutOfRange),
    {"SlowInterface",
     true,
     [](ControlOnSimulatedLine& line) { onA1(line); },  // lasts while the frames go out
     {},
     false,
     [](ControlOnSimulatedLine& line) {
         ASSERT_TRUE(waitUntil([&] { return line.readyEvents() == 1; }, 3s));
         EXPECT_EQ(line.frameTexts(), (std::vector<std::string>{"A1 address", "A On"}));
         EXPECT_TRUE(line.interface().module('A', 1).on);
     }},
};

class FaultTable : public ::testing::TestWithParam<FaultRow> {};

TEST_P(FaultTable, NoCrashNoSpinOneClearNoticeAndUsableAfterwards) {
    const FaultRow& row = GetParam();
    ControlOnSimulatedLine line;
    x10sim::SimulatorOptions options;
    options.realTiming = row.pacedInterface;
    line.startInterface(options);

    row.provoke(line);
    if (::testing::Test::HasFatalFailure()) {
        return;
    }

    // While the fault lasts the program waits in its event loop: it must not spin.
    const CpuShare share = cpuShareWhileEventsRun(600ms);
    EXPECT_LT(share.percent(), 20.0) << share.cpuSeconds << " s of CPU in " << share.wallSeconds << " s";
    std::printf("%s: %.1f%% CPU while the fault lasted (%.1f ms in %.0f ms)\n", row.name, share.percent(),
                share.cpuSeconds * 1000, share.wallSeconds * 1000);
    row.leavesBehind(line);

    const auto& boxes = line.boxes().seen();
    ASSERT_EQ(boxes.size(), row.notices.size()) << (boxes.empty() ? std::string() : boxes.front().prompt);
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        SCOPED_TRACE(boxes[i].prompt);
        EXPECT_EQ(boxes[i].title, "quenvar");
        if (row.notices[i] == Notice::NotResponding) {
            EXPECT_EQ(boxes[i].prompt, "Interface is not responding");
        } else {
            EXPECT_NE(boxes[i].prompt.find(line.linkPath().toStdString()), std::string::npos);
            EXPECT_NE(boxes[i].prompt.find("open the port again"), std::string::npos);
        }
    }
    const std::size_t boxesAfterFault = boxes.size();

    if (row.deviceGone) {
        line.startInterface();
        ASSERT_EQ(line.openPort().number, 0);
    }
    // An interface back from a power failure asks until it is answered; the control answers
    // the next request it meets while idle.
    EXPECT_TRUE(waitUntil(
        [&] {
            const auto state = line.interface().protocolState();
            return state != x10sim::InterfaceProtocol::State::PowerFailRequesting &&
                   state != x10sim::InterfaceProtocol::State::ReceivingMacro;
        },
        3s))
        << "the power-fail request was never answered";

    const std::size_t framesBefore = line.interface().frames().size();
    const int readyBefore = line.readyEvents();
    ASSERT_EQ(line.unitCommand(member::x10on, "D", "04").number, 0);
    ASSERT_TRUE(waitUntil([&] { return line.readyEvents() > readyBefore; }, 5s)) << "x10ready never came";
    const std::vector<std::string> after = line.frameTexts(framesBefore);
    ASSERT_GE(after.size(), 2u);
    EXPECT_EQ(after.front(), "D4 address");
    EXPECT_EQ(after.back(), "D On");
    EXPECT_TRUE(line.interface().module('D', 4).on);
    EXPECT_EQ(line.comstatus(), hs::idle);
    processEventsFor(30ms);
    EXPECT_EQ(line.readyEvents(), readyBefore + 1);
    EXPECT_EQ(boxes.size(), boxesAfterFault);
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultTable, ::testing::ValuesIn(faultRows),
                         [](const ::testing::TestParamInfo<FaultRow>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quenvar::testing
