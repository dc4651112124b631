#include "mqtt-bridge/MqttClient.h"

#include <QFile>
#include <QMetaObject>
#include <QTimer>

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <stdexcept>

namespace quenvar::mqtt {

namespace {

void initialiseLibraryOnce() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

QByteArray fileName(const QString& path) { return QFile::encodeName(path); }

void check(int rc, const char* what) {
    if (rc != MOSQ_ERR_SUCCESS) {
        throw std::runtime_error(std::string(what) + ": " + mosquitto_strerror(rc));
    }
}

}  // namespace

MqttClient::MqttClient(const MqttOptions& options, QObject* parent) : QObject(parent), options_(options) {
    qRegisterMetaType<std::optional<ResponseAddress>>();
    initialiseLibraryOnce();
    handle_ = mosquitto_new(options_.clientId.toUtf8().constData(), true, this);
    if (handle_ == nullptr) throw std::runtime_error("cannot make an MQTT client (out of memory)");
    mosquitto_int_option(handle_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    // Small messages go out at once: Nagle's algorithm would hold each answer for the peer's
    // delayed acknowledgement, tens of milliseconds.
    mosquitto_int_option(handle_, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_v5_callback_set(handle_, &MqttClient::onConnect);
    mosquitto_disconnect_v5_callback_set(handle_, &MqttClient::onDisconnect);
    mosquitto_message_v5_callback_set(handle_, &MqttClient::onMessage);
    mosquitto_reconnect_delay_set(handle_, 1, 30, true);
    if (!options_.username.isEmpty()) {
        check(mosquitto_username_pw_set(handle_, options_.username.toUtf8().constData(),
                                        options_.password.isEmpty() ? nullptr : options_.password.toUtf8().constData()),
              "the broker user");
    }
    if (options_.tls) {
        for (const QString& file : {options_.caFile, options_.certFile, options_.keyFile}) {
            if (!file.isEmpty() && !QFile::exists(file))
                throw std::runtime_error("the TLS file " + file.toStdString() + " does not exist");
        }
        const QByteArray ca = fileName(options_.caFile), cert = fileName(options_.certFile),
                         key = fileName(options_.keyFile);
        // Without a CA file the system's certificate store checks the broker.
        if (options_.caFile.isEmpty()) mosquitto_int_option(handle_, MOSQ_OPT_TLS_USE_OS_CERTS, 1);
        check(mosquitto_tls_set(handle_, ca.isEmpty() ? nullptr : ca.constData(), nullptr,
                                cert.isEmpty() ? nullptr : cert.constData(), key.isEmpty() ? nullptr : key.constData(),
                                nullptr),
              "the TLS settings");
    }
    if (!options_.willTopic.isEmpty()) {
        check(mosquitto_will_set_v5(handle_, options_.willTopic.toUtf8().constData(),
                                    static_cast<int>(options_.willPayload.size()), options_.willPayload.constData(), 1,
                                    true, nullptr),
              "the last will");
    }
}

MqttClient::~MqttClient() {
    stop();
    mosquitto_destroy(handle_);
}

void MqttClient::start() {
    if (started_) return;
    started_ = true;
    retryDelaySeconds_ = 1;
    firstConnection();
}

// libmosquitto's thread takes over once a first connection could be started; until then (a
// broker that is not up yet, a name that does not resolve yet) the tries are made from here.
void MqttClient::firstConnection() {
    if (!started_ || loopRunning_) return;
    const int rc = mosquitto_connect_bind_async(handle_, options_.host.toUtf8().constData(), options_.port,
                                                options_.keepAliveSeconds, nullptr);
    if (rc == MOSQ_ERR_SUCCESS) {
        check(mosquitto_loop_start(handle_), "the MQTT network thread");
        loopRunning_ = true;
        return;
    }
    const QString reason =
        rc == MOSQ_ERR_ERRNO ? QString::fromLocal8Bit(std::strerror(errno)) : QString::fromUtf8(mosquitto_strerror(rc));
    emit connectionLost("cannot reach " + options_.host + ':' + QString::number(options_.port) + ": " + reason);
    QTimer::singleShot(retryDelaySeconds_ * 1000, this, &MqttClient::firstConnection);
    retryDelaySeconds_ = std::min(retryDelaySeconds_ * 2, 30);
}

void MqttClient::stop() {
    if (!started_) return;
    started_ = false;
    if (loopRunning_) {
        mosquitto_disconnect_v5(handle_, MQTT_RC_NORMAL_DISCONNECTION, nullptr);
        mosquitto_loop_stop(handle_, false);
        loopRunning_ = false;
    }
    connected_ = false;
}

void MqttClient::publish(const QString& topic, const QByteArray& payload, bool retain,
                         const std::optional<ResponseAddress>& answerTo) {
    mosquitto_property* properties = nullptr;
    if (answerTo && !answerTo->correlation.isEmpty()) {
        mosquitto_property_add_binary(&properties, MQTT_PROP_CORRELATION_DATA, answerTo->correlation.constData(),
                                      static_cast<uint16_t>(answerTo->correlation.size()));
    }
    mosquitto_publish_v5(handle_, nullptr, topic.toUtf8().constData(), static_cast<int>(payload.size()),
                         payload.constData(), 1, retain, properties);
    mosquitto_property_free_all(&properties);
}

void MqttClient::request(const QString& topic, const QByteArray& payload, const ResponseAddress& answerTo) {
    mosquitto_property* properties = nullptr;
    mosquitto_property_add_string(&properties, MQTT_PROP_RESPONSE_TOPIC, answerTo.topic.toUtf8().constData());
    if (!answerTo.correlation.isEmpty()) {
        mosquitto_property_add_binary(&properties, MQTT_PROP_CORRELATION_DATA, answerTo.correlation.constData(),
                                      static_cast<uint16_t>(answerTo.correlation.size()));
    }
    mosquitto_publish_v5(handle_, nullptr, topic.toUtf8().constData(), static_cast<int>(payload.size()),
                         payload.constData(), 1, false, properties);
    mosquitto_property_free_all(&properties);
}

void MqttClient::subscribe(const QString& filter) {
    mosquitto_subscribe_v5(handle_, nullptr, filter.toUtf8().constData(), 1, 0, nullptr);
}

// The three callbacks run on the network thread: they copy what they need and hand it over.
void MqttClient::onConnect(mosquitto*, void* self, int rc, int, const mosquitto_property*) {
    auto* client = static_cast<MqttClient*>(self);
    const QString reason = QString::fromUtf8(mosquitto_reason_string(rc));
    QMetaObject::invokeMethod(
        client,
        [client, rc, reason] {
            if (rc == 0) {
                client->connected_ = true;
                emit client->connected();
            } else {
                client->connected_ = false;
                emit client->connectionLost("the broker refused the connection: " + reason);
            }
        },
        Qt::QueuedConnection);
}

void MqttClient::onDisconnect(mosquitto*, void* self, int rc, const mosquitto_property*) {
    auto* client = static_cast<MqttClient*>(self);
    const QString reason = rc == 0 ? QStringLiteral("disconnected") : QString::fromUtf8(mosquitto_strerror(rc));
    QMetaObject::invokeMethod(
        client,
        [client, reason] {
            client->connected_ = false;
            emit client->connectionLost(reason);
        },
        Qt::QueuedConnection);
}

void MqttClient::onMessage(mosquitto*, void* self, const mosquitto_message* message,
                           const mosquitto_property* properties) {
    auto* client = static_cast<MqttClient*>(self);
    const QString topic = QString::fromUtf8(message->topic);
    const QByteArray payload(static_cast<const char*>(message->payload), message->payloadlen);
    const bool retained = message->retain;
    std::optional<ResponseAddress> answerTo;
    char* responseTopic = nullptr;
    if (mosquitto_property_read_string(properties, MQTT_PROP_RESPONSE_TOPIC, &responseTopic, false) != nullptr) {
        answerTo = ResponseAddress{QString::fromUtf8(responseTopic), {}};
        std::free(responseTopic);
        void* correlation = nullptr;
        uint16_t length = 0;
        if (mosquitto_property_read_binary(properties, MQTT_PROP_CORRELATION_DATA, &correlation, &length, false) !=
            nullptr) {
            answerTo->correlation = QByteArray(static_cast<const char*>(correlation), length);
            std::free(correlation);
        }
    }
    QMetaObject::invokeMethod(
        client,
        [client, topic, payload, retained, answerTo] {
            emit client->messageReceived(topic, payload, retained, answerTo);
        },
        Qt::QueuedConnection);
}

}  // namespace quenvar::mqtt
