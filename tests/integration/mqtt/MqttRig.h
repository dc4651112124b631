#pragma once
// What the bridge's tests and benchmark run it against: a mosquitto broker of their own on
// 127.0.0.1 and a free port, and a probe client that keeps every message it sees.

#include <QByteArray>
#include <QObject>
#include <QProcess>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "mqtt-bridge/MqttClient.h"

namespace quenvar::testing {

class Mosquitto {
public:
    // TLS and passwords: the broker asks for both when given these files.
    struct Security {
        QString caFile;
        QString certFile;
        QString keyFile;
        QString passwordFile;
    };
    explicit Mosquitto(QString folder, std::optional<Security> security = std::nullopt);
    ~Mosquitto();
    Mosquitto(const Mosquitto&) = delete;
    Mosquitto& operator=(const Mosquitto&) = delete;

    // Starts (or starts again, on the same port) and waits until it listens; false with the
    // broker's output in log() when it did not come up.
    bool start();
    void stop();
    int port() const { return port_; }
    QString url() const;
    QString log() const { return log_; }

private:
    QString folder_;
    std::optional<Security> security_;
    int port_ = 0;
    QProcess process_;
    QString log_;
};

struct SeenMessage {
    QString topic;
    QByteArray payload;
    bool retained = false;
};

// A client of the broker that records what it receives, and asks the bridge in its
// request/answer form.
class Probe : public QObject {
public:
    explicit Probe(mqtt::MqttOptions options);
    // Connects and subscribes to `filter`; true once the subscription is in force, false as soon as
    // the broker refuses the connection (lastRefusal() says why).
    bool connect(const QString& filter = QStringLiteral("#"));
    bool connected() const { return client_->isConnected(); }
    void publish(const QString& topic, const QByteArray& payload, bool retain = false);
    // Publishes a request with a response topic of its own and waits for the answer; an empty
    // answer when none came in time.
    QByteArray ask(const QString& topic, const QByteArray& payload,
                   std::chrono::milliseconds limit = std::chrono::seconds(10));
    // Sends a request whose answer comes on `answerTopic` (the probe sees it: it subscribes to
    // everything under probe/<its id>/).
    void request(const QString& topic, const QByteArray& payload, const QString& answerTopic);
    QString answerTopic(const QString& name) const { return "probe/" + id_ + "/answer/" + name; }
    // Waits until a message from `from` on satisfies `match`.
    bool waitFor(const std::function<bool(const SeenMessage&)>& match, std::size_t from = 0,
                 std::chrono::milliseconds limit = std::chrono::seconds(10));
    bool waitFor(const QString& topic, const QByteArray& payload, std::size_t from = 0,
                 std::chrono::milliseconds limit = std::chrono::seconds(10));
    // The payload of the last message on `topic`, if any.
    std::optional<QByteArray> last(const QString& topic) const;
    std::vector<SeenMessage> on(const QString& topic, std::size_t from = 0) const;
    std::size_t count() const { return messages_.size(); }
    const std::vector<SeenMessage>& messages() const { return messages_; }
    // Waits until everything published before has come back through the broker.
    bool sync();
    const QString& lastRefusal() const { return refusal_; }

private:
    std::unique_ptr<mqtt::MqttClient> client_;
    QString id_;
    std::vector<SeenMessage> messages_;
    QString refusal_;
    int serial_ = 0;
};

mqtt::MqttOptions probeOptions(int port, const QString& id);

}  // namespace quenvar::testing
