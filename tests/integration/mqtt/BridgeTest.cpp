// quenvar-mqtt against a real broker and x10sim: what goes on the wire for each request, the
// states that follow the line, discovery, and a link that stays up.

#include <QFile>
#include <QJsonArray>
#include <QStandardPaths>

#include <map>
#include <random>

#include "sim/ConsoleCommands.h"
#include "tests/integration/mqtt/BridgeFixture.h"
#include "tests/support/EventLoopWaits.h"

namespace quenvar::testing {
namespace {

using namespace std::chrono_literals;
using Frames = std::vector<std::pair<int, int>>;
const QByteArray done = R"({"result":"done"})";

class Bridge : public BridgeFixture {
protected:
    void remote(const char* line) {
        const auto command = x10sim::parseConsoleCommand(line);
        ASSERT_TRUE(std::holds_alternative<x10sim::ConsoleCommand>(command)) << line;
        const std::size_t from = probe->count();
        simulator->sendFromOtherTransmitter(std::get<x10sim::ConsoleCommand>(command).frames);
        ASSERT_TRUE(probe->waitFor([](const SeenMessage& m) { return m.topic == "quenvar/house/received"; }, from))
            << line;
    }
    QJsonObject lastReceived() const {
        return QJsonDocument::fromJson(probe->last("quenvar/house/received").value_or("{}")).object();
    }
};

TEST_F(Bridge, EverySetFormPutsItsBytesOnTheWireAndRetainsTheState) {
    struct Row {
        QString address;
        QByteArray payload;
        Frames frames;
        std::map<QString, QByteArray> states;
    };
    const QByteArray off = R"({"brightness":null,"state":"OFF"})";
    const std::vector<Row> rows{
        {"A1", R"({"state":"ON"})", {{0x04, 0x66}, {0x06, 0x62}}, {{"A1", R"({"brightness":255,"state":"ON"})"}}},
        {"A1",
         R"({"state":"ON","brightness":128})",
         {{0x04, 0x66}, {0x5E, 0x64}},
         {{"A1", R"({"brightness":128,"state":"ON"})"}}},
        {"A1",
         R"({"command":"bright","level":50})",
         {{0x04, 0x66}, {0x5E, 0x65}},
         {{"A1", R"({"brightness":255,"state":"ON"})"}}},
        {"A1",
         R"({"command":"dim","level":20})",
         {{0x04, 0x66}, {0x2E, 0x64}},
         {{"A1", R"({"brightness":197,"state":"ON"})"}}},
        {"A1", R"({"state":"OFF"})", {{0x04, 0x66}, {0x06, 0x63}}, {{"A1", off}}},
        {"A3",
         R"({"state":"ON","brightness":64})",
         {{0x04, 0x62},
          {0x06, 0x62},
          {0x04, 0x62},
          {0x9E, 0x65},
          {0x04, 0x62},
          {0x1E, 0x65},
          {0x04, 0x62},
          {0x86, 0x64}},
         {{"A3", R"({"brightness":70,"state":"ON"})"}}},
        {"A2", R"({"state":"ON"})", {{0x04, 0x6E}, {0x06, 0x62}}, {{"A2", R"({"state":"ON"})"}}},
        {"A2", R"({"command":"off"})", {{0x04, 0x6E}, {0x06, 0x63}}, {{"A2", R"({"state":"OFF"})"}}},
        {"A",
         R"({"command":"all_lights_on"})",
         {{0x06, 0x61}},
         {{"A1", R"({"brightness":255,"state":"ON"})"},
          {"A2", R"({"state":"OFF"})"},
          {"A3", R"({"brightness":255,"state":"ON"})"}}},
        {"A",
         R"({"command":"all_units_off"})",
         {{0x06, 0x60}},
         {{"A1", off}, {"A2", R"({"state":"OFF"})"}, {"A3", off}}},
        {"A", R"({"command":"all_lights_off"})", {{0x06, 0x66}}, {{"A1", off}, {"A3", off}}},
    };
    startBridge();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.address.toStdString() + " " + row.payload.toStdString());
        const std::size_t frames = simulator->frames().size();
        EXPECT_EQ(ask(row.address, row.payload), done);
        EXPECT_EQ(framesFrom(frames), row.frames);
        for (const auto& [address, state] : row.states)
            EXPECT_EQ(probe->last("quenvar/house/" + address + "/state"), state);
    }
    // Retained: a client that comes later is told the states at once.
    Probe late(probeOptions(broker->port(), "late"));
    ASSERT_TRUE(late.connect("quenvar/house/+/state"));
    EXPECT_EQ(late.last("quenvar/house/A2/state"), R"({"state":"OFF"})");
    EXPECT_EQ(late.last("quenvar/house/A3/state"), R"({"brightness":null,"state":"OFF"})");
}

TEST_F(Bridge, StateFollowsWhatTheLineCarriesFromOtherTransmitters) {
    struct Row {
        const char* remote;
        QJsonObject received;  // house, units, function, level
        std::map<QString, QByteArray> states;
    };
    const std::vector<Row> rows{
        {"remote A1 on",
         {{"house", "A"}, {"units", QJsonArray{1}}, {"function", "on"}, {"level", 0}},
         {{"A1", R"({"brightness":255,"state":"ON"})"}}},
        {"remote A dim 11",
         {{"house", "A"}, {"units", QJsonArray{1}}, {"function", "dim"}, {"level", 50}},
         {{"A1", R"({"brightness":128,"state":"ON"})"}}},
        {"remote A1 A3 off",
         {{"house", "A"}, {"units", QJsonArray{1, 3}}, {"function", "off"}, {"level", 0}},
         {{"A1", R"({"brightness":null,"state":"OFF"})"}, {"A3", R"({"brightness":null,"state":"OFF"})"}}},
        {"remote A2 on",
         {{"house", "A"}, {"units", QJsonArray{2}}, {"function", "on"}, {"level", 0}},
         {{"A2", R"({"state":"ON"})"}}},
        {"remote A all-lights-off",
         {{"house", "A"}, {"units", QJsonArray{}}, {"function", "all_lights_off"}, {"level", 0}},
         {{"A1", R"({"brightness":null,"state":"OFF"})"}, {"A2", R"({"state":"ON"})"}}},
        {"remote A all-lights-on",
         {{"house", "A"}, {"units", QJsonArray{}}, {"function", "all_lights_on"}, {"level", 0}},
         {{"A1", R"({"brightness":255,"state":"ON"})"}, {"A3", R"({"brightness":255,"state":"ON"})"}}},
    };
    startBridge();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.remote);
        remote(row.remote);
        QJsonObject received = lastReceived();
        EXPECT_FALSE(received.take("time").toString().isEmpty());
        EXPECT_EQ(received, row.received);
        for (const auto& [address, state] : row.states)
            EXPECT_EQ(probe->last("quenvar/house/" + address + "/state"), state);
    }

    // A remote button on an address no module is configured for: an event entity of the interface,
    // announced to Home Assistant but not retained.
    const std::size_t from = probe->count();
    remote("remote B5 on");
    const QString discovery = "homeassistant/event/quenvar_house_B5_remote/config";
    ASSERT_EQ(probe->on(discovery, from).size(), 1u);
    EXPECT_EQ(QJsonDocument::fromJson(probe->last(discovery).value()).object()["state_topic"],
              "quenvar/house/B5/event");
    ASSERT_EQ(probe->on("quenvar/house/B5/event", from).size(), 1u);
    EXPECT_EQ(QJsonDocument::fromJson(probe->last("quenvar/house/B5/event").value()).object()["event_type"], "on");
    Probe late(probeOptions(broker->port(), "late"));
    ASSERT_TRUE(late.connect("homeassistant/#"));
    EXPECT_FALSE(late.last(discovery).has_value());
    EXPECT_TRUE(late.last("homeassistant/light/quenvar_house_A1/config").has_value());
}

TEST_F(Bridge, DiscoveryIsRetainedRepublishedForHomeAssistantAndRemovedWithTheModule) {
    startBridge({"A1=lamp:Porch", "A2=appliance:Fan"});
    const QString light = "homeassistant/light/quenvar_house_A1/config";
    const QString fan = "homeassistant/switch/quenvar_house_A2/config";
    {
        Probe late(probeOptions(broker->port(), "late"));
        ASSERT_TRUE(late.connect("homeassistant/#"));
        for (const QString& topic : {light, fan}) {
            const auto seen = late.on(topic);
            ASSERT_EQ(seen.size(), 1u) << topic.toStdString();
            EXPECT_TRUE(seen.front().retained);
        }
        EXPECT_EQ(QJsonDocument::fromJson(*late.last(fan)).object()["device"].toObject()["name"], "Fan");
    }

    std::size_t from = probe->count();
    probe->publish("homeassistant/status", "online");
    EXPECT_TRUE(probe->waitFor([&](const SeenMessage& m) { return m.topic == light; }, from));
    EXPECT_TRUE(probe->waitFor([&](const SeenMessage& m) { return m.topic == fan; }, from));

    stopBridge();
    from = probe->count();
    startBridge({"A1=lamp:Porch"});
    EXPECT_TRUE(probe->waitFor(fan, "", from));
    Probe later(probeOptions(broker->port(), "later"));
    ASSERT_TRUE(later.connect("homeassistant/#"));
    EXPECT_TRUE(later.last(light).has_value());
    EXPECT_FALSE(later.last(fan).has_value());
}

TEST_F(Bridge, PayloadsItCannotReadAreAnsweredOnTheErrorTopicAndNothingGoesOnTheWire) {
    struct Row {
        QString address;
        QByteArray payload;
        QString reason;
    };
    const std::vector<Row> rows{
        {"A1", "on please", "not a JSON object"},
        {"A1", R"({"state":"DIMMED"})", "unknown state"},
        {"A1", R"({"state":"ON","brightness":300})", "brightness must be from 0 to 255"},
        {"Q1", R"({"state":"ON"})", "out of range"},
        {"A17", R"({"state":"ON"})", "out of range"},
        {"A1", R"({"command":"dim","level":99})", "level must be from 5 to 95"},
    };
    startBridge();
    const std::size_t frames = simulator->frames().size();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.payload.toStdString());
        const std::size_t from = probe->count();
        const QJsonObject answer = QJsonDocument::fromJson(ask(row.address, row.payload)).object();
        EXPECT_EQ(answer["code"], 2);
        EXPECT_TRUE(answer["error"].toString().contains(row.reason)) << answer["error"].toString().toStdString();
        const auto errors = probe->on("quenvar/house/error", from);
        ASSERT_EQ(errors.size(), 1u);
        const QJsonObject error = QJsonDocument::fromJson(errors.front().payload).object();
        EXPECT_EQ(error["topic"], "quenvar/house/" + row.address + "/set");
        EXPECT_EQ(error["payload"], QString::fromUtf8(row.payload));
        EXPECT_EQ(error["error"], answer["error"]);
    }
    EXPECT_EQ(framesFrom(frames), Frames{});
}

TEST_F(Bridge, KilledOutrightItLeavesItsLastWill) {
    startBridge();
    const std::size_t from = probe->count();
    bridge.kill();
    EXPECT_TRUE(probe->waitFor("quenvar/house/bridge/availability", "offline", from));
}

TEST_F(Bridge, AfterTheBrokerRestartsItConnectsAgainAndPublishesEverythingAgain) {
    startBridge();
    EXPECT_EQ(ask("A1", R"({"state":"ON"})"), done);
    broker->stop();
    ASSERT_TRUE(waitUntil([&] { return !probe->connected(); }));
    ASSERT_TRUE(broker->start());  // same port, nothing kept
    probe = std::make_unique<Probe>(probeOptions(broker->port(), "probe-after"));
    ASSERT_TRUE(probe->connect());
    EXPECT_TRUE(probe->waitFor("quenvar/house/bridge/availability", "online", 0, 40s)) << output();
    EXPECT_TRUE(probe->waitFor("quenvar/house/availability", "online", 0));
    EXPECT_TRUE(
        probe->waitFor([](const SeenMessage& m) { return m.topic == "homeassistant/light/quenvar_house_A1/config"; }));
    EXPECT_TRUE(probe->waitFor("quenvar/house/A1/state", R"({"brightness":255,"state":"ON"})"));
    EXPECT_EQ(ask("A1", R"({"state":"OFF"})"), done);
}

TEST_F(Bridge, ABrokerThatIsNotUpYetIsWaitedFor) {
    broker->stop();
    launchBridge({"A1=lamp"}, {});
    ASSERT_TRUE(broker->start());
    connectProbe();
    EXPECT_TRUE(probe->waitFor("quenvar/house/bridge/availability", "online", 0, 40s)) << output();
    EXPECT_EQ(ask("A1", R"({"state":"ON"})"), done);
}

TEST_F(Bridge, AnInterfaceThatStopsAnsweringGoesOfflineAndTheNextCommandTriesAgain) {
    startBridge();
    std::size_t from = probe->count();
    simulator->injectFault(x10sim::Fault::NoAnswer);
    const QJsonObject failed = QJsonDocument::fromJson(ask("A1", R"({"state":"ON"})")).object();
    EXPECT_EQ(failed["code"], 3);
    EXPECT_TRUE(failed["error"].toString().contains("did not finish in time"))
        << failed["error"].toString().toStdString();
    EXPECT_TRUE(probe->waitFor("quenvar/house/availability", "offline", from));

    from = probe->count();
    const std::size_t frames = simulator->frames().size();
    EXPECT_EQ(ask("A1", R"({"state":"ON"})"), done);
    EXPECT_EQ(framesFrom(frames), (Frames{{0x04, 0x66}, {0x06, 0x62}}));
    EXPECT_TRUE(probe->waitFor("quenvar/house/availability", "online", from));
}

TEST_F(Bridge, APowerFailureOfTheInterfaceIsAnsweredAndCommandsGoOn) {
    startBridge();
    simulator->powerFailure();
    EXPECT_EQ(ask("A1", R"({"state":"ON"})"), done);
    EXPECT_TRUE(simulator->module('A', 1).on);
    EXPECT_EQ(ask("A1", R"({"state":"OFF"})"), done);
    EXPECT_FALSE(simulator->module('A', 1).on);
}

TEST_F(Bridge, ADeviceThatVanishesIsOfflineUntilItIsBackAndNothingIsSentTwice) {
    startBridge();
    std::size_t from = probe->count();
    simulator->disappear();
    // An unplugged adapter takes its device name with it: the bridge's tries to open it again must not
    // reach a pseudo-terminal that a test running beside this one was given under the same number.
    QFile::remove(link);
    ASSERT_TRUE(probe->waitFor("quenvar/house/availability", "offline", from)) << output();
    const QJsonObject refused = QJsonDocument::fromJson(ask("A1", R"({"state":"ON"})")).object();
    EXPECT_EQ(refused["code"], 3);
    EXPECT_TRUE(refused["error"].toString().contains("offline")) << refused["error"].toString().toStdString();

    from = probe->count();
    simulator.reset();
    startSimulator();
    ASSERT_TRUE(probe->waitFor("quenvar/house/availability", "online", from)) << output();
    EXPECT_EQ(framesFrom(0), Frames{});
    EXPECT_EQ(ask("A3", R"({"state":"OFF"})"), done);
    EXPECT_EQ(framesFrom(0), (Frames{{0x04, 0x62}, {0x06, 0x63}}));
}

TEST_F(Bridge, ABadSettingEndsItWithCode2BeforeAnythingIsSent) {
    const std::vector<std::pair<QStringList, QString>> rows{
        {{"--module", "Z9=lamp"}, "--module: key 'address'"},
        {{"--broker", "http://127.0.0.1"}, "--broker: key 'broker'"},
        {{"--brokr", "mqtt://127.0.0.1"}, "Unknown option 'brokr'"},
    };
    connectProbe();
    for (const auto& [flags, message] : rows) {
        const std::size_t from = probe->count();
        launchBridge({}, flags);
        ASSERT_TRUE(bridge.waitForFinished(10000));
        EXPECT_EQ(bridge.exitCode(), 2);
        EXPECT_TRUE(QString::fromUtf8(bridge.readAll()).contains(message));
        ASSERT_TRUE(probe->sync());
        EXPECT_TRUE(std::none_of(probe->messages().begin() + static_cast<std::ptrdiff_t>(from), probe->messages().end(),
                                 [](const SeenMessage& m) { return m.topic.startsWith("quenvar/"); }));
    }
}

// The power-fail reply is the control's own field: a control that has it answers the interface's
// power-fail request with the clock setting (0x9B) when asked to; a control without it cannot do
// what was asked, and the bridge says so at start instead of answering with the macro download.
TEST_F(Bridge, ThePowerFailReplyIsSetInTheControlOrRefusedAtStart) {
    automation::ObjectRef control = automation::createObject(progId);
    const bool controlHasField = control->idOfName("powerfailreply").has_value();
    control.reset();
    if (!controlHasField) {
        connectProbe();
        launchBridge({"A1=lamp"}, {"--power-fail-reply", "clock"});
        ASSERT_TRUE(bridge.waitForFinished(10000));
        EXPECT_EQ(bridge.exitCode(), 2);
        EXPECT_TRUE(QString::fromUtf8(bridge.readAll()).contains("power_fail_reply: this quenvar.ocx has no field"));
        return;
    }
    startBridge({"A1=lamp"}, {"--power-fail-reply", "clock"});
    const qsizetype before = simulator->receivedBytes().size();
    simulator->powerFailure();
    ASSERT_TRUE(waitUntil([&] { return simulator->receivedBytes().size() > before; }));
    EXPECT_EQ(static_cast<unsigned char>(simulator->receivedBytes().at(before)), 0x9B);
}

// Commands from the broker and a remote control taking turns on the line: at the end every
// retained state is what x10sim's modules are. Nothing lost, nothing applied twice.
TEST_F(Bridge, StatesMatchTheHouseAfterManyCommandsAndRemoteTraffic) {
    const QStringList lamps{"A1", "A3", "A5", "A7"};
    startBridge({"A1=lamp", "A3=lamp", "A5=lamp", "A7=lamp"});
    for (const QString& lamp : lamps) ASSERT_EQ(ask(lamp, R"({"state":"OFF"})"), done);

    std::mt19937 random(20261209);
    const auto pick = [&](int n) { return std::uniform_int_distribution<int>(0, n - 1)(random); };
    const char* remoteFunctions[] = {"on", "off", "dim 4", "bright 7", "dim 15"};
    for (int i = 0; i < 200; ++i) {
        const QString lamp = lamps[pick(lamps.size())];
        switch (pick(5)) {
            case 0:
            case 1:
                ASSERT_EQ(ask(lamp, QStringLiteral(R"({"state":"ON","brightness":%1})").arg(pick(256)).toUtf8()), done);
                break;
            case 2: ASSERT_EQ(ask(lamp, pick(2) ? R"({"state":"ON"})" : R"({"state":"OFF"})"), done); break;
            case 3: ASSERT_EQ(ask(lamp, R"({"command":"dim","level":35})"), done); break;
            case 4: remote(("remote " + lamp + " " + remoteFunctions[pick(5)]).toUtf8().constData()); break;
        }
    }
    Probe late(probeOptions(broker->port(), "late"));
    ASSERT_TRUE(late.connect("quenvar/house/+/state"));
    for (const QString& lamp : lamps) {
        const x10sim::ModuleState module = simulator->module('A', lamp.mid(1).toInt());
        const QJsonObject state =
            QJsonDocument::fromJson(late.last("quenvar/house/" + lamp + "/state").value()).object();
        SCOPED_TRACE(lamp.toStdString());
        EXPECT_EQ(state["state"], module.on ? "ON" : "OFF");
        if (module.on) EXPECT_EQ(state["brightness"], (module.level * 255 + 11) / 22);
    }
}

}  // namespace
}  // namespace quenvar::testing
