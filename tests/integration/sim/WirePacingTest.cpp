// The paced line: every byte takes one byte time in each direction, judged on the times the
// interface itself worked with (its timeline), not on how long the test took.

#include "sim/Simulator.h"
#include "tests/support/ComputerSide.h"
#include "tests/support/EventLoopWaits.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace x10sim {
namespace {

using namespace std::chrono_literals;
using quenvar::testing::ComputerSide;
using TimePoint = InterfaceProtocol::TimePoint;

QByteArray bytes(std::initializer_list<unsigned char> values) {
    QByteArray result;
    for (unsigned char value : values) result.append(static_cast<char>(value));
    return result;
}

QByteArray valuesOf(const std::vector<WireByte>& timeline) {
    QByteArray values;
    for (const WireByte& byte : timeline) values.append(static_cast<char>(byte.value));
    return values;
}

// Each byte is complete one byte time after it was ready or after the one before it was
// complete, whichever is later.
void expectPacedOneAfterAnother(const std::vector<WireByte>& timeline, const char* direction) {
    TimePoint lineFreeAt{0};
    for (std::size_t i = 0; i < timeline.size(); ++i) {
        const WireByte& byte = timeline[i];
        EXPECT_EQ(byte.complete, std::max(byte.ready, lineFreeAt) + byteTimeOnWire)
            << direction << " byte " << i << " (0x" << std::hex << int(byte.value) << ")";
        lineFreeAt = byte.complete;
    }
}

SimulatorOptions paced(bool realTiming = false) {
    SimulatorOptions options;
    options.wirePacing = true;
    options.realTiming = realTiming;
    return options;
}

TEST(WirePacing, EveryByteOfAnOnCommandTakesOneByteTimeEachWay) {
    Simulator simulator(paced());
    simulator.start();
    ComputerSide computer(simulator.devicePath());
    ASSERT_TRUE(computer.isOpen()) << computer.openError().toStdString();

    EXPECT_EQ(computer.exchange(bytes({0x04, 0x66}), 1), bytes({0x6A}));
    EXPECT_EQ(computer.exchange(bytes({0x00}), 1), bytes({0x55}));
    EXPECT_EQ(computer.exchange(bytes({0x06, 0x62}), 1), bytes({0x68}));
    EXPECT_EQ(computer.exchange(bytes({0x00}), 1), bytes({0x55}));
    EXPECT_TRUE(simulator.module('A', 1).on);

    const auto& heard = simulator.receivedTimeline();
    const auto& sent = simulator.sentTimeline();
    ASSERT_EQ(valuesOf(heard), bytes({0x04, 0x66, 0x00, 0x06, 0x62, 0x00}));
    ASSERT_EQ(valuesOf(sent), bytes({0x6A, 0x55, 0x68, 0x55}));
    EXPECT_EQ(simulator.receivedBytes(), valuesOf(heard));
    EXPECT_EQ(simulator.sentBytes(), valuesOf(sent));
    expectPacedOneAfterAnother(heard, "received");
    expectPacedOneAfterAnother(sent, "sent");

    // The interface answers the moment the byte it answers is complete; with no time on the
    // power line the ready byte follows the acknowledge at once.
    for (int transmission = 0; transmission < 2; ++transmission) {
        const std::size_t h = 3 * transmission;
        const std::size_t s = 2 * transmission;
        EXPECT_EQ(sent[s].ready, heard[h + 1].complete) << "echo of transmission " << transmission;
        EXPECT_EQ(sent[s + 1].ready, heard[h + 2].complete) << "ready of transmission " << transmission;
        // The computer could answer a reply only once the reply had reached the pty.
        EXPECT_GE(heard[h + 2].ready, sent[s].complete) << "acknowledge of transmission " << transmission;
        if (transmission == 1) {
            EXPECT_GE(heard[h].ready, sent[1].complete) << "the second transmission waited for ready";
        }
    }
    // Ten bytes, one after the other: at least ten byte times from the first byte to the last.
    EXPECT_GE(sent.back().complete - heard.front().ready, 10 * byteTimeOnWire);
}

TEST(WirePacing, BytesArrivingTogetherAreHeardOneByteTimeApart) {
    Simulator simulator(paced());
    simulator.start();
    ComputerSide computer(simulator.devicePath());
    ASSERT_TRUE(computer.isOpen()) << computer.openError().toStdString();

    // A second transmission before the acknowledge takes over from the first: two echoes.
    EXPECT_EQ(computer.exchange(bytes({0x04, 0x66, 0x04, 0x6E}), 2), bytes({0x6A, 0x72}));

    const auto& heard = simulator.receivedTimeline();
    const auto& sent = simulator.sentTimeline();
    ASSERT_EQ(heard.size(), 4u);
    ASSERT_EQ(sent.size(), 2u);
    expectPacedOneAfterAnother(heard, "received");
    expectPacedOneAfterAnother(sent, "sent");
    for (std::size_t i = 1; i < heard.size(); ++i)
        EXPECT_GE(heard[i].complete, heard[0].ready + static_cast<int>(i + 1) * byteTimeOnWire) << "byte " << i;
    EXPECT_EQ(sent[0].ready, heard[1].complete);
    EXPECT_EQ(sent[1].ready, heard[3].complete);
}

TEST(WirePacing, BytesTheInterfaceSendsTogetherLeaveOneByteTimeApart) {
    Simulator simulator(paced());
    simulator.start();
    ComputerSide computer(simulator.devicePath());
    ASSERT_TRUE(computer.isOpen()) << computer.openError().toStdString();

    simulator.injectFault(Fault::StrayBytes);
    EXPECT_EQ(computer.read(2), bytes({0x5A, 0x33}));

    const auto& sent = simulator.sentTimeline();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].ready, sent[1].ready) << "both produced at one moment";
    EXPECT_EQ(sent[0].complete, sent[0].ready + byteTimeOnWire);
    EXPECT_EQ(sent[1].complete, sent[0].complete + byteTimeOnWire);
}

TEST(WirePacing, WithRealTimingTheFrameStillTakesItsMainsCycles) {
    Simulator simulator(paced(/*realTiming=*/true));
    simulator.start();
    ComputerSide computer(simulator.devicePath());
    ASSERT_TRUE(computer.isOpen()) << computer.openError().toStdString();

    EXPECT_EQ(computer.exchange(bytes({0x04, 0x66}), 1), bytes({0x6A}));
    EXPECT_EQ(computer.exchange(bytes({0x00}), 1), bytes({0x55}));

    const auto& heard = simulator.receivedTimeline();
    const auto& sent = simulator.sentTimeline();
    ASSERT_EQ(heard.size(), 3u);
    ASSERT_EQ(sent.size(), 2u);
    expectPacedOneAfterAnother(sent, "sent");
    EXPECT_EQ(sent[0].ready, heard[1].complete) << "no extra reply delay on top of the paced byte";
    const auto frameTime = InterfaceProtocol::Timing::realistic().mainsCycle *
                           InterfaceProtocol::cyclesOnPowerLine(simulator.frames().at(0));
    EXPECT_GE(sent[1].ready, heard[2].complete + frameTime);
}

TEST(WirePacing, WithoutPacingEveryByteIsCompleteWhenItIsReady) {
    Simulator simulator;
    simulator.start();
    ComputerSide computer(simulator.devicePath());
    ASSERT_TRUE(computer.isOpen()) << computer.openError().toStdString();

    EXPECT_EQ(computer.exchange(bytes({0x04, 0x66}), 1), bytes({0x6A}));
    const auto& heard = simulator.receivedTimeline();
    const auto& sent = simulator.sentTimeline();
    ASSERT_EQ(valuesOf(heard), bytes({0x04, 0x66}));
    ASSERT_EQ(valuesOf(sent), bytes({0x6A}));
    for (const auto* timeline : {&heard, &sent}) {
        for (const WireByte& byte : *timeline) EXPECT_EQ(byte.complete, byte.ready);
    }
    EXPECT_EQ(sent[0].ready, heard[1].complete);
}

TEST(WirePacing, BytesStillOnTheLineAreDroppedWhenTheDeviceDisappears) {
    Simulator simulator(paced());
    simulator.start();
    ComputerSide computer(simulator.devicePath());
    ASSERT_TRUE(computer.isOpen()) << computer.openError().toStdString();

    ASSERT_TRUE(computer.write(bytes({0x04, 0x66})));
    ASSERT_TRUE(quenvar::testing::waitUntil([&] { return !simulator.receivedTimeline().empty(); }));
    simulator.disappear();
    const std::size_t heardBefore = simulator.receivedTimeline().size();
    const std::size_t sentBefore = simulator.sentTimeline().size();
    quenvar::testing::processEventsFor(20ms);
    EXPECT_EQ(simulator.receivedTimeline().size(), heardBefore) << "nothing is heard once the device is gone";
    EXPECT_EQ(simulator.sentTimeline().size(), sentBefore) << "nothing is sent once the device is gone";
}

}  // namespace
}  // namespace x10sim
