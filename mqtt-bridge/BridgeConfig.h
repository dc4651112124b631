#pragma once
// The bridge's settings: a TOML file, then environment variables, then command-line flags, each
// overriding the one before, so the bridge also runs with no file at all (in a container, say).
//
// What a caller may rely on:
// - Every key of the file is also a flag and an environment variable (see keys()):
//   broker = "mqtt://host:1883" (mqtts:// for TLS), client_id, username, password, ca_file,
//   cert_file, key_file, prefix ("quenvar"), discovery_prefix ("homeassistant"), interface
//   ("house"), port (1..16, or a device path), command_timeout (seconds), retry_interval
//   (seconds), power_fail_reply ("macro" or "clock"), and the modules: [[module]] tables with
//   address ("A1".."P16"), name and kind ("lamp" or "appliance"), or on the command line
//   `--module A1=lamp:Porch` (repeatable), in the environment QUENVAR_MQTT_MODULES with such
//   entries separated by commas.
// - Any fault raises ConfigError with one message that names where (the file and line, the
//   environment variable or the flag) and the key, and what is expected. Nothing is half read.

#include <QCommandLineParser>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>
#include <stdexcept>
#include <vector>

#include "mqtt-bridge/ModuleModel.h"

namespace quenvar::mqtt {

class ConfigError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct ModuleConfig {
    Address address;
    QString name;
    ModuleKind kind = ModuleKind::Lamp;
    bool operator==(const ModuleConfig&) const = default;
};

enum class PowerFailReply { Macro, Clock };

struct BridgeConfig {
    QUrl broker{QStringLiteral("mqtt://127.0.0.1:1883")};
    QString clientId;  // empty: "quenvar-<interface>"
    QString username;
    QString password;
    QString caFile;
    QString certFile;
    QString keyFile;
    QString prefix = QStringLiteral("quenvar");
    QString discoveryPrefix = QStringLiteral("homeassistant");
    QString interfaceId = QStringLiteral("house");
    QString port = QStringLiteral("1");  // a port number, or a device path
    double commandTimeoutSeconds = 5.0;
    double retryIntervalSeconds = 5.0;
    std::optional<PowerFailReply> powerFailReply;
    std::vector<ModuleConfig> modules;

    bool useTls() const { return broker.scheme() == QLatin1String("mqtts"); }
    QString effectiveClientId() const { return clientId.isEmpty() ? "quenvar-" + interfaceId : clientId; }
    const ModuleConfig* module(const Address& address) const;
};

// The flags of every key, and --config, added to `parser`.
void addConfigOptions(QCommandLineParser& parser);

// Reads the file named by --config (if any), then the environment, then the flags.
BridgeConfig loadConfig(const QCommandLineParser& parser, const QProcessEnvironment& environment);

// Pieces, for tests and for the file alone.
BridgeConfig parseConfigText(const QString& text, const QString& fileName, BridgeConfig base = {});
ModuleConfig parseModuleArgument(const QString& argument, const QString& where);

}  // namespace quenvar::mqtt
