#include "tests/integration/mqtt/MqttRig.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QUuid>

#include <pwd.h>
#include <unistd.h>

#include "tests/support/EventLoopWaits.h"
#include "tests/support/LoopbackPort.h"

namespace quenvar::testing {

using namespace std::chrono_literals;

Mosquitto::Mosquitto(QString folder, std::optional<Security> security)
    : folder_(std::move(folder)), security_(std::move(security)), port_(freeLoopbackPort()) {
    process_.setProcessChannelMode(QProcess::MergedChannels);
}

Mosquitto::~Mosquitto() { stop(); }

QString Mosquitto::url() const {
    return QStringLiteral("%1://127.0.0.1:%2").arg(security_ ? "mqtts" : "mqtt").arg(port_);
}

bool Mosquitto::start() {
    const QString config = QDir(folder_).filePath(QStringLiteral("mosquitto-%1.conf").arg(port_));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)) return false;
    QByteArray text =
        "per_listener_settings false\npersistence false\nset_tcp_nodelay true\nlog_dest stderr\nlog_type error\n"
        "log_type warning\nlog_type notice\nlog_type information\n";
    // Started by root, mosquitto would become the user "mosquitto", who cannot read the test's files.
    if (const passwd* user = ::getpwuid(::geteuid())) text += QByteArray("user ") + user->pw_name + "\n";
    text += "listener " + QByteArray::number(port_) + " 127.0.0.1\n";
    if (security_) {
        text += "cafile " + security_->caFile.toUtf8() + "\ncertfile " + security_->certFile.toUtf8() + "\nkeyfile " +
                security_->keyFile.toUtf8() + "\npassword_file " + security_->passwordFile.toUtf8() +
                "\nallow_anonymous false\n";
    } else {
        text += "allow_anonymous true\n";
    }
    file.write(text);
    file.close();
    log_.clear();
    process_.start(QStringLiteral("mosquitto"), {"-c", config});
    if (!process_.waitForStarted()) return false;
    // It says "running" once its listeners are open.
    const bool up = waitUntil(
        [this] {
            log_ += QString::fromUtf8(process_.readAll());
            return log_.contains(QLatin1String(" running")) || process_.state() == QProcess::NotRunning;
        },
        10s);
    return up && process_.state() == QProcess::Running;
}

void Mosquitto::stop() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    if (!process_.waitForFinished(5000)) {
        process_.kill();
        process_.waitForFinished(2000);
    }
}

mqtt::MqttOptions probeOptions(int port, const QString& id) {
    mqtt::MqttOptions options;
    options.port = port;
    options.clientId = id;
    return options;
}

Probe::Probe(mqtt::MqttOptions options) : id_(options.clientId) {
    client_ = std::make_unique<mqtt::MqttClient>(options, this);
    QObject::connect(client_.get(), &mqtt::MqttClient::messageReceived, this,
                     [this](const QString& topic, const QByteArray& payload, bool retained,
                            const std::optional<mqtt::ResponseAddress>&) {
                         messages_.push_back({topic, payload, retained});
                     });
    QObject::connect(client_.get(), &mqtt::MqttClient::connectionLost, this,
                     [this](const QString& reason) { refusal_ = reason; });
}

bool Probe::connect(const QString& filter) {
    client_->start();
    // A broker that refuses says so at once: no need to wait out the time.
    refusal_.clear();
    if (!waitUntil([this] { return client_->isConnected() || !refusal_.isEmpty(); }, 10s) || !client_->isConnected())
        return false;
    client_->subscribe(filter);
    client_->subscribe("probe/" + id_ + "/#");
    return sync();
}

void Probe::publish(const QString& topic, const QByteArray& payload, bool retain) {
    client_->publish(topic, payload, retain);
}

bool Probe::sync() {
    const QString topic = QStringLiteral("probe/%1/sync/%2").arg(id_).arg(++serial_);
    const std::size_t from = messages_.size();
    client_->publish(topic, "sync", false);
    return waitFor([&](const SeenMessage& message) { return message.topic == topic; }, from, 10s);
}

void Probe::request(const QString& topic, const QByteArray& payload, const QString& answerTopic) {
    client_->request(topic, payload, {answerTopic, QByteArray::number(++serial_)});
}

QByteArray Probe::ask(const QString& topic, const QByteArray& payload, std::chrono::milliseconds limit) {
    const QString answerTopic = this->answerTopic(QString::number(++serial_));
    const std::size_t from = messages_.size();
    client_->request(topic, payload, {answerTopic, QUuid::createUuid().toByteArray()});
    if (!waitFor([&](const SeenMessage& message) { return message.topic == answerTopic; }, from, limit)) return {};
    return on(answerTopic, from).back().payload;
}

bool Probe::waitFor(const std::function<bool(const SeenMessage&)>& match, std::size_t from,
                    std::chrono::milliseconds limit) {
    std::size_t checked = from;
    return waitUntil(
        [&] {
            for (; checked < messages_.size(); ++checked) {
                if (match(messages_[checked])) return true;
            }
            return false;
        },
        limit);
}

bool Probe::waitFor(const QString& topic, const QByteArray& payload, std::size_t from,
                    std::chrono::milliseconds limit) {
    return waitFor([&](const SeenMessage& m) { return m.topic == topic && m.payload == payload; }, from, limit);
}

std::optional<QByteArray> Probe::last(const QString& topic) const {
    for (auto message = messages_.rbegin(); message != messages_.rend(); ++message) {
        if (message->topic == topic) return message->payload;
    }
    return std::nullopt;
}

std::vector<SeenMessage> Probe::on(const QString& topic, std::size_t from) const {
    std::vector<SeenMessage> found;
    for (std::size_t i = from; i < messages_.size(); ++i) {
        if (messages_[i].topic == topic) found.push_back(messages_[i]);
    }
    return found;
}

}  // namespace quenvar::testing
