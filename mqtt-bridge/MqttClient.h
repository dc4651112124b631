#pragma once
// The bridge's connection to the broker, on libmosquitto (MQTT 5).
//
// What a caller may rely on:
// - libmosquitto's network thread does the network work only: every callback of it is handed to
//   the thread that owns this object as a queued call, so the signals are emitted there, one at a
//   time, never from the network thread.
// - The connection is kept up: a lost or refused connection is tried again with a back-off from 1
//   to 30 seconds; connected() is emitted after every successful connection (subscribe and
//   publish again then), connectionLost() when one ends, is refused or cannot be made, with the
//   reason (each failed try of a broker that is down emits it again).
// - publish() and subscribe() may be called at any time; while the connection is down they are
//   dropped (the caller publishes its retained state again on connected()).
// - The will (topic, payload, retained) is given to the broker with every connection.

#include <QByteArray>
#include <QObject>
#include <QString>

#include <optional>

struct mosquitto;
struct mosquitto_message;
struct mqtt5__property;

namespace quenvar::mqtt {

struct MqttOptions {
    QString host = QStringLiteral("127.0.0.1");
    int port = 1883;
    bool tls = false;
    QString caFile;
    QString certFile;
    QString keyFile;
    QString username;
    QString password;
    QString clientId;
    int keepAliveSeconds = 60;
    QString willTopic;
    QByteArray willPayload;
};

struct ResponseAddress {
    QString topic;
    QByteArray correlation;
};

class MqttClient : public QObject {
    Q_OBJECT
public:
    // Raises std::runtime_error with the reason when the options cannot be used (a TLS file that
    // cannot be read, say).
    explicit MqttClient(const MqttOptions& options, QObject* parent = nullptr);
    ~MqttClient() override;
    MqttClient(const MqttClient&) = delete;
    MqttClient& operator=(const MqttClient&) = delete;

    // Starts connecting in the background.
    void start();
    // Disconnects cleanly (the will is not sent) and stops the network thread.
    void stop();
    bool isConnected() const { return connected_; }

    void publish(const QString& topic, const QByteArray& payload, bool retain,
                 const std::optional<ResponseAddress>& answerTo = std::nullopt);
    // A request in the bridge's request/answer form: the MQTT 5 response topic and correlation
    // data of `answerTo` go with the message.
    void request(const QString& topic, const QByteArray& payload, const ResponseAddress& answerTo);
    void subscribe(const QString& filter);

signals:
    void connected();
    void connectionLost(const QString& reason);
    void messageReceived(const QString& topic, const QByteArray& payload, bool retained,
                         const std::optional<quenvar::mqtt::ResponseAddress>& responseAddress);

private:
    static void onConnect(mosquitto*, void* self, int rc, int flags, const mqtt5__property* properties);
    static void onDisconnect(mosquitto*, void* self, int rc, const mqtt5__property* properties);
    static void onMessage(mosquitto*, void* self, const mosquitto_message* message, const mqtt5__property* properties);

    void firstConnection();

    MqttOptions options_;
    mosquitto* handle_ = nullptr;
    bool connected_ = false;
    bool started_ = false;
    bool loopRunning_ = false;
    int retryDelaySeconds_ = 1;
};

}  // namespace quenvar::mqtt

Q_DECLARE_METATYPE(std::optional<quenvar::mqtt::ResponseAddress>)
