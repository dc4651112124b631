#include "mqtt-bridge/Bridge.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QLoggingCategory>

#include "platform/automation/RuntimeError.h"
#include "platform/serial/PortMap.h"

namespace quenvar::mqtt {

namespace {

Q_LOGGING_CATEGORY(bridgeLog, "quenvar.mqtt")

using automation::Variant;
using headless::CommandOutcome;

constexpr const char* progId = "Zelvo.quenvar";
// The control's own words for a command given while its port is closed.
constexpr const char* portClosedPrefix = "Port must be open";

QByteArray compact(const QJsonObject& object) { return QJsonDocument(object).toJson(QJsonDocument::Compact); }

const char* memberOf(Function function) {
    switch (function) {
        case Function::On: return "x10on";
        case Function::Off: return "x10off";
        case Function::Dim: return "x10dim";
        case Function::Bright: return "x10brighten";
        case Function::AllUnitsOff: return "alloff";
        case Function::AllLightsOn: return "lightson";
        case Function::AllLightsOff: return "Lightsoff";
    }
    return "";
}

}  // namespace

Bridge::Bridge(BridgeConfig config, QObject* parent) : QObject(parent), config_(std::move(config)), topics_(config_) {
    for (const ModuleConfig& module : config_.modules) states_.emplace(module.address, ModuleState{});
    retry_.setSingleShot(true);
    retry_.setInterval(static_cast<int>(config_.retryIntervalSeconds * 1000));
    connect(&retry_, &QTimer::timeout, this, &Bridge::openPort);
    connect(&host_, &headless::HeadlessHost::finished, this, &Bridge::onCallFinished);
    connect(&host_, &headless::HeadlessHost::received, this, &Bridge::onHeard);
    connect(&host_, &headless::HeadlessHost::message, this, &Bridge::onControlMessage);

    // A device path is given to the control as port 1, the way QUENVAR_COMM1 names a device.
    bool number = false;
    portNumber_ = config_.port.toInt(&number);
    if (!number) {
        portNumber_ = 1;
        qputenv(serial::portVariableName(1).c_str(), QFile::encodeName(config_.port));
    }
    device_ = QString::fromStdString(serial::deviceForPort(portNumber_));
}

Bridge::~Bridge() { stop(); }

void Bridge::start() {
    host_.create(QString::fromLatin1(progId));
    if (config_.powerFailReply) {
        const std::optional<automation::MemberId> field = host_.findMember(QStringLiteral("powerfailreply"));
        if (!field) {
            throw StartError(
                "power_fail_reply: this quenvar.ocx has no field powerfailreply, so it always answers a power-fail "
                "request with the macro download; install a newer control or leave the setting out");
        }
        host_.put(*field, Variant::fromInt16(*config_.powerFailReply == PowerFailReply::Clock ? 1 : 0));
    }

    const headless::LockHolder me{QCoreApplication::applicationPid(),
                                  QStringLiteral("quenvar-mqtt"),
                                  device_,
                                  config_.broker.toString(),
                                  config_.prefix,
                                  config_.interfaceId};
    lock_ = std::make_unique<headless::PortLock>(device_);
    // Held by a command-line tool at this moment: it lets go within its timeout.
    if (lock_->lock(me, std::chrono::milliseconds(static_cast<int>(config_.commandTimeoutSeconds * 1000))) !=
        headless::LockResult::Acquired) {
        const std::optional<headless::LockHolder> holder = headless::PortLock::holder(device_);
        if (!lock_->errorString().isEmpty()) {
            qCWarning(bridgeLog).noquote() << lock_->errorString() << "- going on without the port lock";
        } else {
            throw StartError(("the port " + device_ + " is in use by " +
                              (holder ? holder->describe() : QStringLiteral("another program")) +
                              "; stop it or give this bridge another port")
                                 .toStdString());
        }
    }

    MqttOptions options;
    options.host = config_.broker.host();
    options.tls = config_.useTls();
    options.port = config_.broker.port(options.tls ? 8883 : 1883);
    options.caFile = config_.caFile;
    options.certFile = config_.certFile;
    options.keyFile = config_.keyFile;
    options.username = config_.username.isEmpty() ? config_.broker.userName() : config_.username;
    options.password = config_.password.isEmpty() ? config_.broker.password() : config_.password;
    options.clientId = config_.effectiveClientId();
    options.willTopic = topics_.bridgeAvailability();
    options.willPayload = "offline";
    client_ = std::make_unique<MqttClient>(options, this);
    connect(client_.get(), &MqttClient::connected, this, &Bridge::onConnected);
    connect(client_.get(), &MqttClient::connectionLost, this, [this](const QString& reason) {
        // Said once per reason, not at every try while the broker is away.
        if (reason == lastBrokerError_) return;
        lastBrokerError_ = reason;
        qCWarning(bridgeLog).noquote() << "no connection to the broker:" << reason << "- trying again";
    });
    connect(client_.get(), &MqttClient::messageReceived, this, &Bridge::onMessage);

    openPort();
    client_->start();
}

void Bridge::stop() {
    retry_.stop();
    if (client_) {
        if (client_->isConnected()) {
            client_->publish(topics_.availability(), "offline", true);
            client_->publish(topics_.bridgeAvailability(), "offline", true);
        }
        client_->stop();
        client_.reset();
    }
    if (!host_.isNull()) {
        try {
            if (portOpen_) host_.call(host_.idOfName(QStringLiteral("closex10")));
        } catch (const automation::RuntimeError&) {
            // A port that went away is closed already.
        }
        host_.clear();
    }
    portOpen_ = false;
    lock_.reset();
}

std::optional<ModuleState> Bridge::stateOf(const Address& address) const {
    const auto found = states_.find(address);
    if (found == states_.end()) return std::nullopt;
    return found->second;
}

// ---- Broker side -------------------------------------------------------------------------------

void Bridge::onConnected() {
    qCInfo(bridgeLog).noquote() << "connected to" << config_.broker.host();
    lastBrokerError_.clear();
    // Subscribed before saying online: whoever sees "online" may send at once.
    client_->subscribe(topics_.setFilter());
    client_->subscribe(topics_.homeAssistantStatus());
    // Retained configs of modules no longer configured come back here and are removed.
    client_->subscribe(topics_.discoveryFilter("light"));
    client_->subscribe(topics_.discoveryFilter("switch"));
    // Entities first, then their states, and only then "online": Home Assistant then never shows
    // an entity available before it knows it, and whoever sees "online" finds all of it retained.
    publishDiscovery();
    publishStates();
    client_->publish(topics_.bridgeAvailability(), "online", true);
    publishAvailability();
}

void Bridge::onMessage(const QString& topic, const QByteArray& payload, bool,
                       const std::optional<ResponseAddress>& answerTo) {
    if (const std::optional<QString> address = topics_.addressTextOfSet(topic)) {
        onSetMessage(topic, *address, payload, answerTo);
        return;
    }
    if (topic == topics_.homeAssistantStatus()) {
        if (payload.trimmed() == "online") {
            publishDiscovery();
            publishStates();
        }
        return;
    }
    // A discovery config: one of a module this bridge no longer has is emptied, which removes the
    // entity from Home Assistant.
    const QString uniqueId = topic.section('/', -2, -2);
    if (!payload.isEmpty() && topics_.ownsUniqueId(uniqueId) && !publishedDiscovery_.contains(topic)) {
        qCInfo(bridgeLog).noquote() << "removing" << uniqueId << "from Home Assistant: no longer configured";
        client_->publish(topic, {}, true);
    }
}

void Bridge::onSetMessage(const QString& topic, const QString& addressText, const QByteArray& payload,
                          const std::optional<ResponseAddress>& answerTo) {
    std::vector<ResponseAddress> waiting;
    if (answerTo) waiting.push_back(*answerTo);
    const std::variant<Request, QString> parsed = parseSetRequest(addressText, payload);
    if (const QString* reason = std::get_if<QString>(&parsed)) {
        client_->publish(topics_.error(), errorJson(topic, payload, *reason), false);
        answer(waiting, failureJson(*reason, answer_code::badRequest));
        return;
    }
    if (!portOpen_) {
        answer(waiting, failureJson("the interface is offline: " + lastOpenError_, answer_code::notFinished));
        return;
    }
    enqueue({std::get<Request>(parsed), std::move(waiting)});
}

void Bridge::publishDiscovery() {
    if (!client_) return;
    publishedDiscovery_.clear();
    const auto publishConfig = [this](const QString& component, const QJsonObject& config, bool retain) {
        const QString topic = topics_.discovery(component, config.value("unique_id").toString());
        publishedDiscovery_.insert(topic);
        client_->publish(topic, compact(config), retain);
    };
    publishConfig("binary_sensor", interfaceDiscovery(topics_), true);
    for (const ModuleConfig& module : config_.modules) {
        publishConfig(componentOf(module.kind), moduleDiscovery(topics_, module), true);
    }
    for (const Address& address : heardElsewhere_) {
        publishConfig("event", remoteEventDiscovery(topics_, address), false);
    }
}

void Bridge::publishStates() {
    for (const auto& [address, state] : states_) {
        if (state.on) publishState(address);
    }
}

void Bridge::publishState(const Address& address) {
    const ModuleConfig* module = config_.module(address);
    if (!client_ || module == nullptr) return;
    client_->publish(topics_.state(address), stateJson(states_[address], module->kind), true);
}

void Bridge::publishAvailability() {
    if (client_) client_->publish(topics_.availability(), interfaceOnline() ? "online" : "offline", true);
}

void Bridge::answer(const std::vector<ResponseAddress>& waiting, const QByteArray& payload) {
    if (!client_) return;
    for (const ResponseAddress& address : waiting) client_->publish(address.topic, payload, false, address);
}

// ---- Line side ---------------------------------------------------------------------------------

void Bridge::openPort() {
    checkingLink_ = true;
    try {
        try {
            host_.call(host_.idOfName(QStringLiteral("closex10")));
        } catch (const automation::RuntimeError&) {
            // Closing a port that is gone or was never open changes nothing.
        }
        host_.call(host_.idOfName(QStringLiteral("openx10")), {Variant::fromInt16(static_cast<qint16>(portNumber_))});
        checkingLink_ = false;
        if (!portOpen_) qCInfo(bridgeLog).noquote() << "port" << device_ << "open";
        lastOpenError_.clear();
        // Counted as a change from offline, so that a port that is back is announced.
        portOpen_ = true;
        answering_ = false;
        setAnswering(true);
    } catch (const automation::RuntimeError& error) {
        checkingLink_ = false;
        const QString reason = QString::fromLatin1(error.description());
        if (reason != lastOpenError_) qCWarning(bridgeLog).noquote() << "cannot open" << device_ << ":" << reason;
        lastOpenError_ = reason;
        const bool was = interfaceOnline();
        portOpen_ = false;
        if (was) {
            publishAvailability();
            emit interfaceOnlineChanged(false);
        }
        retry_.start();
    }
}

void Bridge::checkLink(const QString& reason) {
    qCWarning(bridgeLog).noquote() << "interface trouble:" << reason;
    // Opening the port again tells a device that went away from one that only missed a beat.
    openPort();
    if (!portOpen_) linkLost(reason);
}

void Bridge::linkLost(const QString& reason) {
    if (lastOpenError_.isEmpty()) lastOpenError_ = reason;
    // Nothing waiting is sent later: every request is answered now, and sent again only if asked.
    while (!queue_.empty()) {
        answer(queue_.front().waiting, failureJson("the interface is offline: " + reason, answer_code::notFinished));
        queue_.pop_front();
    }
}

void Bridge::setAnswering(bool answering) {
    const bool was = interfaceOnline();
    answering_ = answering;
    if (was != interfaceOnline()) {
        qCInfo(bridgeLog).noquote() << "interface" << (interfaceOnline() ? "online" : "offline");
        publishAvailability();
        emit interfaceOnlineChanged(interfaceOnline());
    }
}

void Bridge::onControlMessage(const QString& prompt, const QString& title) {
    qCWarning(bridgeLog).noquote() << "control:" << (title.isEmpty() ? QString() : title + ":") << prompt;
    // During a command the command's result tells; outside one, a message is news from the line
    // that reached no caller, such as the device going away.
    if (!checkingLink_ && !host_.commandRunning() && !current_) checkLink(prompt);
}

void Bridge::onHeard(const QString& house, const QString& units, const QString& command, int level) {
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const char houseLetter = house.isEmpty() ? 'A' : house.front().toLatin1();
    const std::optional<Function> function = functionFromHeard(command);
    std::vector<Address> unconfigured;
    if (units.isEmpty()) {
        bool any = false;
        for (auto& [address, state] : states_) {
            if (address.house != houseLetter || !function) continue;
            any = true;
            state = applyFunction(state, config_.module(address)->kind, *function);
            publishState(address);
        }
        if (!any) unconfigured.push_back({houseLetter, 0});
    } else {
        for (const QString& unit : units.split(',', Qt::SkipEmptyParts)) {
            const Address address{houseLetter, unit.toInt()};
            const auto found = states_.find(address);
            if (found == states_.end()) {
                unconfigured.push_back(address);
                continue;
            }
            if (!function) continue;
            found->second =
                applyFunction(found->second, config_.module(address)->kind, *function, stepsFromHeardLevel(level));
            publishState(address);
        }
    }
    for (const Address& address : unconfigured) {
        if (!client_) break;
        if (heardElsewhere_.insert(address).second) {
            const QJsonObject config = remoteEventDiscovery(topics_, address);
            const QString topic = topics_.discovery("event", config.value("unique_id").toString());
            publishedDiscovery_.insert(topic);
            client_->publish(topic, compact(config), false);
        }
        client_->publish(topics_.event(address), eventJson(command, level, now), false);
    }
    // Last: whoever sees the traffic finds every state it changed already published.
    if (client_) client_->publish(topics_.received(), receivedJson(house, units, command, level, now), false);
}

// ---- Commands ----------------------------------------------------------------------------------

void Bridge::enqueue(Job job) {
    if (job.request.kind == Request::Kind::State) {
        for (Job& waiting : queue_) {
            if (waiting.request.kind == Request::Kind::State && waiting.request.address == job.request.address) {
                waiting.request = job.request;
                waiting.waiting.insert(waiting.waiting.end(), job.waiting.begin(), job.waiting.end());
                return;
            }
        }
    }
    queue_.push_back(std::move(job));
    pump();
}

void Bridge::pump() {
    if (!portOpen_) {
        linkLost(lastOpenError_);
        return;
    }
    while (!current_ && !queue_.empty()) {
        current_ = std::move(queue_.front());
        queue_.pop_front();
        calls_ = callsFor(current_->request);
        nextCall_ = 0;
        if (calls_.empty()) {
            // Already where it was asked to be: nothing to send.
            publishState(current_->request.address);
            finishJob(std::nullopt);
            continue;
        }
        startNextCall();
    }
}

std::vector<Bridge::Call> Bridge::callsFor(const Request& request) const {
    switch (request.kind) {
        case Request::Kind::House: return {{request.function}};
        case Request::Kind::Relative:
            if (request.function == Function::Dim || request.function == Function::Bright) {
                return {{request.function, stepsOfDimValue(request.dimValue), request.dimValue}};
            }
            return {{request.function}};
        case Request::Kind::State: {
            const ModuleConfig* module = config_.module(request.address);
            const ModuleKind kind = module ? module->kind : ModuleKind::Lamp;
            const auto state = states_.find(request.address);
            const std::optional<int> target =
                request.brightness ? std::optional<int>(stepsFromBrightness(*request.brightness)) : std::nullopt;
            std::vector<Call> calls;
            for (const PlanStep& step :
                 planFor(state == states_.end() ? ModuleState{} : state->second, kind, request.on, target)) {
                calls.push_back({step.function, step.steps, step.steps > 0 ? dimValueFor(step.steps) : 0});
            }
            return calls;
        }
    }
    return {};
}

void Bridge::startNextCall() {
    const Call& call = calls_[nextCall_];
    const Address& address = current_->request.address;
    std::vector<Variant> args{Variant::fromText(std::string(1, address.house))};
    if (address.unit != 0)
        args.push_back(Variant::fromText(QStringLiteral("%1").arg(address.unit, 2, 10, QChar('0')).toStdString()));
    if (call.function == Function::Dim || call.function == Function::Bright)
        args.push_back(Variant::fromInt16(static_cast<qint16>(call.dimValue)));
    host_.start(host_.idOfName(QLatin1String(memberOf(call.function))), std::move(args),
                std::chrono::milliseconds(static_cast<int>(config_.commandTimeoutSeconds * 1000)));
}

void Bridge::onCallFinished(const headless::CommandResult& result) {
    if (!current_) return;
    const Address address = current_->request.address;
    const Call call = calls_[nextCall_];
    switch (result.outcome) {
        case CommandOutcome::Ready:
            retried_ = false;
            setAnswering(true);
            applyCall(address, call);
            if (++nextCall_ < calls_.size()) {
                startNextCall();
                return;
            }
            if (address.unit != 0) publishState(address);
            finishJob(std::nullopt);
            break;
        case CommandOutcome::Refused:
            if (result.message.startsWith(QLatin1String(portClosedPrefix))) {
                finishJob(std::pair(result.message, answer_code::notFinished));
                checkLink(result.message);
            } else {
                finishJob(std::pair(result.message, answer_code::badRequest));
            }
            break;
        case CommandOutcome::TimedOut:
            // Dropped by the interface (it was answering a power failure): an On, Off or house
            // command goes out once more, since sending it twice does no harm. Dim and Bright,
            // which would move a lamp twice, never do.
            if (result.handshakeState == 0 && !retried_ && call.function != Function::Dim &&
                call.function != Function::Bright) {
                retried_ = true;
                resetControlHandshake();
                startNextCall();
                return;
            }
            forgetLevel(address);
            resetControlHandshake();
            setAnswering(false);
            finishJob(std::pair("the interface did not finish in time: " + result.message, answer_code::notFinished));
            break;
        case CommandOutcome::Stopped:
        case CommandOutcome::Failed:
            forgetLevel(address);
            setAnswering(false);
            finishJob(std::pair(result.message, answer_code::notFinished));
            checkLink(result.message);
            break;
    }
    pump();
}

void Bridge::resetControlHandshake() {
    try {
        host_.resetHandshake();
    } catch (const automation::RuntimeError& error) {
        qCWarning(bridgeLog).noquote() << "cannot reset the handshake:" << error.description().c_str();
    }
}

void Bridge::finishJob(const std::optional<std::pair<QString, int>>& failure) {
    if (!current_) return;
    const Job job = std::move(*current_);
    current_.reset();
    calls_.clear();
    nextCall_ = 0;
    retried_ = false;
    if (failure) {
        qCWarning(bridgeLog).noquote() << job.request.address.text() << ":" << failure->first;
        answer(job.waiting, failureJson(failure->first, failure->second));
    } else {
        answer(job.waiting, doneJson());
    }
}

void Bridge::applyCall(const Address& address, const Call& call) {
    for (auto& [module, state] : states_) {
        const bool reached = address.unit == 0 ? module.house == address.house : module == address;
        if (reached) state = applyFunction(state, config_.module(module)->kind, call.function, call.steps);
        if (reached && address.unit == 0) publishState(module);
    }
}

// A command that may or may not have reached the module leaves its state an open question.
void Bridge::forgetLevel(const Address& address) {
    for (auto& [module, state] : states_) {
        const bool reached = address.unit == 0 ? module.house == address.house : module == address;
        if (!reached) continue;
        state = {};
        publishState(module);
    }
}

}  // namespace quenvar::mqtt
