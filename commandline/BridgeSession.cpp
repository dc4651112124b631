// The command through the MQTT bridge that holds the port: an MQTT 5 request on the module's set
// topic with a response topic and correlation data, answered by the bridge once the command's
// x10ready came or with its error. libmosquitto runs in this thread, driven by the event loop's
// notifiers: no thread of its own, and no wake-ups while nothing arrives.

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <memory>

#include "commandline/Session.h"

namespace quenvar::commandline {

namespace {

using namespace std::chrono_literals;

// The bridge answers within its own time limit per command; this much more is allowed for the
// broker and a command queued behind others before the bridge counts as gone.
constexpr auto answerMargin = 5s;
constexpr int keepAliveSeconds = 60;

QString brokerError(int code) {
    return QString::fromUtf8(code == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(code));
}

// One broker connection in this thread.
class MqttLink {
public:
    std::function<void()> onConnected;
    std::function<void(const QString& reason)> onLost;
    std::function<void()> onSubscribed;
    std::function<void(const QString& topic, const QByteArray& payload, const QByteArray& correlation)> onMessage;

    MqttLink() {
        mosquitto_lib_init();
        const QString clientId = QStringLiteral("quenvar-cli-%1-%2")
                                     .arg(QCoreApplication::applicationPid())
                                     .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
        handle_ = mosquitto_new(clientId.toUtf8().constData(), true, this);
        mosquitto_int_option(handle_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
        mosquitto_connect_v5_callback_set(handle_, [](mosquitto*, void* self, int rc, int, const mosquitto_property*) {
            auto* link = static_cast<MqttLink*>(self);
            if (rc == 0) {
                if (link->onConnected) link->onConnected();
            } else if (link->onLost) {
                link->onLost(QStringLiteral("the broker refused the connection: %1")
                                 .arg(QString::fromUtf8(mosquitto_reason_string(rc))));
            }
        });
        mosquitto_disconnect_v5_callback_set(handle_, [](mosquitto*, void* self, int rc, const mosquitto_property*) {
            auto* link = static_cast<MqttLink*>(self);
            if (link->onLost)
                link->onLost(QStringLiteral("the broker closed the connection (%1)").arg(brokerError(rc)));
        });
        mosquitto_subscribe_v5_callback_set(
            handle_, [](mosquitto*, void* self, int, int, const int*, const mosquitto_property*) {
                auto* link = static_cast<MqttLink*>(self);
                if (link->onSubscribed) link->onSubscribed();
            });
        mosquitto_message_v5_callback_set(handle_, [](mosquitto*, void* self, const mosquitto_message* message,
                                                      const mosquitto_property* properties) {
            auto* link = static_cast<MqttLink*>(self);
            void* correlation = nullptr;
            uint16_t length = 0;
            QByteArray correlationData;
            if (mosquitto_property_read_binary(properties, MQTT_PROP_CORRELATION_DATA, &correlation, &length, false) !=
                nullptr) {
                correlationData = QByteArray(static_cast<const char*>(correlation), length);
                std::free(correlation);
            }
            if (link->onMessage) {
                link->onMessage(QString::fromUtf8(message->topic),
                                QByteArray(static_cast<const char*>(message->payload), message->payloadlen),
                                correlationData);
            }
        });
    }
    ~MqttLink() {
        reader_.reset();
        writer_.reset();
        mosquitto_destroy(handle_);
        mosquitto_lib_cleanup();
    }
    MqttLink(const MqttLink&) = delete;
    MqttLink& operator=(const MqttLink&) = delete;

    // Opens the connection; the broker's answer comes through onConnected or onLost. An empty
    // text on success, else why the broker cannot be reached.
    QString connectTo(const QUrl& url) {
        if (!url.userName().isEmpty()) {
            mosquitto_username_pw_set(handle_, url.userName().toUtf8().constData(),
                                      url.password().isEmpty() ? nullptr : url.password().toUtf8().constData());
        }
        const bool tls = url.scheme() == QLatin1String("mqtts");
        if (tls) mosquitto_tls_set(handle_, nullptr, "/etc/ssl/certs", nullptr, nullptr, nullptr);
        const int code = mosquitto_connect_bind_v5(handle_, url.host().toUtf8().constData(),
                                                   url.port(tls ? 8883 : 1883), keepAliveSeconds, nullptr, nullptr);
        if (code != MOSQ_ERR_SUCCESS) return brokerError(code);
        const int socket = mosquitto_socket(handle_);
        reader_ = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Read);
        writer_ = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Write);
        QObject::connect(reader_.get(), &QSocketNotifier::activated,
                         [this] { service(mosquitto_loop_read(handle_, 1)); });
        QObject::connect(writer_.get(), &QSocketNotifier::activated,
                         [this] { service(mosquitto_loop_write(handle_, 1)); });
        keepAlive_.setInterval(std::chrono::seconds(keepAliveSeconds / 2));
        QObject::connect(&keepAlive_, &QTimer::timeout, [this] { service(mosquitto_loop_misc(handle_)); });
        keepAlive_.start();
        service(MOSQ_ERR_SUCCESS);
        return {};
    }

    void subscribe(const QString& topic) {
        service(mosquitto_subscribe_v5(handle_, nullptr, topic.toUtf8().constData(), 1, 0, nullptr));
    }

    void publish(const QString& topic, const QByteArray& payload, const QString& responseTopic,
                 const QByteArray& correlation) {
        mosquitto_property* properties = nullptr;
        mosquitto_property_add_string(&properties, MQTT_PROP_RESPONSE_TOPIC, responseTopic.toUtf8().constData());
        mosquitto_property_add_binary(&properties, MQTT_PROP_CORRELATION_DATA, correlation.constData(),
                                      static_cast<uint16_t>(correlation.size()));
        const int code =
            mosquitto_publish_v5(handle_, nullptr, topic.toUtf8().constData(), static_cast<int>(payload.size()),
                                 payload.constData(), 1, false, properties);
        mosquitto_property_free_all(&properties);
        service(code);
    }

private:
    // After every step: a failure ends the link; what is left to write waits for the socket.
    void service(int code) {
        if (code != MOSQ_ERR_SUCCESS && code != MOSQ_ERR_NO_CONN) {
            if (onLost) onLost(QStringLiteral("the connection to the broker failed (%1)").arg(brokerError(code)));
            return;
        }
        if (writer_) writer_->setEnabled(mosquitto_want_write(handle_));
    }

    mosquitto* handle_ = nullptr;
    std::unique_ptr<QSocketNotifier> reader_;
    std::unique_ptr<QSocketNotifier> writer_;
    QTimer keepAlive_;
};

class BridgeSession {
public:
    BridgeSession(const Invocation& invocation, const QString& brokerUrl, Console& console)
        : invocation_(invocation),
          brokerUrl_(brokerUrl),
          console_(console),
          base_(invocation.prefix + '/' + invocation.interfaceId) {}

    int run() {
        const QUrl url(brokerUrl_);
        if (!url.isValid() || (url.scheme() != QLatin1String("mqtt") && url.scheme() != QLatin1String("mqtts")) ||
            url.host().isEmpty()) {
            return console_.fail(
                exit_code::refused,
                QStringLiteral("\"%1\" is not a broker URL: give mqtt://host:port or mqtts://host:port")
                    .arg(shownUrl()));
        }
        link_.onConnected = [this] {
            link_.subscribe(availabilityTopic());
            link_.subscribe(receivedTopic());
            if (invocation_.verb != Verb::Monitor) link_.subscribe(responseTopic_);
        };
        link_.onLost = [this](const QString& reason) {
            end(console_.fail(exit_code::bridgeUnreachable, QStringLiteral("%1: %2").arg(shownUrl(), reason)));
        };
        link_.onSubscribed = [this] {
            if (++subscriptions_ != (invocation_.verb == Verb::Monitor ? 2 : 3)) return;
            if (invocation_.verb == Verb::Monitor) {
                answerTimer_.stop();
                console_.listening(
                    QStringLiteral("the bridge of interface \"%1\" on %2").arg(invocation_.interfaceId, shownUrl()));
            } else {
                sendNext();
            }
        };
        link_.onMessage = [this](const QString& topic, const QByteArray& payload, const QByteArray& correlation) {
            handle(topic, payload, correlation);
        };
        responseTopic_ =
            base_ + QStringLiteral("/response/") + QString::number(QRandomGenerator::global()->generate64(), 16);
        if (const QString failure = link_.connectTo(url); !failure.isEmpty()) {
            return console_.fail(exit_code::bridgeUnreachable,
                                 QStringLiteral("cannot reach the MQTT broker at %1: %2. Is the broker running, and is "
                                                "this its address (--broker, QUENVAR_BROKER)?")
                                     .arg(shownUrl(), failure));
        }
        answerTimer_.setSingleShot(true);
        QObject::connect(&answerTimer_, &QTimer::timeout, [this] {
            end(console_.fail(exit_code::bridgeUnreachable,
                              QStringLiteral("%1: the bridge of interface \"%2\" on %3 did not answer within %4 s. Is "
                                             "quenvar-mqtt running?")
                                  .arg(invocation_.describe(), invocation_.interfaceId, shownUrl())
                                  .arg(static_cast<double>(answerLimit().count()) / 1000.0)));
        });
        if (invocation_.verb == Verb::Monitor) onTerminationSignal(&loop_, [this] { end(exit_code::done); });
        // The broker's own answer, the subscriptions and the first request must not take longer
        // than the bridge's answer would.
        answerTimer_.start(answerLimit());
        return loop_.exec();
    }

private:
    std::chrono::milliseconds answerLimit() const { return invocation_.limit() + answerMargin; }
    QString availabilityTopic() const { return base_ + QStringLiteral("/bridge/availability"); }
    QString receivedTopic() const { return base_ + QStringLiteral("/received"); }
    QString shownUrl() const { return QUrl(brokerUrl_).toString(QUrl::RemoveUserInfo); }

    void end(int code) {
        answerTimer_.stop();
        loop_.exit(code);
    }

    // The requests of the command, one per unit (the bridge addresses one module per request),
    // or the one of a house command.
    std::deque<std::pair<QString, QByteArray>> requests() const {
        const VerbInfo& info = infoOf(invocation_.verb);
        QJsonObject payload{{"command", QLatin1String(info.request)}};
        if (info.operands == Operands::UnitsAndLevel) payload.insert("level", invocation_.level);
        const QByteArray body = QJsonDocument(payload).toJson(QJsonDocument::Compact);
        std::deque<std::pair<QString, QByteArray>> list;
        const QString house = invocation_.house.toUpper();
        if (invocation_.units.isEmpty()) list.emplace_back(base_ + '/' + house + QStringLiteral("/set"), body);
        for (const QString& unit : invocation_.units) {
            list.emplace_back(base_ + '/' + house + QString::number(unit.toInt()) + QStringLiteral("/set"), body);
        }
        return list;
    }

    void sendNext() {
        if (!started_) {
            pending_ = requests();
            started_ = true;
        }
        if (pending_.empty()) {
            console_.done(invocation_.describe());
            end(exit_code::done);
            return;
        }
        correlation_ = QByteArray::number(QRandomGenerator::global()->generate64(), 16);
        const auto [topic, body] = pending_.front();
        pending_.pop_front();
        link_.publish(topic, body, responseTopic_, correlation_);
        answerTimer_.start(answerLimit());
    }

    void handle(const QString& topic, const QByteArray& payload, const QByteArray& correlation) {
        if (topic == availabilityTopic()) {
            if (payload.trimmed() == "offline") {
                end(console_.fail(
                    exit_code::bridgeUnreachable,
                    QStringLiteral("the bridge of interface \"%1\" on %2 is not running (its availability "
                                   "is offline). Start quenvar-mqtt, or leave out --broker to use the "
                                   "port directly.")
                        .arg(invocation_.interfaceId, shownUrl())));
            }
            return;
        }
        if (topic == receivedTopic()) {
            if (const std::optional<Heard> heard = Heard::fromBridge(payload)) {
                if (invocation_.verb == Verb::Monitor)
                    console_.heardByMonitor(*heard);
                else
                    console_.heardDuringCommand(*heard);
            }
            return;
        }
        if (topic != responseTopic_ || correlation != correlation_) return;
        const QJsonObject answer = QJsonDocument::fromJson(payload).object();
        if (answer.value("result").toString() == QLatin1String("done")) {
            sendNext();
            return;
        }
        const int code = answer.value("code").toInt(exit_code::notFinished);
        end(console_.fail(code == exit_code::refused ? exit_code::refused : exit_code::notFinished,
                          QStringLiteral("%1: %2").arg(invocation_.describe(),
                                                       answer.value("error").toString(QString::fromUtf8(payload)))));
    }

    const Invocation& invocation_;
    QString brokerUrl_;
    Console& console_;
    QString base_;
    QString responseTopic_;
    QByteArray correlation_;
    std::deque<std::pair<QString, QByteArray>> pending_;
    bool started_ = false;
    int subscriptions_ = 0;
    QEventLoop loop_;
    QTimer answerTimer_;
    MqttLink link_;
};

}  // namespace

int runThroughBridge(const Invocation& invocation, const QString& brokerUrl, Console& console) {
    BridgeSession session(invocation, brokerUrl, console);
    return session.run();
}

}  // namespace quenvar::commandline
