#pragma once
// quenvar-mqtt's work: one interface, its modules and the broker, joined through the control.
//
// What a client of the bridge may rely on (the topics and payloads are in Payloads.h):
// - State follows the line: a module's retained state changes when a command the bridge sent
//   has its x10ready, and when the line is heard (x10received) — a remote's On, Off, Dim, Bright,
//   All Lights On/Off, All Units Off, several units addressed before one function.
// - One command at a time, each waiting for its x10ready. State requests for a module that wait
//   behind another command are merged, the last one winning; commands (dim, bright, house
//   commands) are never merged and never sent twice.
// - Request and answer: a set message carrying an MQTT 5 response topic is answered on that
//   topic, with the request's correlation data, exactly once: {"result":"done"} when its last
//   transmission had its x10ready (a merged request is answered with the one that carried it
//   out), or {"error":"<message>","code":N}: code 2 for a request the bridge or the control
//   cannot carry out as written (the same reason goes on the error topic), code 3 when the
//   interface did not finish in time, stopped answering, or is offline (its device cannot be
//   opened). An On, Off or house command the interface dropped (it was busy answering a power
//   failure) is sent once more before it counts as failed; Dim and Bright never are.
// - Availability: the interface is online while its port is open and its last command went
//   through; it goes offline when the device goes away (tried again every retry interval), or
//   when a command gets no x10ready in the command timeout (the handshake is then reset through
//   the control's fields and the next command tries again). The bridge's own availability is
//   its last will.
// - While it runs, the bridge holds the device's port lock, whose content names its broker,
//   topic prefix and interface, so a command-line tool finds it.

#include <QObject>
#include <QTimer>

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "mqtt-bridge/BridgeConfig.h"
#include "mqtt-bridge/ModuleModel.h"
#include "mqtt-bridge/MqttClient.h"
#include "mqtt-bridge/Payloads.h"
#include "platform/headless/HeadlessHost.h"
#include "platform/headless/PortLock.h"

namespace quenvar::mqtt {

// A setting the control refuses, found at start; the program ends with exit code 2.
class StartError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Bridge : public QObject {
    Q_OBJECT
public:
    explicit Bridge(BridgeConfig config, QObject* parent = nullptr);
    ~Bridge() override;

    // Creates the control, applies its settings, opens the port (or starts trying) and connects
    // to the broker.
    void start();
    // Publishes offline for the bridge and the interface, disconnects, lets the port go.
    void stop();

    bool interfaceOnline() const { return portOpen_ && answering_; }
    std::optional<ModuleState> stateOf(const Address& address) const;
    QString device() const { return device_; }

signals:
    void interfaceOnlineChanged(bool online);

private:
    struct Job {
        Request request;
        std::vector<ResponseAddress> waiting;
    };
    struct Call {
        Function function = Function::On;
        int steps = 0;     // Dim and Bright
        int dimValue = 0;  // Dim and Bright: the control's percentage
    };

    // Broker side.
    void onConnected();
    void onMessage(const QString& topic, const QByteArray& payload, bool retained,
                   const std::optional<ResponseAddress>& answerTo);
    void onSetMessage(const QString& topic, const QString& addressText, const QByteArray& payload,
                      const std::optional<ResponseAddress>& answerTo);
    void publishDiscovery();
    void publishStates();
    void publishState(const Address& address);
    void publishAvailability();
    void answer(const std::vector<ResponseAddress>& waiting, const QByteArray& payload);

    // Line side.
    void openPort();
    void checkLink(const QString& reason);
    void linkLost(const QString& reason);
    void setAnswering(bool answering);
    void onHeard(const QString& house, const QString& units, const QString& command, int level);
    void onControlMessage(const QString& prompt, const QString& title);

    // Commands.
    void enqueue(Job job);
    void pump();
    void startNextCall();
    void onCallFinished(const headless::CommandResult& result);
    void finishJob(const std::optional<std::pair<QString, int>>& failure);
    std::vector<Call> callsFor(const Request& request) const;
    void applyCall(const Address& address, const Call& call);
    void forgetLevel(const Address& address);
    void resetControlHandshake();

    BridgeConfig config_;
    Topics topics_;
    int portNumber_ = 1;
    QString device_;
    headless::HeadlessHost host_;
    std::unique_ptr<MqttClient> client_;
    std::unique_ptr<headless::PortLock> lock_;
    QTimer retry_;

    std::map<Address, ModuleState> states_;
    std::set<Address> heardElsewhere_;  // heard addresses that are not configured
    std::set<QString> publishedDiscovery_;

    bool portOpen_ = false;
    bool answering_ = false;
    bool checkingLink_ = false;
    QString lastOpenError_;
    QString lastBrokerError_;

    std::deque<Job> queue_;
    std::optional<Job> current_;
    std::vector<Call> calls_;
    std::size_t nextCall_ = 0;
    bool retried_ = false;  // the current call was sent again after the interface dropped it
};

}  // namespace quenvar::mqtt
