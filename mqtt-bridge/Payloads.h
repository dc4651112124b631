#pragma once
// The bridge's topics and the JSON it reads and writes. Pure functions of their arguments.
//
// Topics, under <prefix>/<interface>:
//   <A1>/set      in:  {"state":"ON"|"OFF"}, {"state":"ON","brightness":0..255},
//                      {"command":"on"|"off"}, {"command":"dim"|"bright","level":5..95}
//   <A>/set       in:  {"command":"all_lights_on"|"all_lights_off"|"all_units_off"}
//   <A1>/state    out, retained: {"state":"ON"|"OFF","brightness":0..255|null} (no brightness for
//                 an appliance module)
//   received      out: {"house":"A","units":[1,3],"function":"off","level":0,"time":ISO 8601 UTC}
//   <A1>/event    out: {"event_type":"on",...} for addresses heard that are not configured
//   availability  out, retained: online|offline (the interface)
//   bridge/availability out, retained: online|offline (the bridge; its last will is offline)
//   error         out: {"topic":...,"payload":...,"error":reason} for a request it cannot read
// Home Assistant discovery: <discovery prefix>/light|switch|event|binary_sensor/<unique id>/config.

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

#include <optional>
#include <variant>

#include "mqtt-bridge/BridgeConfig.h"
#include "mqtt-bridge/ModuleModel.h"

namespace quenvar::mqtt {

class Topics {
public:
    Topics(QString prefix, QString discoveryPrefix, QString interfaceId);
    explicit Topics(const BridgeConfig& config) : Topics(config.prefix, config.discoveryPrefix, config.interfaceId) {}

    QString base() const { return prefix_ + '/' + interface_; }
    QString set(const Address& address) const { return base() + '/' + address.text() + "/set"; }
    QString setFilter() const { return base() + "/+/set"; }
    QString state(const Address& address) const { return base() + '/' + address.text() + "/state"; }
    QString event(const Address& address) const { return base() + '/' + address.text() + "/event"; }
    QString received() const { return base() + "/received"; }
    QString availability() const { return base() + "/availability"; }
    QString bridgeAvailability() const { return base() + "/bridge/availability"; }
    QString error() const { return base() + "/error"; }
    QString homeAssistantStatus() const { return discoveryPrefix_ + "/status"; }
    // Every discovery config topic of one component ("light"), for finding those of modules gone.
    QString discoveryFilter(const QString& component) const { return discoveryPrefix_ + '/' + component + "/+/config"; }
    QString discovery(const QString& component, const QString& uniqueId) const {
        return discoveryPrefix_ + '/' + component + '/' + uniqueId + "/config";
    }
    // "quenvar_house_A1"; the interface itself without an address.
    QString uniqueId(const std::optional<Address>& address = std::nullopt) const;
    // True for a unique id this bridge hands out (for modules it may have had before).
    bool ownsUniqueId(const QString& uniqueId) const;

    // The address part of a set topic: nullopt for a topic that is not one; the text otherwise,
    // which may still be no valid address.
    std::optional<QString> addressTextOfSet(const QString& topic) const;

private:
    QString prefix_;
    QString discoveryPrefix_;
    QString interface_;
};

struct Request {
    enum class Kind { State, Relative, House };
    Kind kind = Kind::State;
    Address address;
    bool on = false;                   // State
    std::optional<int> brightness;     // State: 0..255
    Function function = Function::On;  // Relative (On, Off, Dim, Bright) and House
    int dimValue = 0;                  // Relative Dim and Bright: the control's percentage
    bool operator==(const Request&) const = default;
};

// A set message on `addressText`'s topic: the request, or why it cannot be carried out.
std::variant<Request, QString> parseSetRequest(const QString& addressText, const QByteArray& payload);

QByteArray stateJson(const ModuleState& state, ModuleKind kind);
QByteArray receivedJson(const QString& house, const QString& units, const QString& function, int level,
                        const QDateTime& time);
QByteArray eventJson(const QString& function, int level, const QDateTime& time);
QByteArray errorJson(const QString& topic, const QByteArray& payload, const QString& reason);
// Answers on a request's response topic.
QByteArray doneJson();
QByteArray failureJson(const QString& message, int code);

// Exit codes the command-line tool shares, carried in failure answers.
namespace answer_code {
inline constexpr int badRequest = 2;
inline constexpr int notFinished = 3;
}  // namespace answer_code

// Discovery configs.
QJsonObject moduleDiscovery(const Topics& topics, const ModuleConfig& module);
QJsonObject interfaceDiscovery(const Topics& topics);
QJsonObject remoteEventDiscovery(const Topics& topics, const Address& address);
// "light" or "switch".
QString componentOf(ModuleKind kind);

// The heard function's name in payloads: "on", "all_lights_on", or the control's own name in
// lower case with underscores for functions no module acts on ("hail_request").
QString heardFunctionKey(const QString& controlName);

}  // namespace quenvar::mqtt
