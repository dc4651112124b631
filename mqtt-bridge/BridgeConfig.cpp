#include "mqtt-bridge/BridgeConfig.h"

#include <QFile>

#include <functional>
#include <map>
#include <set>
#include <sstream>

#include <toml++/toml.h>

namespace quenvar::mqtt {

namespace {

using Setter = std::function<void(BridgeConfig&, const QString& value)>;

// Raised by setters with the reason alone; the reader adds where the value came from.
struct BadValue {
    QString reason;
};

double positiveSeconds(const QString& value) {
    bool ok = false;
    const double seconds = value.toDouble(&ok);
    if (!ok || seconds <= 0 || seconds > 3600) throw BadValue{"expected a number of seconds above 0 and up to 3600"};
    return seconds;
}

QString topicPart(const QString& value, bool allowSlash) {
    if (value.isEmpty()) throw BadValue{"must not be empty"};
    if (value.contains('+') || value.contains('#') || (!allowSlash && value.contains('/')))
        throw BadValue{allowSlash ? "must not contain + or #" : "must not contain /, + or #"};
    return value;
}

struct Key {
    const char* name;  // in the file; the flag is the same with dashes, the variable in capitals
    const char* help;
    const char* valueName;
    Setter set;
};

const std::vector<Key>& keys() {
    static const std::vector<Key> table{
        {"broker", "The broker, mqtt://host[:port] or mqtts://host[:port] for TLS.", "url",
         [](BridgeConfig& c, const QString& v) {
             const QUrl url(v, QUrl::StrictMode);
             if (!url.isValid() || (url.scheme() != "mqtt" && url.scheme() != "mqtts") || url.host().isEmpty())
                 throw BadValue{"expected mqtt://host[:port] or mqtts://host[:port], not \"" + v + "\""};
             c.broker = url;
         }},
        {"client_id", "The MQTT client id (default quenvar-<interface>).", "id",
         [](BridgeConfig& c, const QString& v) { c.clientId = v; }},
        {"username", "The broker user.", "name", [](BridgeConfig& c, const QString& v) { c.username = v; }},
        {"password", "The broker password (better in QUENVAR_MQTT_PASSWORD than on a command line).", "password",
         [](BridgeConfig& c, const QString& v) { c.password = v; }},
        {"ca_file", "The CA certificate file the broker's certificate is checked against.", "file",
         [](BridgeConfig& c, const QString& v) { c.caFile = v; }},
        {"cert_file", "This client's certificate, for brokers that ask for one.", "file",
         [](BridgeConfig& c, const QString& v) { c.certFile = v; }},
        {"key_file", "The key of the client certificate.", "file",
         [](BridgeConfig& c, const QString& v) { c.keyFile = v; }},
        {"prefix", "The first part of every topic (default quenvar).", "prefix",
         [](BridgeConfig& c, const QString& v) { c.prefix = topicPart(v, true); }},
        {"discovery_prefix", "Home Assistant's discovery prefix (default homeassistant).", "prefix",
         [](BridgeConfig& c, const QString& v) { c.discoveryPrefix = topicPart(v, true); }},
        {"interface", "This interface's id in topics and unique ids (default house).", "id",
         [](BridgeConfig& c, const QString& v) { c.interfaceId = topicPart(v, false); }},
        {"port", "The serial port: a number 1 to 16 (QUENVAR_COMMn may name its device) or a device path.", "port",
         [](BridgeConfig& c, const QString& v) {
             bool number = false;
             const int port = v.toInt(&number);
             if (number ? (port < 1 || port > 16) : !v.startsWith('/'))
                 throw BadValue{"expected a port number from 1 to 16 or a device path such as /dev/ttyUSB0, not \"" +
                                v + "\""};
             c.port = v;
         }},
        {"command_timeout", "Seconds a command may take before the interface counts as not answering (default 5).",
         "seconds", [](BridgeConfig& c, const QString& v) { c.commandTimeoutSeconds = positiveSeconds(v); }},
        {"retry_interval", "Seconds between tries to open a port that is gone (default 5).", "seconds",
         [](BridgeConfig& c, const QString& v) { c.retryIntervalSeconds = positiveSeconds(v); }},
        {"power_fail_reply", "How the control answers the interface's power-fail request: macro or clock.", "reply",
         [](BridgeConfig& c, const QString& v) {
             if (v.compare("macro", Qt::CaseInsensitive) == 0)
                 c.powerFailReply = PowerFailReply::Macro;
             else if (v.compare("clock", Qt::CaseInsensitive) == 0)
                 c.powerFailReply = PowerFailReply::Clock;
             else
                 throw BadValue{"expected macro or clock, not \"" + v + "\""};
         }},
    };
    return table;
}

QString flagName(const char* key) { return QString::fromLatin1(key).replace('_', '-'); }
QString variableName(const char* key) { return "QUENVAR_MQTT_" + QString::fromLatin1(key).toUpper(); }

const Key* findKey(std::string_view name) {
    for (const Key& key : keys()) {
        if (name == key.name) return &key;
    }
    return nullptr;
}

void apply(const Key& key, BridgeConfig& config, const QString& value, const QString& where) {
    try {
        key.set(config, value);
    } catch (const BadValue& bad) {
        throw ConfigError((where + ": key '" + key.name + "': " + bad.reason).toStdString());
    }
}

QString location(const QString& fileName, const toml::source_region& region) {
    return QStringLiteral("%1:%2").arg(fileName).arg(region.begin.line);
}

// A scalar of the file as text; tables, arrays and Booleans are not values of any key.
std::optional<QString> scalarText(const toml::node& node) {
    if (const auto* text = node.as_string()) return QString::fromStdString(text->get());
    if (const auto* integer = node.as_integer()) return QString::number(integer->get());
    if (const auto* real = node.as_floating_point()) return QString::number(real->get());
    return std::nullopt;
}

void addModule(BridgeConfig& config, ModuleConfig module, const QString& where, std::map<Address, QString>& seenAt) {
    if (const auto earlier = seenAt.find(module.address); earlier != seenAt.end()) {
        throw ConfigError((where + ": key 'address': the module " + module.address.text() +
                           " is already configured at " + earlier->second)
                              .toStdString());
    }
    seenAt.emplace(module.address, where);
    config.modules.push_back(std::move(module));
}

ModuleKind kindFrom(const QString& text, const QString& where) {
    if (text.compare("lamp", Qt::CaseInsensitive) == 0) return ModuleKind::Lamp;
    if (text.compare("appliance", Qt::CaseInsensitive) == 0) return ModuleKind::Appliance;
    throw ConfigError((where + ": key 'kind': expected lamp or appliance, not \"" + text + "\"").toStdString());
}

Address addressFrom(const QString& text, const QString& where) {
    const std::optional<Address> address = Address::parse(text);
    if (!address || address->unit == 0)
        throw ConfigError(
            (where + ": key 'address': expected a module address A1 to P16, not \"" + text + "\"").toStdString());
    return *address;
}

void readModules(const toml::node& node, const QString& fileName, BridgeConfig& config) {
    const auto* array = node.as_array();
    if (array == nullptr) {
        throw ConfigError(
            (location(fileName, node.source()) + ": key 'module': expected [[module]] tables").toStdString());
    }
    std::map<Address, QString> seenAt;
    for (const toml::node& element : *array) {
        const QString where = location(fileName, element.source());
        const auto* table = element.as_table();
        if (table == nullptr) throw ConfigError((where + ": key 'module': expected a table").toStdString());
        ModuleConfig module;
        bool hasAddress = false;
        for (const auto& [name, value] : *table) {
            const QString at = location(fileName, value.source());
            const std::optional<QString> text = scalarText(value);
            const QString key = QString::fromStdString(std::string(name.str()));
            if (!text || !value.is_string())
                throw ConfigError((at + ": key 'module." + key + "': expected a text in quotes").toStdString());
            if (key == "address") {
                module.address = addressFrom(*text, at);
                hasAddress = true;
            } else if (key == "name") {
                module.name = *text;
            } else if (key == "kind") {
                module.kind = kindFrom(*text, at);
            } else {
                throw ConfigError(
                    (at + ": key 'module." + key + "': unknown; a module has address, name and kind").toStdString());
            }
        }
        if (!hasAddress) throw ConfigError((where + ": key 'module.address': missing").toStdString());
        if (module.name.isEmpty()) module.name = module.address.text();
        addModule(config, std::move(module), where, seenAt);
    }
}

}  // namespace

const ModuleConfig* BridgeConfig::module(const Address& address) const {
    for (const ModuleConfig& candidate : modules) {
        if (candidate.address == address) return &candidate;
    }
    return nullptr;
}

ModuleConfig parseModuleArgument(const QString& argument, const QString& where) {
    // A1=lamp:Porch, A1=appliance, A1
    const qsizetype equals = argument.indexOf('=');
    ModuleConfig module;
    module.address = addressFrom(argument.left(equals).trimmed(), where);
    if (equals >= 0) {
        const QString rest = argument.mid(equals + 1);
        const qsizetype colon = rest.indexOf(':');
        module.kind = kindFrom(rest.left(colon).trimmed(), where);
        if (colon >= 0) module.name = rest.mid(colon + 1).trimmed();
    }
    if (module.name.isEmpty()) module.name = module.address.text();
    return module;
}

BridgeConfig parseConfigText(const QString& text, const QString& fileName, BridgeConfig config) {
    const QByteArray utf8 = text.toUtf8();
    toml::table root;
    try {
        root = toml::parse(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())),
                           fileName.toStdString());
    } catch (const toml::parse_error& error) {
        throw ConfigError(
            (location(fileName, error.source()) + ": " + QString::fromStdString(std::string(error.description())))
                .toStdString());
    }
    for (const auto& [name, value] : root) {
        const std::string key(name.str());
        const QString where = location(fileName, value.source());
        if (key == "module") {
            config.modules.clear();
            readModules(value, fileName, config);
            continue;
        }
        const Key* known = findKey(key);
        if (known == nullptr) {
            throw ConfigError((where + ": key '" + QString::fromStdString(key) + "': unknown").toStdString());
        }
        const std::optional<QString> scalar = scalarText(value);
        if (!scalar)
            throw ConfigError((where + ": key '" + known->name + "': expected a text or a number").toStdString());
        apply(*known, config, *scalar, where);
    }
    return config;
}

void addConfigOptions(QCommandLineParser& parser) {
    parser.addOption({"config", "Read the settings from this TOML file first.", "file"});
    for (const Key& key : keys()) parser.addOption({flagName(key.name), key.help, key.valueName});
    parser.addOption(
        {"module", "A module: ADDRESS=lamp|appliance[:NAME], for instance A1=lamp:Porch. Repeatable.", "module"});
}

BridgeConfig loadConfig(const QCommandLineParser& parser, const QProcessEnvironment& environment) {
    BridgeConfig config;
    if (parser.isSet("config")) {
        const QString fileName = parser.value("config");
        QFile file(fileName);
        if (!file.open(QIODevice::ReadOnly)) {
            throw ConfigError((fileName + ": cannot read the config file: " + file.errorString()).toStdString());
        }
        config = parseConfigText(QString::fromUtf8(file.readAll()), fileName);
    }
    for (const Key& key : keys()) {
        const QString variable = variableName(key.name);
        if (environment.contains(variable)) apply(key, config, environment.value(variable), "environment " + variable);
    }
    const auto readModuleList = [&config](const QStringList& arguments, const QString& where) {
        config.modules.clear();
        std::map<Address, QString> seenAt;
        for (const QString& argument : arguments)
            addModule(config, parseModuleArgument(argument, where), where, seenAt);
    };
    if (environment.contains("QUENVAR_MQTT_MODULES")) {
        readModuleList(environment.value("QUENVAR_MQTT_MODULES").split(',', Qt::SkipEmptyParts),
                       "environment QUENVAR_MQTT_MODULES");
    }
    for (const Key& key : keys()) {
        if (parser.isSet(flagName(key.name)))
            apply(key, config, parser.value(flagName(key.name)), "--" + flagName(key.name));
    }
    if (parser.isSet("module")) readModuleList(parser.values("module"), "--module");
    return config;
}

}  // namespace quenvar::mqtt
