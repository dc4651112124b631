// The control's link layer and commands over a real pseudo-terminal, with the virtual
// power-line interface on the other end, in one process and one event loop.

#include <gtest/gtest.h>

#include <QTest>

#include <ctime>
#include <memory>
#include <vector>

#include "control/Quenvar.h"
#include "platform/automation/Variant.h"
#include "platform/serial/QtSerialComponent.h"
#include "sim/Simulator.h"
#include "tests/support/RecordingMessageBoxes.h"
#include "tests/support/ScriptedSerialComponent.h"

namespace quenvar::testing {
namespace {

using x10sim::FunctionCode;

std::vector<std::string> frameTexts(const x10sim::Simulator& sim) {
    std::vector<std::string> texts;
    for (const auto& frame : sim.frames()) {
        texts.push_back(frame.text());
    }
    return texts;
}

double processCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

class ControlOverPty : public ::testing::Test {
protected:
    void SetUp() override {
        startSimulator();
        auto component = std::make_unique<serial::QtSerialComponent>();
        serialPort = component.get();
        serialPort->setOnError([this](const automation::RuntimeError& e) { errors.push_back(e); });
        control = std::make_unique<control::Quenvar>(std::move(component), boxes);
        // The control installs its own OnComm handler; errors are reported through setOnError.
        control->setX10readyHandler([this] { ++readyEvents; });
    }

    void startSimulator() {
        sim = std::make_unique<x10sim::Simulator>();
        sim->start();
        qputenv("QUENVAR_COMM1", sim->devicePath().toUtf8());
    }

    // Runs the event loop until `readyEvents` reaches `count`.
    bool waitForReady(int count) {
        return QTest::qWaitFor([&] { return readyEvents >= count; }, 5000);
    }

    RecordingMessageBoxes boxes;
    std::unique_ptr<x10sim::Simulator> sim;
    serial::QtSerialComponent* serialPort = nullptr;
    std::unique_ptr<control::Quenvar> control;
    std::vector<automation::RuntimeError> errors;
    int readyEvents = 0;
};

TEST_F(ControlOverPty, OnA1RunsTheWholeHandshake) {
    control->openx10(1);
    control->x10on("A", "01");
    ASSERT_TRUE(waitForReady(1));
    EXPECT_EQ(sim->receivedBytes(), QByteArray::fromHex("0466"
                                                        "00"
                                                        "0662"
                                                        "00"));
    EXPECT_EQ(sim->sentBytes(), QByteArray::fromHex("6A"
                                                    "55"
                                                    "68"
                                                    "55"));
    EXPECT_EQ(frameTexts(*sim), (std::vector<std::string>{"A1 address", "A On"}));
    EXPECT_TRUE(sim->module('A', 1).on);
    EXPECT_EQ(control->comstatus(), control::handshake::idle);
    EXPECT_TRUE(control->sendstatus());
    QTest::qWait(50);  // nothing more follows the ready event
    EXPECT_EQ(readyEvents, 1);
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(errors.empty());
}

TEST_F(ControlOverPty, LightingSequenceLeavesTheHouseAsCommanded) {
    control->openx10(1);
    control->lightson("A");  // A1 on through All Lights On, so the dim has a lit lamp
    ASSERT_TRUE(waitForReady(1));
    control->x10on("A", "01");
    ASSERT_TRUE(waitForReady(2));
    control->x10dim("A", "01", 50);
    ASSERT_TRUE(waitForReady(3));
    const int dimmedLevel = sim->module('A', 1).level;
    EXPECT_TRUE(sim->module('A', 1).on);
    EXPECT_EQ(dimmedLevel, x10sim::fullBrightnessSteps - 11);  // 50 carries 11 steps
    control->x10off("A", "01");
    ASSERT_TRUE(waitForReady(4));
    control->lightson("P");
    ASSERT_TRUE(waitForReady(5));
    control->x10on("J", "03");
    ASSERT_TRUE(waitForReady(6));
    control->alloff("J");
    ASSERT_TRUE(waitForReady(7));

    EXPECT_EQ(frameTexts(*sim), (std::vector<std::string>{"A All Lights On", "A1 address", "A On", "A1 address",
                                                          "A Dim 11 steps", "A1 address", "A Off", "P All Lights On",
                                                          "J3 address", "J On", "J All Units Off"}));
    EXPECT_FALSE(sim->module('A', 1).on);
    EXPECT_TRUE(sim->module('P', 7).on);
    EXPECT_FALSE(sim->module('J', 3).on);
    EXPECT_EQ(readyEvents, 7);
    EXPECT_TRUE(boxes.shown.empty());
}

TEST_F(ControlOverPty, TransmissionFromSendx10WithAQueuedPair) {
    control->openx10(1);
    control->colstring()->add(automation::Variant::fromText(bytes({0x06})));
    control->colstring()->add(automation::Variant::fromText(bytes({0x62})));
    control->sendx10(bytes({0x04}), bytes({0x66}));
    ASSERT_TRUE(waitForReady(1));
    EXPECT_EQ(frameTexts(*sim), (std::vector<std::string>{"A1 address", "A On"}));
    EXPECT_EQ(control->colstring()->count(), 0);
}

TEST_F(ControlOverPty, TwoCommandsBeforeAnyAnswerBothGoOutAtOnce) {
    control->openx10(1);
    control->x10on("A", "01");
    control->x10on("B", "02");
    // Nothing has run the event loop yet: both addresses are written, both functions queued.
    EXPECT_EQ(control->colstring()->count(), 4);
    EXPECT_EQ(control->colstring()->item(1).toText() + control->colstring()->item(2).toText() +
                  control->colstring()->item(3).toText() + control->colstring()->item(4).toText(),
              bytes({0x06, 0x62, 0x06, 0xE2}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return sim->receivedBytes().size() >= 4; }, 5000));
    EXPECT_EQ(sim->receivedBytes().left(4), QByteArray::fromHex("0466"
                                                                "04EE"));
    // The interface takes the second address; the queue then drains in call order.
    ASSERT_TRUE(waitForReady(1));
    EXPECT_TRUE(sim->module('B', 2).on);
    EXPECT_EQ(control->colstring()->count(), 0);
}

TEST_F(ControlOverPty, PowerFailRequestIsAnsweredWhenIdle) {
    control->openx10(1);
    sim->powerFailure();
    ASSERT_TRUE(QTest::qWaitFor([&] { return sim->receivedBytes().size() >= 43; }, 5000));
    // The interface's echo of the download's checksum arrives while idle and is not answered.
    ASSERT_TRUE(QTest::qWaitFor([&] { return sim->sentBytes().endsWith(QByteArray(1, '\0')); }, 5000));
    QTest::qWait(50);
    EXPECT_EQ(sim->receivedBytes(), QByteArray::fromHex("FB") + QByteArray(42, '\0'));
    EXPECT_EQ(control->countmacro(), 0);
    EXPECT_EQ(control->comstatus(), control::handshake::idle);
    EXPECT_EQ(readyEvents, 0);
    // The next transmission takes over from the unanswered echo and goes through.
    control->lightson("C");
    ASSERT_TRUE(waitForReady(1));
    EXPECT_TRUE(sim->module('C', 16).on);
}

TEST_F(ControlOverPty, WrongEchoIsNotAcknowledged) {
    control->openx10(1);
    sim->injectFault(x10sim::Fault::WrongEcho);
    control->x10on("A", "01");
    ASSERT_TRUE(QTest::qWaitFor([&] { return sim->sentBytes().size() >= 1; }, 5000));
    EXPECT_EQ(sim->sentBytes(), QByteArray::fromHex("6B"));
    QTest::qWait(100);  // give a wrong acknowledge the chance to show up
    EXPECT_EQ(sim->receivedBytes(), QByteArray::fromHex("0466"));
    EXPECT_EQ(control->comstatus(), control::handshake::awaitingEcho);
    EXPECT_TRUE(sim->frames().empty());
    EXPECT_EQ(readyEvents, 0);
}

TEST_F(ControlOverPty, InterfaceAnsweringWrongAfterTheFrameIsReported) {
    control->openx10(1);
    sim->injectFault(x10sim::Fault::NotReady);
    control->x10on("A", "01");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.shown.empty(); }, 5000));
    EXPECT_EQ(boxes.shown.front().prompt, "Interface is not responding");
    EXPECT_EQ(control->comstatus(), control::handshake::idle);
    EXPECT_EQ(control->colstring()->count(), 2);  // the function stays queued
}

TEST_F(ControlOverPty, DeviceDisappearingMidHandshakeClosesThePortOnce) {
    control->openx10(1);
    sim->injectFault(x10sim::Fault::NoAnswer);
    control->x10on("A", "01");
    ASSERT_TRUE(QTest::qWaitFor([&] { return sim->receivedBytes().size() >= 2; }, 5000));
    sim->disappear();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !errors.empty(); }, 5000));
    EXPECT_FALSE(serialPort->portOpen());

    const double cpuBefore = processCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    QTest::qWait(300);
    const double cpuUsed = processCpuSeconds() - cpuBefore;
    EXPECT_LT(cpuUsed, 0.5 * static_cast<double>(wall.elapsed()) / 1000.0) << "the event loop spins";
    EXPECT_EQ(errors.size(), 1u);
    EXPECT_NE(errors.front().description().find(sim->devicePath().toStdString()), std::string::npos)
        << errors.front().description();

    // A new interface on CommPort 1: opening works again and commands go through.
    control->colstring()->remove(2);
    control->colstring()->remove(1);
    startSimulator();
    control->openx10(1);
    control->x10on("D", "04");
    ASSERT_TRUE(waitForReady(1));
    EXPECT_TRUE(sim->module('D', 4).on);
}

}  // namespace
}  // namespace quenvar::testing
