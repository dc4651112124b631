// The bridge's settings: the file, the environment and the flags, and the one clear message a
// bad setting gets.
#include <gtest/gtest.h>
#include <QCoreApplication>

#include "mqtt-bridge/BridgeConfig.h"

namespace quenvar::mqtt {
namespace {

BridgeConfig load(const QStringList& flags, const QProcessEnvironment& environment = {}) {
    QCommandLineParser parser;
    addConfigOptions(parser);
    if (!parser.parse(QStringList{"quenvar-mqtt"} + flags)) throw ConfigError(parser.errorText().toStdString());
    return loadConfig(parser, environment);
}

std::string faultOf(const std::function<void()>& reading) {
    try {
        reading();
    } catch (const ConfigError& error) {
        return error.what();
    }
    return "no error";
}

TEST(ConfigFile, ReadsEveryKeyAndTheModules) {
    const BridgeConfig config = parseConfigText(R"(
broker = "mqtts://broker.lan:8883"
client_id = "porch-bridge"
username = "x10"
ca_file = "/etc/ssl/ca.pem"
prefix = "home/x10"
interface = "garage"
port = "/dev/ttyUSB0"
command_timeout = 2.5
retry_interval = 10
power_fail_reply = "clock"

[[module]]
address = "A1"
name = "Porch"
kind = "lamp"

[[module]]
address = "b16"
kind = "appliance"
)",
                                                "bridge.toml");
    EXPECT_EQ(config.broker.host(), "broker.lan");
    EXPECT_TRUE(config.useTls());
    EXPECT_EQ(config.effectiveClientId(), "porch-bridge");
    EXPECT_EQ(config.username, "x10");
    EXPECT_EQ(config.caFile, "/etc/ssl/ca.pem");
    EXPECT_EQ(config.prefix, "home/x10");
    EXPECT_EQ(config.discoveryPrefix, "homeassistant");
    EXPECT_EQ(config.interfaceId, "garage");
    EXPECT_EQ(config.port, "/dev/ttyUSB0");
    EXPECT_EQ(config.commandTimeoutSeconds, 2.5);
    EXPECT_EQ(config.retryIntervalSeconds, 10);
    EXPECT_EQ(config.powerFailReply, PowerFailReply::Clock);
    const std::vector<ModuleConfig> modules{{{'A', 1}, "Porch", ModuleKind::Lamp},
                                            {{'B', 16}, "B16", ModuleKind::Appliance}};
    EXPECT_EQ(config.modules, modules);
}

TEST(ConfigFile, ABadSettingNamesTheLineAndTheKey) {
    const std::vector<std::pair<QString, std::string>> rows{
        {"broker = \"http://x\"", "bridge.toml:1: key 'broker': expected mqtt://"},
        {"\n\nport = 17", "bridge.toml:3: key 'port': expected a port number from 1 to 16"},
        {"port = \"ttyUSB0\"", "bridge.toml:1: key 'port'"},
        {"interface = \"a/b\"", "bridge.toml:1: key 'interface': must not contain /"},
        {"prefix = \"x/#\"", "bridge.toml:1: key 'prefix': must not contain + or #"},
        {"command_timeout = 0", "bridge.toml:1: key 'command_timeout'"},
        {"power_fail_reply = \"never\"", "bridge.toml:1: key 'power_fail_reply': expected macro or clock"},
        {"brokr = \"mqtt://x\"", "bridge.toml:1: key 'brokr': unknown"},
        {"broker = true", "bridge.toml:1: key 'broker': expected a text or a number"},
        {"broker = \"mqtt://x", "bridge.toml:1:"},
        {"[[module]]\naddress = \"A1\"\n\n[[module]]\naddress = \"Q1\"",
         "bridge.toml:5: key 'address': expected a module address"},
        {"[[module]]\naddress = \"A1\"\nkind = \"dimmer\"", "bridge.toml:3: key 'kind': expected lamp or appliance"},
        {"[[module]]\nname = \"Porch\"", "bridge.toml:1: key 'module.address': missing"},
        {"[[module]]\naddress = \"A1\"\ncolour = \"red\"", "bridge.toml:3: key 'module.colour': unknown"},
        {"[[module]]\naddress = \"A1\"\n[[module]]\naddress = \"a1\"",
         "bridge.toml:3: key 'address': the module A1 is already configured at bridge.toml:1"},
    };
    for (const auto& [text, expected] : rows) {
        const std::string fault = faultOf([&] { parseConfigText(text, "bridge.toml"); });
        EXPECT_EQ(fault.rfind(expected, 0), 0u) << "got: " << fault;
    }
}

TEST(ConfigSources, FlagsWinOverTheEnvironmentWhichWinsOverTheDefaults) {
    QProcessEnvironment environment;
    environment.insert("QUENVAR_MQTT_BROKER", "mqtt://from-environment:1884");
    environment.insert("QUENVAR_MQTT_PASSWORD", "secret");
    environment.insert("QUENVAR_MQTT_MODULES", "A1=lamp:Porch,A2=appliance");
    environment.insert("QUENVAR_MQTT_INTERFACE", "env-house");

    const BridgeConfig fromEnvironment = load({}, environment);
    EXPECT_EQ(fromEnvironment.broker.host(), "from-environment");
    EXPECT_EQ(fromEnvironment.password, "secret");
    EXPECT_EQ(fromEnvironment.interfaceId, "env-house");
    ASSERT_EQ(fromEnvironment.modules.size(), 2u);
    EXPECT_EQ(fromEnvironment.modules[1].kind, ModuleKind::Appliance);

    const BridgeConfig fromFlags = load(
        {"--broker", "mqtt://from-flag", "--module", "C3=appliance:Fan", "--module", "C4", "--port", "2"}, environment);
    EXPECT_EQ(fromFlags.broker.host(), "from-flag");
    EXPECT_EQ(fromFlags.interfaceId, "env-house");
    EXPECT_EQ(fromFlags.port, "2");
    const std::vector<ModuleConfig> modules{{{'C', 3}, "Fan", ModuleKind::Appliance},
                                            {{'C', 4}, "C4", ModuleKind::Lamp}};
    EXPECT_EQ(fromFlags.modules, modules);

    const std::vector<std::pair<QStringList, std::string>> faults{
        {{"--module", "A1=lamp", "--module", "A1=appliance"}, "--module: key 'address': the module A1 is already"},
        {{"--module", "Z9=lamp"}, "--module: key 'address'"},
        {{"--retry-interval", "soon"}, "--retry-interval: key 'retry_interval'"},
        {{"--config", "/nonexistent/bridge.toml"}, "/nonexistent/bridge.toml: cannot read the config file"},
    };
    for (const auto& [flags, expected] : faults) {
        const std::string fault = faultOf([&] { load(flags); });
        EXPECT_EQ(fault.rfind(expected, 0), 0u) << "got: " << fault;
    }
    QProcessEnvironment badEnvironment;
    badEnvironment.insert("QUENVAR_MQTT_PORT", "0");
    EXPECT_EQ(faultOf([&] { load({}, badEnvironment); }).rfind("environment QUENVAR_MQTT_PORT: key 'port'", 0), 0u);
}

}  // namespace
}  // namespace quenvar::mqtt
