#include "mqtt-bridge/Payloads.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

#include <cmath>

namespace quenvar::mqtt {

namespace {

QByteArray compact(const QJsonObject& object) { return QJsonDocument(object).toJson(QJsonDocument::Compact); }

QJsonArray availabilityList(const Topics& topics) {
    return {QJsonObject{{"topic", topics.bridgeAvailability()}}, QJsonObject{{"topic", topics.availability()}}};
}

QJsonObject origin() { return {{"name", "quenvar-mqtt"}, {"sw_version", QStringLiteral(QUENVAR_VERSION)}}; }

QJsonObject interfaceDevice(const Topics& topics) {
    return {{"identifiers", QJsonArray{topics.uniqueId()}},
            {"name", "quenvar " + topics.base().section('/', -1)},
            {"manufacturer", "quenvar"},
            {"model", "X10 power-line interface"},
            {"sw_version", QStringLiteral(QUENVAR_VERSION)}};
}

// An integer member, or nullopt when it is absent; a member that is no whole number is an error.
std::variant<std::optional<int>, QString> integerMember(const QJsonObject& object, const char* name) {
    const QJsonValue value = object.value(QLatin1String(name));
    if (value.isUndefined() || value.isNull()) return std::optional<int>();
    const double number = value.toDouble(std::nan(""));
    if (!value.isDouble() || std::floor(number) != number || std::abs(number) > 1e6)
        return QStringLiteral("%1 must be a whole number").arg(QLatin1String(name));
    return std::optional<int>(static_cast<int>(number));
}

}  // namespace

Topics::Topics(QString prefix, QString discoveryPrefix, QString interfaceId)
    : prefix_(std::move(prefix)), discoveryPrefix_(std::move(discoveryPrefix)), interface_(std::move(interfaceId)) {}

QString Topics::uniqueId(const std::optional<Address>& address) const {
    const QString base = "quenvar_" + interface_;
    return address ? base + '_' + address->text() : base;
}

bool Topics::ownsUniqueId(const QString& uniqueId) const { return uniqueId.startsWith("quenvar_" + interface_ + '_'); }

std::optional<QString> Topics::addressTextOfSet(const QString& topic) const {
    const QString head = base() + '/';
    if (!topic.startsWith(head) || !topic.endsWith(QLatin1String("/set"))) return std::nullopt;
    const QString middle = topic.mid(head.size(), topic.size() - head.size() - 4);
    if (middle.contains('/')) return std::nullopt;
    return middle;
}

std::variant<Request, QString> parseSetRequest(const QString& addressText, const QByteArray& payload) {
    const std::optional<Address> address = Address::parse(addressText);
    if (!address) return "the address \"" + addressText + "\" is out of range: use A to P, or A1 to P16";
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(payload, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return QStringLiteral("the payload is not a JSON object");
    const QJsonObject object = document.object();

    Request request;
    request.address = *address;
    const bool house = address->unit == 0;
    if (object.contains("command")) {
        const QString command = object.value("command").toString().toLower();
        struct Named {
            const char* name;
            Function function;
            bool forHouse;
        };
        static constexpr Named commands[] = {
            {"all_lights_on", Function::AllLightsOn, true},
            {"all_lights_off", Function::AllLightsOff, true},
            {"all_units_off", Function::AllUnitsOff, true},
            {"on", Function::On, false},
            {"off", Function::Off, false},
            {"dim", Function::Dim, false},
            {"bright", Function::Bright, false},
        };
        for (const Named& named : commands) {
            if (command != QLatin1String(named.name)) continue;
            if (named.forHouse != house) {
                return house ? "the command \"" + command + "\" needs a module address such as " + addressText + "1"
                             : "the command \"" + command + "\" is for a whole house: send it to " +
                                   QString(QLatin1Char(address->house)) + "/set";
            }
            request.kind = house ? Request::Kind::House : Request::Kind::Relative;
            request.function = named.function;
            if (named.function == Function::Dim || named.function == Function::Bright) {
                const auto level = integerMember(object, "level");
                if (const QString* bad = std::get_if<QString>(&level)) return *bad;
                const std::optional<int> percent = std::get<std::optional<int>>(level);
                if (!percent || *percent < 5 || *percent > 95) return QStringLiteral("level must be from 5 to 95");
                request.dimValue = *percent;
            }
            return request;
        }
        return "unknown command \"" + object.value("command").toVariant().toString() +
               "\": use all_lights_on, all_lights_off, all_units_off (for a house) or on, off, dim, bright";
    }
    if (house) return QStringLiteral("a house takes only {\"command\": ...}; a state needs a module address");
    const QString state = object.value("state").toString().toUpper();
    if (state != QLatin1String("ON") && state != QLatin1String("OFF"))
        return QStringLiteral("unknown state: use {\"state\":\"ON\"} or {\"state\":\"OFF\"}");
    request.kind = Request::Kind::State;
    request.on = state == QLatin1String("ON");
    const auto brightness = integerMember(object, "brightness");
    if (const QString* bad = std::get_if<QString>(&brightness)) return *bad;
    request.brightness = std::get<std::optional<int>>(brightness);
    if (request.brightness && (*request.brightness < 0 || *request.brightness > brightnessScale))
        return QStringLiteral("brightness must be from 0 to 255");
    return request;
}

QByteArray stateJson(const ModuleState& state, ModuleKind kind) {
    QJsonObject object{{"state", state.on ? QJsonValue(*state.on ? "ON" : "OFF") : QJsonValue()}};
    if (kind == ModuleKind::Lamp) {
        object.insert("brightness",
                      state.on == true && state.level ? QJsonValue(brightnessFromSteps(*state.level)) : QJsonValue());
    }
    return compact(object);
}

QByteArray receivedJson(const QString& house, const QString& units, const QString& function, int level,
                        const QDateTime& time) {
    QJsonArray unitNumbers;
    for (const QString& unit : units.split(',', Qt::SkipEmptyParts)) unitNumbers.append(unit.toInt());
    return compact({{"house", house},
                    {"units", unitNumbers},
                    {"function", heardFunctionKey(function)},
                    {"level", level},
                    {"time", time.toUTC().toString(Qt::ISODateWithMs)}});
}

QByteArray eventJson(const QString& function, int level, const QDateTime& time) {
    return compact({{"event_type", heardFunctionKey(function)},
                    {"level", level},
                    {"time", time.toUTC().toString(Qt::ISODateWithMs)}});
}

QByteArray errorJson(const QString& topic, const QByteArray& payload, const QString& reason) {
    return compact({{"topic", topic}, {"payload", QString::fromUtf8(payload)}, {"error", reason}});
}

QByteArray doneJson() { return compact({{"result", "done"}}); }

QByteArray failureJson(const QString& message, int code) { return compact({{"error", message}, {"code", code}}); }

QString componentOf(ModuleKind kind) { return kind == ModuleKind::Lamp ? "light" : "switch"; }

QJsonObject moduleDiscovery(const Topics& topics, const ModuleConfig& module) {
    const QString id = topics.uniqueId(module.address);
    const QString model = module.kind == ModuleKind::Lamp ? "X10 lamp module" : "X10 appliance module";
    QJsonObject config{
        {"name", QJsonValue()},
        {"unique_id", id},
        {"command_topic", topics.set(module.address)},
        {"state_topic", topics.state(module.address)},
        {"availability", availabilityList(topics)},
        {"availability_mode", "all"},
        {"device", QJsonObject{{"identifiers", QJsonArray{id}},
                               {"name", module.name},
                               {"manufacturer", "X10"},
                               {"model", model},
                               {"via_device", topics.uniqueId()}}},
        {"origin", origin()},
    };
    if (module.kind == ModuleKind::Lamp) {
        config.insert("schema", "json");
        config.insert("brightness", true);
        config.insert("brightness_scale", brightnessScale);
        config.insert("supported_color_modes", QJsonArray{"brightness"});
    } else {
        config.insert("payload_on", "{\"state\":\"ON\"}");
        config.insert("payload_off", "{\"state\":\"OFF\"}");
        config.insert("value_template", "{{ value_json.state }}");
        config.insert("state_on", "ON");
        config.insert("state_off", "OFF");
    }
    return config;
}

QJsonObject interfaceDiscovery(const Topics& topics) {
    return {{"name", "Interface"},
            {"unique_id", topics.uniqueId() + "_interface"},
            {"device_class", "connectivity"},
            {"state_topic", topics.availability()},
            {"payload_on", "online"},
            {"payload_off", "offline"},
            {"availability", QJsonArray{QJsonObject{{"topic", topics.bridgeAvailability()}}}},
            {"device", interfaceDevice(topics)},
            {"origin", origin()}};
}

QJsonObject remoteEventDiscovery(const Topics& topics, const Address& address) {
    return {
        {"name", "Remote " + address.text()},
        {"unique_id", topics.uniqueId(address) + "_remote"},
        {"state_topic", topics.event(address)},
        {"event_types", QJsonArray{"on", "off", "dim", "bright", "all_units_off", "all_lights_on", "all_lights_off"}},
        {"availability", availabilityList(topics)},
        {"availability_mode", "all"},
        {"device", interfaceDevice(topics)},
        {"origin", origin()}};
}

QString heardFunctionKey(const QString& controlName) {
    if (const std::optional<Function> function = functionFromHeard(controlName)) return functionKey(*function);
    return controlName.toLower().replace(' ', '_');
}

}  // namespace quenvar::mqtt
