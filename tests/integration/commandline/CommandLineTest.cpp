// quenvar as a person or a script runs it: the program started as a process against x10sim on a
// pseudo-terminal in this test's event loop, its exit code, standard output and standard error.

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <signal.h>

#include <memory>
#include <vector>

#include "platform/headless/PortLock.h"
#include "sim/ConsoleCommands.h"
#include "sim/Simulator.h"
#include "tests/integration/commandline/QuenvarRun.h"
#include "tests/integration/module/ModuleFixture.h"
#include "tests/support/EventLoopWaits.h"

namespace quenvar::testing {
namespace {

using namespace std::chrono_literals;
using Frames = std::vector<std::pair<int, int>>;

class QuenvarProgram : public ModuleFixture {
protected:
    void SetUp() override {
        ModuleFixture::SetUp();
        registerModule();
        simulator.start();
        ASSERT_TRUE(lockFolder.isValid());
        environment.insert("QUENVAR_REGISTRY", registryFolder.path());
        environment.insert("QUENVAR_COMM1", simulator.devicePath());
        environment.insert("QUENVAR_LOCK_DIR", lockFolder.path());
        environment.remove("QUENVAR_BROKER");
    }

    std::unique_ptr<QProcess> start(const QStringList& arguments) { return startQuenvar(environment, arguments); }
    Ended finish(QProcess& process) { return finishQuenvar(process); }
    Ended run(const QStringList& arguments) { return finish(*start(arguments)); }

    // What the computer had sent on the power line, in order.
    Frames computerFrames() const {
        Frames frames;
        for (const x10sim::Frame& frame : simulator.frames()) {
            if (frame.origin == x10sim::FrameOrigin::Interface) frames.emplace_back(frame.header, frame.code);
        }
        return frames;
    }

    void remote(const char* line) {
        const auto command = x10sim::parseConsoleCommand(line);
        ASSERT_TRUE(std::holds_alternative<x10sim::ConsoleCommand>(command)) << line;
        simulator.sendFromOtherTransmitter(std::get<x10sim::ConsoleCommand>(command).frames);
    }

    x10sim::Simulator simulator;
    QTemporaryDir lockFolder;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
};

TEST_F(QuenvarProgram, EachCommandPutsItsBytesOnTheLineAndEndsWithZero) {
    struct Row {
        QStringList arguments;
        Frames frames;
    };
    const std::vector<Row> rows{
        {{"on", "A1"}, {{0x04, 0x66}, {0x06, 0x62}}},
        {{"off", "a16"}, {{0x04, 0x6C}, {0x06, 0x63}}},
        {{"dim", "E5", "50"}, {{0x04, 0x11}, {0x5E, 0x14}}},
        {{"bright", "B13", "95%"}, {{0x04, 0xE0}, {0x96, 0xE5}}},
        {{"dim", "A1", "15"}, {{0x04, 0x66}, {0x16, 0x64}}},
        {{"lightson", "P"}, {{0x06, 0xC1}}},
        {{"lightsoff", "M"}, {{0x06, 0x06}}},
        {{"alloff", "J"}, {{0x06, 0xF0}}},
        // Several units: every address, then the function once.
        {{"off", "A1", "A3", "A5"}, {{0x04, 0x66}, {0x04, 0x62}, {0x04, 0x61}, {0x06, 0x63}}},
        {{"dim", "c16", "C2", "40"}, {{0x04, 0x2C}, {0x04, 0x2E}, {0x4E, 0x24}}},
        {{"on", "G1", "G16", "--timeout", "3"}, {{0x04, 0x56}, {0x04, 0x5C}, {0x06, 0x52}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.arguments.join(' ').toStdString());
        const std::size_t before = computerFrames().size();
        const Ended ended = run(row.arguments);
        EXPECT_EQ(ended.exitCode, 0) << ended.err.toStdString();
        EXPECT_EQ(ended.err, "");
        EXPECT_TRUE(ended.out.endsWith(": done\n")) << ended.out.toStdString();
        const Frames frames = computerFrames();
        EXPECT_EQ(Frames(frames.begin() + static_cast<std::ptrdiff_t>(before), frames.end()), row.frames);
    }
    EXPECT_TRUE(simulator.module('A', 16).on == false && simulator.module('P', 1).on);
    const Ended quiet = run({"--quiet", "on", "A2"});
    EXPECT_EQ(quiet.exitCode, 0);
    EXPECT_EQ(quiet.out + quiet.err, "");
}

TEST_F(QuenvarProgram, RefusalsAndUsageErrorsEndWithTwoAndSendNothing) {
    struct Row {
        QStringList arguments;
        QString message;  // the whole first line on standard error
    };
    const std::vector<Row> rows{
        // The control's own checks.
        {{"on", "Q1"}, "quenvar: The housecode must be between A and P"},
        {{"lightson", "Z"}, "quenvar: The housecode must be between A and P"},
        {{"on", "A17"}, "quenvar: The Unitcode must be between 1 and 16"},
        {{"off", "A0"}, "quenvar: The Unitcode must be between 1 and 16"},
        {{"dim", "A1", "4"}, "quenvar: Dim value must between 5 and 95"},
        {{"bright", "A1", "96"}, "quenvar: Dim value must between 5 and 95"},
        {{"dim", "A1", "A3", "100"}, "quenvar: Dim value must between 5 and 95"},
        // The units after the first, checked before anything is queued.
        {{"off", "A1", "A17"}, "quenvar: The Unitcode must be between 1 and 16"},
        {{"on", "Q1", "Q2"}, "quenvar: The housecode must be between A and P"},
        // The command line itself.
        {{}, "quenvar: name a command: on, off, dim, bright, lightson, lightsoff, alloff or monitor"},
        {{"switch", "A1"}, "quenvar: unknown command \"switch\""},
        {{"on"}, "quenvar: usage: quenvar on ADDRESS..."},
        {{"on", "A1x"}, "quenvar: \"A1x\" is not a module address: give a house letter and a unit, such as A1 or P16"},
        {{"on", "A1", "B2"}, "quenvar: the units of one command share one house: A1 and B2"},
        {{"on", "A1", "a1"}, "quenvar: a1 is named twice"},
        {{"dim", "A1", "much"}, "quenvar: the level must be a whole percentage from 5 to 95, not \"much\""},
        {{"dim", "A1", "40000"}, "quenvar: the level must be a whole percentage from 5 to 95, not \"40000\""},
        {{"lightson", "AB"}, "quenvar: \"AB\" is not a house letter: give one of A to P"},
        {{"on", "A1", "--json"}, "quenvar: --json is for monitor"},
        {{"on", "A1", "--port", "17"}, "quenvar: --port must be a number from 1 to 16, not \"17\""},
        {{"on", "A1", "--timeout", "0"}, "quenvar: --timeout must be a number of seconds above 0, not \"0\""},
        {{"on", "A1", "--frobnicate"}, "quenvar: Unknown option 'frobnicate'."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.arguments.join(' ').toStdString());
        const Ended ended = run(row.arguments);
        EXPECT_EQ(ended.exitCode, 2);
        EXPECT_EQ(ended.err.section('\n', 0, 0), row.message);
        EXPECT_EQ(ended.out, "");
    }
    EXPECT_EQ(computerFrames(), Frames{});
    // A refused command leaves nothing queued behind: the next one sends only its own bytes.
    EXPECT_EQ(run({"on", "A2"}).exitCode, 0);
    EXPECT_EQ(computerFrames(), (Frames{{0x04, 0x6E}, {0x06, 0x62}}));
}

TEST_F(QuenvarProgram, HelpAndVersionGoToStandardOutput) {
    struct Row {
        QStringList arguments;
        QString contains;
    };
    const std::vector<Row> rows{
        {{"--help"}, "Usage: quenvar [options] COMMAND [ARGUMENTS]"},
        {{"--help"}, "  5  the MQTT bridge cannot be reached"},
        {{"dim", "--help"}, "Usage: quenvar [options] dim ADDRESS... PERCENT"},
        {{"monitor", "--help"}, "One line per function heard"},
        {{"--version"}, "quenvar 1.0.0"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.arguments.join(' ').toStdString());
        const Ended ended = run(row.arguments);
        EXPECT_EQ(ended.exitCode, 0);
        EXPECT_TRUE(ended.out.contains(row.contains)) << ended.out.toStdString();
        EXPECT_EQ(ended.err, "");
    }
}

TEST_F(QuenvarProgram, AnInterfaceThatDoesNotFinishEndsWithThreeAndWhatWasLastSeen) {
    struct Row {
        x10sim::Fault fault;
        QString said;
    };
    const std::vector<Row> rows{
        {x10sim::Fault::NoAnswer, "on A1: not finished within 0.5 s: the interface did not echo the checksum in time"},
        {x10sim::Fault::WrongEcho, "on A1: not finished within 0.5 s: the interface did not echo the checksum in time"},
        {x10sim::Fault::NotReady, "on A1: Interface is not responding"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.said.toStdString());
        simulator.injectFault(row.fault);
        const auto started = std::chrono::steady_clock::now();
        const Ended ended = run({"on", "A1", "--timeout", "0.5"});
        EXPECT_LT(std::chrono::steady_clock::now() - started, 5s) << "the limit was kept";
        EXPECT_EQ(ended.exitCode, 3);
        EXPECT_EQ(ended.err, "quenvar: " + row.said + "\n");
        simulator.injectFault(x10sim::Fault::None);
    }
    // The next command starts afresh.
    EXPECT_EQ(run({"off", "A1"}).exitCode, 0);
}

TEST_F(QuenvarProgram, APowerFailureDuringACommandIsAnsweredAndTheCommandCompletes) {
    simulator.powerFailure();
    const Ended ended = run({"on", "B2"});
    EXPECT_EQ(ended.exitCode, 0) << ended.err.toStdString();
    EXPECT_TRUE(simulator.module('B', 2).on);
    EXPECT_TRUE(simulator.receivedBytes().contains(QByteArray::fromHex("fb") + QByteArray(42, '\0')));
}

TEST_F(QuenvarProgram, APortThatCannotBeOpenedEndsWithFourAndTheRemedy) {
    struct Row {
        QStringList arguments;
        QString says;
    };
    const std::vector<Row> rows{
        {{"on", "A1", "--device", "/dev/quenvar-no-such-device"}, "/dev/quenvar-no-such-device"},
        {{"on", "A1", "--device", "/dev/null"}, "/dev/null"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.arguments.join(' ').toStdString());
        const Ended ended = run(row.arguments);
        EXPECT_EQ(ended.exitCode, 4);
        EXPECT_TRUE(ended.err.startsWith("quenvar: ") && ended.err.contains(row.says)) << ended.err.toStdString();
    }
}

TEST_F(QuenvarProgram, ADeviceThatVanishesDuringACommandEndsItNamingTheDevice) {
    // The device goes once the address is on the power line, before the function is sent.
    QObject::connect(
        &simulator, &x10sim::Simulator::frameSent, &simulator, [this] { simulator.disappear(); }, Qt::QueuedConnection);
    const Ended ended = run({"on", "A1"});
    // 3 when the loss is seen while waiting for the interface, 4 when the function's write finds
    // the device gone: either way the message names the port and its device.
    EXPECT_TRUE(ended.exitCode == 3 || ended.exitCode == 4) << ended.exitCode;
    EXPECT_TRUE(ended.err.startsWith("quenvar: ") &&
                ended.err.contains("Serial port 1 (" + simulator.devicePath() + ")"))
        << ended.err.toStdString();
    EXPECT_EQ(computerFrames(), (Frames{{0x04, 0x66}}));
}

TEST_F(QuenvarProgram, FunctionsHeardDuringACommandAreToldAndTheCommandGoesOutOnce) {
    remote("remote C3 off");
    const Ended ended = run({"on", "A1"});
    EXPECT_EQ(ended.exitCode, 0) << ended.err.toStdString();
    EXPECT_EQ(ended.err, "heard: C3 off\n");
    EXPECT_EQ(computerFrames(), (Frames{{0x04, 0x66}, {0x06, 0x62}}));
    const Ended quiet = run({"on", "A2", "--quiet"});
    EXPECT_EQ(quiet.err, "");
}

TEST_F(QuenvarProgram, TwoCommandsAtOnceTakeTurnsOnThePort) {
    auto first = start({"off", "A1", "A3", "A5"});
    auto second = start({"on", "B2", "B4"});
    const Ended one = finish(*first);
    const Ended two = finish(*second);
    EXPECT_EQ(one.exitCode, 0) << one.err.toStdString();
    EXPECT_EQ(two.exitCode, 0) << two.err.toStdString();
    const Frames offs{{0x04, 0x66}, {0x04, 0x62}, {0x04, 0x61}, {0x06, 0x63}};
    const Frames ons{{0x04, 0xEE}, {0x04, 0xEA}, {0x06, 0xE2}};
    Frames inTurn = offs, otherTurn = ons;
    inTurn.insert(inTurn.end(), ons.begin(), ons.end());
    otherTurn.insert(otherTurn.end(), offs.begin(), offs.end());
    const Frames frames = computerFrames();
    EXPECT_TRUE(frames == inTurn || frames == otherTurn) << "the two commands' frames interleaved";
}

TEST_F(QuenvarProgram, ACommandGivesUpOnAPortHeldTooLongAndNamesTheHolder) {
    headless::PortLock held(simulator.devicePath(), lockFolder.path());
    ASSERT_EQ(held.tryLock({4242, "porch-timer", simulator.devicePath(), {}, {}, {}}), headless::LockResult::Acquired);
    const Ended ended = run({"on", "A1", "--timeout", "0.3"});
    EXPECT_EQ(ended.exitCode, 4);
    EXPECT_TRUE(ended.err.contains("is in use by pid 4242 (porch-timer)")) << ended.err.toStdString();
    EXPECT_EQ(computerFrames(), Frames{});
}

TEST_F(QuenvarProgram, MonitorPrintsWhatRemotesSendAsTextAndAsJson) {
    struct Row {
        const char* remote;
        QString text;  // after the time
        QString house;
        QList<int> units;
        QString function;
        int level;
    };
    const std::vector<Row> rows{
        {"remote A1 on", "A1 on", "A", {1}, "on", 0},
        {"remote A1 A3 off", "A1,A3 off", "A", {1, 3}, "off", 0},
        {"remote A dim 11", "A1,A3 dim 50%", "A", {1, 3}, "dim", 50},
        {"remote P16 bright 22", "P16 bright 100%", "P", {16}, "bright", 100},
        {"remote B all-lights-on", "B all lights on", "B", {}, "all_lights_on", 0},
    };
    for (const bool json : {false, true}) {
        SCOPED_TRACE(json ? "json" : "text");
        auto monitor = start(json ? QStringList{"monitor", "--json"} : QStringList{"monitor"});
        ASSERT_TRUE(monitorListens(*monitor));
        for (const Row& row : rows) {
            SCOPED_TRACE(row.remote);
            remote(row.remote);
            ASSERT_TRUE(waitUntil([&] { return monitor->canReadLine(); }, 10s))
                << monitor->readAllStandardError().toStdString();
            const QByteArray line = monitor->readLine().trimmed();
            if (json) {
                const QJsonObject object = QJsonDocument::fromJson(line).object();
                EXPECT_EQ(object.value("house").toString(), row.house);
                QList<int> units;
                for (const QJsonValue unit : object.value("units").toArray()) units << unit.toInt();
                EXPECT_EQ(units, row.units);
                EXPECT_EQ(object.value("function").toString(), row.function);
                EXPECT_EQ(object.value("level").toInt(), row.level);
                EXPECT_TRUE(QDateTime::fromString(object.value("time").toString(), Qt::ISODateWithMs).isValid())
                    << line.toStdString();
            } else {
                EXPECT_EQ(QString::fromUtf8(line).section(' ', 2), row.text) << line.toStdString();
            }
        }
        ::kill(static_cast<pid_t>(monitor->processId()), SIGINT);
        const Ended ended = finish(*monitor);
        EXPECT_EQ(ended.exitCode, 0) << ended.err.toStdString();
    }
}

TEST_F(QuenvarProgram, MonitorEndsWithAMessageWhenTheDeviceVanishes) {
    auto monitor = start({"monitor"});
    ASSERT_TRUE(monitorListens(*monitor));
    simulator.disappear();
    const Ended ended = finish(*monitor);
    EXPECT_EQ(ended.exitCode, 4);
    EXPECT_TRUE(ended.err.contains("quenvar: Serial port 1 (" + simulator.devicePath() + ")"))
        << ended.err.toStdString();
}

}  // namespace
}  // namespace quenvar::testing
