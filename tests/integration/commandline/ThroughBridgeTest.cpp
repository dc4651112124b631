// quenvar when the MQTT bridge holds the port: the real quenvar-mqtt on a mosquitto broker of the
// test's own, x10sim in the test's event loop; quenvar finds the bridge through the port's lock
// (or is told the broker) and asks it over MQTT 5, with the same exit codes as on the port.

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <signal.h>

#include "sim/ConsoleCommands.h"
#include "tests/integration/commandline/QuenvarRun.h"
#include "tests/integration/mqtt/BridgeFixture.h"
#include "tests/support/LoopbackPort.h"

namespace quenvar::testing {
namespace {

using Frames = std::vector<std::pair<int, int>>;

class QuenvarThroughBridge : public BridgeFixture {
protected:
    void SetUp() override {
        BridgeFixture::SetUp();
        environment.insert("QUENVAR_REGISTRY", registryFolder.path());
        environment.insert("QUENVAR_LOCK_DIR", folder.path());
        environment.insert("QUENVAR_COMM1", link);
        environment.remove("QUENVAR_BROKER");
    }

    Ended run(const QStringList& arguments) { return finishQuenvar(*startQuenvar(environment, arguments)); }

    void remote(const char* line) {
        const auto command = x10sim::parseConsoleCommand(line);
        ASSERT_TRUE(std::holds_alternative<x10sim::ConsoleCommand>(command)) << line;
        simulator->sendFromOtherTransmitter(std::get<x10sim::ConsoleCommand>(command).frames);
    }

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
};

TEST_F(QuenvarThroughBridge, CommandsGoThroughTheBridgeHoldingThePortWithTheSameExitCodes) {
    startBridge();
    struct Row {
        QStringList arguments;
        int exitCode;
        QString said;  // the start of standard output, or of standard error when not 0
        Frames frames;
    };
    const std::vector<Row> rows{
        {{"on", "A1"}, 0, "on A1: done", {{0x04, 0x66}, {0x06, 0x62}}},
        {{"dim", "A1", "40"}, 0, "dim A1 40: done", {{0x04, 0x66}, {0x4E, 0x64}}},
        // The bridge takes one module per request: the units go out one after another.
        {{"off", "A1", "A3"}, 0, "off A1 A3: done", {{0x04, 0x66}, {0x06, 0x63}, {0x04, 0x62}, {0x06, 0x63}}},
        {{"lightson", "B"}, 0, "lightson B: done", {{0x06, 0xE1}}},
        {{"on", "A17"}, 2, "quenvar: on A17: the address \"A17\" is out of range", {}},
        {{"dim", "A1", "96"}, 2, "quenvar: dim A1 96: level must be from 5 to 95", {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.arguments.join(' ').toStdString());
        const std::size_t before = simulator->frames().size();
        const Ended ended = run(row.arguments);
        EXPECT_EQ(ended.exitCode, row.exitCode) << ended.err.toStdString();
        EXPECT_TRUE((row.exitCode == 0 ? ended.out : ended.err).startsWith(row.said))
            << ended.out.toStdString() << ended.err.toStdString();
        EXPECT_EQ(framesFrom(before), row.frames);
    }
    // The bridge's own state follows what quenvar asked for.
    EXPECT_EQ(lastState("A3")["state"], "OFF");
}

TEST_F(QuenvarThroughBridge, AnInterfaceTheBridgeCannotReachEndsWithThree) {
    startBridge();
    simulator->injectFault(x10sim::Fault::NoAnswer);
    const Ended silent = run({"on", "A1"});
    EXPECT_EQ(silent.exitCode, 3);
    EXPECT_TRUE(silent.err.startsWith("quenvar: on A1: ")) << silent.err.toStdString();
    // The device gone: the bridge, asked through its broker, says its interface is offline.
    simulator->disappear();
    // An unplugged adapter takes its device name with it; a link left standing could meanwhile lead
    // to a pseudo-terminal that a test running beside this one was given under the same number.
    QFile::remove(link);
    const Ended offline = run({"off", "A1", "--broker", broker->url()});
    EXPECT_EQ(offline.exitCode, 3);
    EXPECT_TRUE(offline.err.startsWith("quenvar: off A1: ")) << offline.err.toStdString();
    // Without the broker named, the link to the vanished device leads to no lock and no device.
    const Ended gone = run({"off", "A1"});
    EXPECT_EQ(gone.exitCode, 4);
    EXPECT_TRUE(gone.err.startsWith("quenvar: Serial port 1 (" + link + ") does not exist")) << gone.err.toStdString();
}

TEST_F(QuenvarThroughBridge, ABridgeThatCannotBeReachedEndsWithFive) {
    startBridge();
    stopBridge();  // its last will: offline
    const QString closed = QStringLiteral("mqtt://127.0.0.1:%1").arg(freeLoopbackPort());
    struct Row {
        QStringList arguments;
        QString says;
    };
    const std::vector<Row> rows{
        {{"on", "A1", "--broker", closed}, "quenvar: cannot reach the MQTT broker at " + closed},
        {{"on", "A1", "--broker", broker->url()},
         "quenvar: the bridge of interface \"house\" on " + broker->url() + " is not running"},
        {{"monitor", "--broker", broker->url(), "--quiet"},
         "quenvar: the bridge of interface \"house\" on " + broker->url() + " is not running"},
        // A broker where no bridge of that interface ever was: nobody answers.
        {{"off", "A2", "--broker", broker->url(), "--interface", "attic", "--timeout", "0.2"},
         "quenvar: off A2: the bridge of interface \"attic\" on " + broker->url() + " did not answer within 5.2 s"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.arguments.join(' ').toStdString());
        const Ended ended = run(row.arguments);
        EXPECT_EQ(ended.exitCode, 5);
        EXPECT_TRUE(ended.err.startsWith(row.says)) << ended.err.toStdString();
    }
    environment.insert("QUENVAR_BROKER", broker->url());
    EXPECT_EQ(run({"on", "A1"}).exitCode, 5) << "QUENVAR_BROKER names the broker too";
    EXPECT_EQ(simulator->frames().size(), 0u);
}

TEST_F(QuenvarThroughBridge, MonitorReadsWhatTheBridgeHeard) {
    startBridge();
    auto monitor = startQuenvar(environment, {"monitor", "--json"});
    ASSERT_TRUE(monitorListens(*monitor));
    struct Row {
        const char* remote;
        QString house;
        int unit;
        QString function;
    };
    const std::vector<Row> rows{{"remote A2 on", "A", 2, "on"}, {"remote C5 off", "C", 5, "off"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.remote);
        remote(row.remote);
        ASSERT_TRUE(waitUntil([&] { return monitor->canReadLine(); }, std::chrono::seconds(10)));
        const QJsonObject heard = QJsonDocument::fromJson(monitor->readLine()).object();
        EXPECT_EQ(heard["house"].toString(), row.house);
        EXPECT_EQ(heard["units"].toArray().first().toInt(), row.unit);
        EXPECT_EQ(heard["function"].toString(), row.function);
    }
    ::kill(static_cast<pid_t>(monitor->processId()), SIGTERM);
    EXPECT_EQ(finishQuenvar(*monitor).exitCode, 0);
}

}  // namespace
}  // namespace quenvar::testing
