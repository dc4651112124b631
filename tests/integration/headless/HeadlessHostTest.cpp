// The control in a process with a QCoreApplication only, created by ProgID through the headless
// host, on x10sim's pseudo-terminal in the same event loop.

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/automation/MessageSink.h"
#include "platform/headless/HeadlessHost.h"
#include "sim/ConsoleCommands.h"
#include "sim/Simulator.h"
#include "tests/integration/module/ModuleFixture.h"
#include "tests/support/EventLoopWaits.h"

namespace quenvar::testing {
namespace {

using namespace std::chrono_literals;
using automation::Variant;
using headless::CommandOutcome;
using headless::CommandResult;
using headless::HeadlessHost;

struct Heard {
    QString house, units, command;
    int level = 0;
    bool operator==(const Heard&) const = default;
};

class HeadlessControl : public ModuleFixture {
protected:
    void SetUp() override {
        ModuleFixture::SetUp();
        registerModule();
        simulator.start();
        qputenv("QUENVAR_COMM1", simulator.devicePath().toUtf8());
        host.emplace();
        QObject::connect(&*host, &HeadlessHost::finished,
                         [this](const CommandResult& result) { results.push_back(result); });
        QObject::connect(&*host, &HeadlessHost::message, [this](const QString& prompt, const QString& title) {
            messages.push_back(title + ": " + prompt);
        });
        QObject::connect(&*host, &HeadlessHost::received,
                         [this](QString house, QString units, QString command, int level) {
                             heard.push_back({house, units, command, level});
                         });
        host->create(QString::fromLatin1(progId));
    }
    void TearDown() override {
        if (host && !host->isNull()) host->call(host->idOfName("closex10"));
        host.reset();
        qunsetenv("QUENVAR_COMM1");
        ModuleFixture::TearDown();
    }

    void open() { host->call(host->idOfName("openx10"), {Variant::fromInt16(1)}); }

    // Starts the command and waits for its one result.
    CommandResult run(const char* member, std::vector<Variant> args, std::chrono::milliseconds limit = 3s) {
        const std::size_t before = results.size();
        host->start(host->idOfName(member), std::move(args), limit);
        EXPECT_EQ(results.size(), before) << "a result came from inside start()";
        EXPECT_TRUE(waitUntil([&] { return results.size() > before; }, limit + 2s));
        return results.size() > before ? results.back() : CommandResult{CommandOutcome::Failed, "no result"};
    }

    std::vector<std::pair<int, int>> framesSent() const {
        std::vector<std::pair<int, int>> pairs;
        for (const x10sim::Frame& frame : simulator.frames()) pairs.emplace_back(frame.header, frame.code);
        return pairs;
    }

    x10sim::Simulator simulator;
    std::optional<HeadlessHost> host;
    std::vector<CommandResult> results;
    std::vector<QString> messages;
    std::vector<Heard> heard;
};

Variant text(const char* value) { return Variant::fromText(value); }

TEST_F(HeadlessControl, EachCommandEndsOnceWithWhatTheControlDid) {
    struct Row {
        const char* member;
        std::vector<Variant> args;
        CommandOutcome outcome;
        QString message;  // the control's message, or part of the error's description
        std::vector<std::pair<int, int>> frames;
    };
    const std::vector<Row> rows{
        {"x10on", {text("A"), text("01")}, CommandOutcome::Ready, {}, {{0x04, 0x66}, {0x06, 0x62}}},
        {"x10off", {text("b"), text("16")}, CommandOutcome::Ready, {}, {{0x04, 0xEC}, {0x06, 0xE3}}},
        {"lightson", {text("C")}, CommandOutcome::Ready, {}, {{0x06, 0x21}}},
        {"alloff", {text("A")}, CommandOutcome::Ready, {}, {{0x06, 0x60}}},
        {"x10on", {text("Q"), text("01")}, CommandOutcome::Refused, "The housecode must be between A and P", {}},
        {"x10on", {text("A"), text("17")}, CommandOutcome::Refused, "The Unitcode must be between 1 and 16", {}},
        {"x10dim",
         {text("A"), text("01"), Variant::fromInt16(96)},
         CommandOutcome::Refused,
         "Dim value must between 5 and 95",
         {}},
        {"x10on", {text("A"), text("one")}, CommandOutcome::Failed, "Type mismatch", {}},
    };
    open();
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.member) + " " + row.message.toStdString());
        const std::size_t framesBefore = simulator.frames().size();
        const std::size_t messagesBefore = messages.size();
        const CommandResult result = run(row.member, row.args);
        EXPECT_EQ(result.outcome, row.outcome);
        EXPECT_TRUE(result.message.contains(row.message)) << result.message.toStdString();
        if (row.outcome == CommandOutcome::Refused) {
            ASSERT_EQ(messages.size(), messagesBefore + 1);
            EXPECT_EQ(messages.back(), "Error: " + row.message);
        }
        const auto frames = framesSent();
        EXPECT_EQ(std::vector(frames.begin() + static_cast<std::ptrdiff_t>(framesBefore), frames.end()), row.frames);
        EXPECT_FALSE(host->commandRunning());
    }
}

TEST_F(HeadlessControl, ACommandOnAClosedPortIsRefusedWithTheControlsMessage) {
    const CommandResult result = run("x10on", {text("A"), text("01")});
    EXPECT_EQ(result.outcome, CommandOutcome::Refused);
    EXPECT_EQ(result.message, "Port must be open before you can call a command");
}

TEST_F(HeadlessControl, AnInterfaceThatFallsSilentTimesOutAndAResetLetsTheNextCommandThrough) {
    open();
    simulator.injectFault(x10sim::Fault::NoAnswer);
    const CommandResult silent = run("x10on", {text("A"), text("02")}, 300ms);
    EXPECT_EQ(silent.outcome, CommandOutcome::TimedOut);
    EXPECT_TRUE(silent.message.contains("did not echo")) << silent.message.toStdString();
    // Without the reset the control would still await the lost echo and take the next
    // command's echo for it.
    host->resetHandshake();
    EXPECT_EQ(host->get(host->idOfName("comstatus")).toInt32(), 0);
    EXPECT_EQ(run("x10on", {text("A"), text("03")}).outcome, CommandOutcome::Ready);
    EXPECT_EQ(simulator.module('A', 3).on, true);
}

TEST_F(HeadlessControl, AWrongReadyByteStopsTheCommandWithTheControlsMessage) {
    open();
    simulator.injectFault(x10sim::Fault::NotReady);
    const CommandResult result = run("x10on", {text("A"), text("04")});
    EXPECT_EQ(result.outcome, CommandOutcome::Stopped);
    EXPECT_EQ(result.message, "Interface is not responding");
    EXPECT_EQ(messages.back(), "quenvar: Interface is not responding");
    EXPECT_EQ(run("x10off", {text("A"), text("04")}).outcome, CommandOutcome::Ready);
}

TEST_F(HeadlessControl, FunctionsHeardOnTheLineArriveAsSignals) {
    struct Row {
        const char* remote;
        Heard expected;
    };
    const std::vector<Row> rows{
        {"remote A1 on", {"A", "01", "On", 0}},
        {"remote A1 A3 off", {"A", "01,03", "Off", 0}},
        {"remote B all-lights-on", {"B", "", "All Lights On", 0}},
    };
    open();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.remote);
        const auto command = x10sim::parseConsoleCommand(row.remote);
        ASSERT_TRUE(std::holds_alternative<x10sim::ConsoleCommand>(command));
        const std::size_t before = heard.size();
        simulator.sendFromOtherTransmitter(std::get<x10sim::ConsoleCommand>(command).frames);
        ASSERT_TRUE(waitUntil([&] { return heard.size() > before; }));
        EXPECT_EQ(heard.back(), row.expected);
    }
}

// Without a host's sink and without a QApplication, a box must neither open (which would end the
// process) nor wait: it becomes a warning naming its title and text.
TEST_F(HeadlessControl, WithoutASinkTheControlsBoxesBecomeLogLines) {
    host.reset();
    EXPECT_FALSE(automation::hasMessageSink());
    static QStringList logged;
    logged.clear();
    const QtMessageHandler previous =
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& line) { logged.append(line); });
    automation::ObjectRef control = automation::createObject(progId);
    control->call(*control->idOfName("x10on"), {text("A"), text("01")});
    qInstallMessageHandler(previous);
    EXPECT_EQ(logged, QStringList{"Error: Port must be open before you can call a command"});
}

TEST_F(HeadlessControl, TheSinkAHostReplacedComesBackWhenItGoes) {
    std::vector<std::string> outer;
    const automation::MessageSink before = automation::installMessageSink(
        [&outer](const std::string& prompt, const std::string&) { outer.push_back(prompt); });
    {
        HeadlessHost inner;
        EXPECT_TRUE(automation::deliverMessage("to the inner host", "t"));
    }
    EXPECT_TRUE(automation::deliverMessage("to the outer sink", "t"));
    automation::installMessageSink(before);
    EXPECT_EQ(outer, std::vector<std::string>{"to the outer sink"});
}

}  // namespace
}  // namespace quenvar::testing
