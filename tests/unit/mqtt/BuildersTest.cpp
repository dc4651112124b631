// The bridge's pure builders, against the values the line and Home Assistant expect.
#include <gtest/gtest.h>
#include <QJsonArray>
#include <QJsonDocument>

#include <variant>

#include "mqtt-bridge/ModuleModel.h"
#include "mqtt-bridge/Payloads.h"

namespace quenvar::mqtt {
namespace {

constexpr auto lamp = ModuleKind::Lamp;
constexpr auto appliance = ModuleKind::Appliance;
const ModuleState unknown{};
const ModuleState off{false, std::nullopt};
ModuleState onAt(int level) { return {true, level}; }

TEST(Addresses, ReadEveryFormAndRefuseWhatIsOutOfRange) {
    const std::vector<std::pair<QString, std::optional<Address>>> rows{
        {"A1", Address{'A', 1}}, {"p16", Address{'P', 16}}, {"B07", Address{'B', 7}}, {" c3 ", Address{'C', 3}},
        {"A", Address{'A', 0}},  {"Q1", std::nullopt},      {"A17", std::nullopt},    {"A0", std::nullopt},
        {"A1x", std::nullopt},   {"", std::nullopt},        {"A100", std::nullopt},   {"1A", std::nullopt},
    };
    for (const auto& [text, expected] : rows) {
        EXPECT_EQ(Address::parse(text), expected) << text.toStdString();
        if (expected) EXPECT_EQ(Address::parse(expected->text()), expected);
    }
}

// The control sends floor(v/10)*2 steps, one more unless v ends in 5 (5 -> 0x06, 10 -> 0x1E,
// 15 -> 0x16, 95 -> 0x96 in its headers): every step count a plan uses must come out exactly.
TEST(DimTable, EveryStepCountHasAPercentageTheControlSendsExactly) {
    const std::vector<std::pair<int, int>> knownHeaders{{5, 0x06}, {10, 0x1E}, {15, 0x16}, {50, 0x5E}, {95, 0x96}};
    for (const auto& [dimValue, header] : knownHeaders) EXPECT_EQ(stepsOfDimValue(dimValue), header >> 3) << dimValue;
    for (int steps = 0; steps <= largestStepsPerCommand; ++steps) {
        const int dimValue = dimValueFor(steps);
        EXPECT_GE(dimValue, 5);
        EXPECT_LE(dimValue, 95);
        EXPECT_EQ(stepsOfDimValue(dimValue), steps) << dimValue;
    }
}

TEST(BrightnessPlan, TakesTheFewestTransmissionsTheEstimateAllows) {
    using F = Function;
    struct Row {
        ModuleState now;
        ModuleKind kind;
        bool on;
        std::optional<int> target;
        std::vector<PlanStep> plan;
    };
    const std::vector<Row> rows{
        {unknown, lamp, false, std::nullopt, {{F::Off}}},
        {onAt(5), lamp, true, std::nullopt, {{F::On}}},
        {unknown, appliance, true, 11, {{F::On}}},
        {unknown, lamp, true, 11, {{F::On}, {F::Bright, 19}, {F::Bright, 3}, {F::Dim, 11}}},
        {unknown, lamp, true, 22, {{F::On}, {F::Bright, 19}, {F::Bright, 3}}},
        {off, lamp, true, 4, {{F::On}, {F::Dim, 18}}},
        {off, lamp, true, 0, {{F::On}, {F::Dim, 19}, {F::Dim, 3}}},
        {onAt(22), lamp, true, 11, {{F::Dim, 11}}},
        {onAt(3), lamp, true, 20, {{F::Bright, 17}}},
        {onAt(0), lamp, true, 22, {{F::Bright, 19}, {F::Bright, 3}}},
        {onAt(9), lamp, true, 9, {}},
        {{true, std::nullopt}, lamp, true, 9, {{F::On}, {F::Bright, 19}, {F::Bright, 3}, {F::Dim, 13}}},
    };
    for (const Row& row : rows) {
        const std::vector<PlanStep> plan = planFor(row.now, row.kind, row.on, row.target);
        EXPECT_EQ(plan, row.plan) << "target " << row.target.value_or(-1);
        // Carried out on a lamp whose level is what the estimate says, the plan reaches the target.
        ModuleState state = row.now;
        for (const PlanStep& step : plan) state = applyFunction(state, row.kind, step.function, step.steps);
        if (row.kind == lamp && row.target && row.on) EXPECT_EQ(state, onAt(*row.target));
    }
}

TEST(HeardTraffic, MovesTheStateOfEveryModuleConcerned) {
    using F = Function;
    struct Row {
        ModuleState before;
        ModuleKind kind;
        Function function;
        int steps;
        ModuleState after;
    };
    const std::vector<Row> rows{
        {unknown, lamp, F::On, 0, onAt(22)},
        {onAt(9), lamp, F::Off, 0, off},
        {onAt(22), lamp, F::Dim, 11, onAt(11)},
        {onAt(3), lamp, F::Dim, 11, onAt(0)},
        {onAt(20), lamp, F::Bright, 5, onAt(22)},
        {off, lamp, F::Dim, 4, onAt(18)},
        {unknown, lamp, F::Dim, 4, {true, std::nullopt}},
        {onAt(5), lamp, F::AllLightsOn, 0, onAt(22)},
        {onAt(5), lamp, F::AllLightsOff, 0, off},
        {onAt(5), lamp, F::AllUnitsOff, 0, off},
        {unknown, appliance, F::On, 0, {true, std::nullopt}},
        {{true, std::nullopt}, appliance, F::Dim, 5, {true, std::nullopt}},
        {off, appliance, F::AllLightsOn, 0, off},
        {{true, std::nullopt}, appliance, F::AllLightsOff, 0, {true, std::nullopt}},
        {{true, std::nullopt}, appliance, F::AllUnitsOff, 0, off},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(applyFunction(row.before, row.kind, row.function, row.steps), row.after)
            << functionKey(row.function).toStdString() << " on a " << (row.kind == lamp ? "lamp" : "appliance");
    }
    // The control tells Dim and Bright in percent of the full range; each step count comes back.
    for (int steps = 0; steps <= fullSteps; ++steps) EXPECT_EQ(stepsFromHeardLevel((steps * 100 + 11) / 22), steps);
}

TEST(SetPayloads, BecomeRequestsOrSayWhatIsWrong) {
    using K = Request::Kind;
    struct Row {
        QString address;
        QByteArray payload;
        std::variant<Request, QString> expected;  // a request, or a part of the reason
    };
    const std::vector<Row> rows{
        {"A1", R"({"state":"ON"})", Request{K::State, {'A', 1}, true}},
        {"A1", R"({"state":"off"})", Request{K::State, {'A', 1}, false}},
        {"B2", R"({"state":"ON","brightness":128})", Request{K::State, {'B', 2}, true, 128}},
        {"A1", R"({"command":"dim","level":40})", Request{K::Relative, {'A', 1}, false, {}, Function::Dim, 40}},
        {"A1", R"({"command":"on"})", Request{K::Relative, {'A', 1}, false, {}, Function::On}},
        {"C", R"({"command":"all_lights_on"})", Request{K::House, {'C', 0}, false, {}, Function::AllLightsOn}},
        {"A1", "not json", QString("not a JSON object")},
        {"A1", R"(["ON"])", QString("not a JSON object")},
        {"A1", R"({"state":"MAYBE"})", QString("unknown state")},
        {"A1", R"({"state":"ON","brightness":256})", QString("brightness must be from 0 to 255")},
        {"A1", R"({"state":"ON","brightness":12.5})", QString("brightness must be a whole number")},
        {"A1", R"({"state":"ON","brightness":"high"})", QString("brightness must be a whole number")},
        {"Q1", R"({"state":"ON"})", QString("\"Q1\" is out of range")},
        {"A17", R"({"state":"ON"})", QString("\"A17\" is out of range")},
        {"A1", R"({"command":"dim","level":4})", QString("level must be from 5 to 95")},
        {"A1", R"({"command":"dim"})", QString("level must be from 5 to 95")},
        {"A1", R"({"command":"all_units_off"})", QString("for a whole house")},
        {"A", R"({"command":"on"})", QString("needs a module address")},
        {"A", R"({"state":"ON"})", QString("a house takes only")},
        {"A1", R"({"command":"blink"})", QString("unknown command \"blink\"")},
    };
    for (const Row& row : rows) {
        const auto parsed = parseSetRequest(row.address, row.payload);
        SCOPED_TRACE(row.payload.toStdString());
        if (const auto* request = std::get_if<Request>(&row.expected)) {
            ASSERT_TRUE(std::holds_alternative<Request>(parsed)) << std::get<QString>(parsed).toStdString();
            EXPECT_EQ(std::get<Request>(parsed), *request);
        } else {
            ASSERT_TRUE(std::holds_alternative<QString>(parsed));
            EXPECT_TRUE(std::get<QString>(parsed).contains(std::get<QString>(row.expected)))
                << std::get<QString>(parsed).toStdString();
        }
    }
}

TEST(OutgoingPayloads, CarryExactlyWhatTheTopicsPromise) {
    const QDateTime time = QDateTime::fromString("2026-12-09T10:11:12.345Z", Qt::ISODateWithMs);
    const std::vector<std::pair<QByteArray, QByteArray>> rows{
        {stateJson(onAt(22), lamp), R"({"brightness":255,"state":"ON"})"},
        {stateJson(onAt(11), lamp), R"({"brightness":128,"state":"ON"})"},
        {stateJson({true, std::nullopt}, lamp), R"({"brightness":null,"state":"ON"})"},
        {stateJson(off, lamp), R"({"brightness":null,"state":"OFF"})"},
        {stateJson(unknown, lamp), R"({"brightness":null,"state":null})"},
        {stateJson({true, std::nullopt}, appliance), R"({"state":"ON"})"},
        {receivedJson("A", "01,03", "Off", 0, time),
         R"({"function":"off","house":"A","level":0,"time":"2026-12-09T10:11:12.345Z","units":[1,3]})"},
        {receivedJson("B", "", "All Lights On", 0, time),
         R"({"function":"all_lights_on","house":"B","level":0,"time":"2026-12-09T10:11:12.345Z","units":[]})"},
        {eventJson("Hail Request", 0, time),
         R"({"event_type":"hail_request","level":0,"time":"2026-12-09T10:11:12.345Z"})"},
        {errorJson("q/h/A1/set", "x", "why"), R"({"error":"why","payload":"x","topic":"q/h/A1/set"})"},
        {failureJson("late", 3), R"({"code":3,"error":"late"})"},
        {doneJson(), R"({"result":"done"})"},
    };
    for (const auto& [built, expected] : rows) EXPECT_EQ(built, expected);
}

TEST(Discovery, DescribesEachModuleToHomeAssistant) {
    const Topics topics("quenvar", "homeassistant", "house");
    struct Row {
        ModuleConfig module;
        QString component;
        QStringList keys;  // present besides the common ones
    };
    const std::vector<Row> rows{
        {{{'A', 1}, "Porch", lamp}, "light", {"schema", "brightness", "brightness_scale", "supported_color_modes"}},
        {{{'P', 16}, "Fan", appliance}, "switch", {"payload_on", "payload_off", "value_template"}},
    };
    for (const Row& row : rows) {
        const QJsonObject config = moduleDiscovery(topics, row.module);
        SCOPED_TRACE(row.module.name.toStdString());
        EXPECT_EQ(componentOf(row.module.kind), row.component);
        const QString id = "quenvar_house_" + row.module.address.text();
        EXPECT_EQ(config["unique_id"].toString(), id);
        EXPECT_EQ(topics.discovery(row.component, id), "homeassistant/" + row.component + "/" + id + "/config");
        EXPECT_EQ(config["command_topic"].toString(), "quenvar/house/" + row.module.address.text() + "/set");
        EXPECT_EQ(config["state_topic"].toString(), "quenvar/house/" + row.module.address.text() + "/state");
        EXPECT_EQ(config["availability_mode"].toString(), "all");
        EXPECT_EQ(config["availability"].toArray().size(), 2);
        EXPECT_EQ(config["device"]["via_device"].toString(), "quenvar_house");
        EXPECT_EQ(config["device"]["name"].toString(), row.module.name);
        EXPECT_EQ(config["origin"]["name"].toString(), "quenvar-mqtt");
        for (const QString& key : row.keys) EXPECT_TRUE(config.contains(key)) << key.toStdString();
        EXPECT_TRUE(topics.ownsUniqueId(id));
    }
    EXPECT_FALSE(topics.ownsUniqueId("quenvar_garage_A1"));
    EXPECT_EQ(topics.addressTextOfSet("quenvar/house/A1/set"), QString("A1"));
    EXPECT_EQ(topics.addressTextOfSet("quenvar/house/A1/state"), std::nullopt);
    EXPECT_EQ(topics.addressTextOfSet("quenvar/garage/A1/set"), std::nullopt);
    const QJsonObject remote = remoteEventDiscovery(topics, {'B', 5});
    EXPECT_EQ(remote["state_topic"].toString(), "quenvar/house/B5/event");
    EXPECT_TRUE(remote["event_types"].toArray().contains("dim"));
}

}  // namespace
}  // namespace quenvar::mqtt
