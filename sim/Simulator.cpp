#include "sim/Simulator.h"

#include <sys/timerfd.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <utility>

namespace x10sim {

static InterfaceProtocol::Timing timingFor(const SimulatorOptions& options) {
    InterfaceProtocol::Timing timing =
        options.realTiming ? InterfaceProtocol::Timing::realistic() : InterfaceProtocol::Timing::immediate();
    // The paced line already spends a byte time on every reply.
    if (options.wirePacing) timing.replyDelay = InterfaceProtocol::Duration{0};
    return timing;
}

Simulator::Simulator(SimulatorOptions options, QObject* parent)
    : QObject(parent), options_(std::move(options)), protocol_(timingFor(options_), options_.powerFailAnswer) {
    clock_.start();
    protocol_.setMonitoredUnitsSource([this](char house) {
        MonitoredUnits units;
        for (int unit : house_.selection(house)) units.addressed |= std::uint16_t(1u << *unitCode(unit));
        for (int unit = 1; unit <= 16; ++unit) {
            const ModuleState state = house_.module(house, unit);
            const auto bit = std::uint16_t(1u << *unitCode(unit));
            if (state.on) units.on |= bit;
            if (state.on && state.level < fullBrightnessSteps) units.dimmed |= bit;
        }
        return units;
    });
    deadlineTimer_.setSingleShot(true);
    deadlineTimer_.setTimerType(Qt::PreciseTimer);
    connect(&deadlineTimer_, &QTimer::timeout, this, [this] {
        const auto time = protocolNow();
        protocol_.advance(time);
        deliverOutput(time);
    });
    connect(&pty_, &PtyEndpoint::bytesArrived, this, &Simulator::handleReceived);
    connect(&pty_, &PtyEndpoint::lineLost, this, [this](const QString& reason) {
        deadlineTimer_.stop();
        stopLine();
        emit lineLost(QStringLiteral("x10sim: %1 (%2); the simulated interface is gone, restart x10sim.")
                          .arg(reason, devicePath_));
    });
}

Simulator::~Simulator() {
    if (!placedLink_.isEmpty()) removeDeviceLink(placedLink_, devicePath_);
    if (lineTimerFd_ >= 0) ::close(lineTimerFd_);
}

void Simulator::start() {
    if (pty_.isOpen()) return;
    if (options_.wirePacing && lineTimerFd_ < 0) {
        lineTimerFd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        if (lineTimerFd_ < 0)
            throw std::runtime_error(std::string("x10sim: cannot create the timer that paces the line (") +
                                     std::strerror(errno) + "); start without wire pacing.");
        lineTimer_ = new QSocketNotifier(lineTimerFd_, QSocketNotifier::Read, this);
        connect(lineTimer_, &QSocketNotifier::activated, this, [this] {
            std::uint64_t expirations = 0;
            [[maybe_unused]] const auto ignored = ::read(lineTimerFd_, &expirations, sizeof expirations);
            runLine();
        });
    }
    pty_.open();
    devicePath_ = pty_.slavePath();
    if (!options_.linkPath.isEmpty()) {
        try {
            placeDeviceLink(options_.linkPath, devicePath_);
        } catch (...) {
            pty_.close();
            throw;
        }
        placedLink_ = options_.linkPath;
    }
    if (options_.powerFailureAtStart) powerFailure();
}

InterfaceProtocol::TimePoint Simulator::now() const {
    return std::chrono::duration_cast<InterfaceProtocol::TimePoint>(std::chrono::nanoseconds(clock_.nsecsElapsed()));
}

InterfaceProtocol::TimePoint Simulator::protocolTimeAtLeast(InterfaceProtocol::TimePoint time) {
    protocolTime_ = std::max(protocolTime_, time);
    return protocolTime_;
}

InterfaceProtocol::TimePoint Simulator::protocolNow() { return protocolTimeAtLeast(now()); }

void Simulator::injectFault(Fault fault) {
    const auto time = protocolNow();
    protocol_.injectFault(fault, time);
    deliverOutput(time);
}

void Simulator::powerFailure() {
    const auto time = protocolNow();
    protocol_.powerFailure(time);
    deliverOutput(time);
}

void Simulator::sendFromOtherTransmitter(const std::vector<Frame>& frames) {
    const auto time = protocolNow();
    for (Frame frame : frames) {
        frame.origin = FrameOrigin::OtherTransmitter;
        const std::vector<ModuleChange> made = house_.apply(frame);
        emit frameSent(frame);
        for (const ModuleChange& change : made) emit moduleChanged(change);
        protocol_.hear(frame, time);
    }
    deliverOutput(time);
}

void Simulator::disappear() {
    deadlineTimer_.stop();
    stopLine();
    pty_.close();
}

void Simulator::handleReceived(const QByteArray& bytes) {
    const auto arrival = now();
    if (options_.wirePacing) {
        for (char byte : bytes) {
            const auto complete = std::max(arrival, inboundFreeAt_) + byteTimeOnWire;
            inbound_.push_back(Pending{static_cast<std::uint8_t>(byte), arrival, complete});
            inboundFreeAt_ = complete;
        }
        armLineTimer();
        return;
    }
    received_.append(bytes);
    emit bytesReceived(bytes);
    const auto time = protocolTimeAtLeast(arrival);
    for (char byte : bytes) {
        receivedTimeline_.push_back(WireByte{static_cast<std::uint8_t>(byte), time, time});
        protocol_.receive(static_cast<std::uint8_t>(byte), time);
    }
    deliverOutput(time);
}

void Simulator::hearByte(std::uint8_t byte, InterfaceProtocol::TimePoint ready, InterfaceProtocol::TimePoint complete) {
    const QByteArray asBytes(1, static_cast<char>(byte));
    received_.append(asBytes);
    receivedTimeline_.push_back(WireByte{byte, ready, complete});
    emit bytesReceived(asBytes);
    const auto time = protocolTimeAtLeast(complete);
    protocol_.receive(byte, time);
    deliverOutput(time);
}

void Simulator::writeToComputer(const QByteArray& bytes) {
    pty_.write(bytes);
    sent_.append(bytes);
    emit bytesSent(bytes);
}

void Simulator::runLine() {
    if (!pty_.isOpen()) return;
    // Everything due by now, in the order it happened on the line; a byte handed to the
    // interface may make it produce one that is due too when the wake-up came late.
    const auto time = now();
    QByteArray toComputer;
    for (;;) {
        const bool inboundDue = !inbound_.empty() && inbound_.front().complete <= time;
        const bool outboundDue = !outbound_.empty() && outbound_.front().complete <= time;
        if (outboundDue && (!inboundDue || outbound_.front().complete <= inbound_.front().complete)) {
            const Pending sent = outbound_.front();
            outbound_.pop_front();
            sentTimeline_.push_back(WireByte{sent.value, sent.ready, sent.complete});
            toComputer.append(static_cast<char>(sent.value));
            continue;
        }
        if (!inboundDue) break;
        if (!toComputer.isEmpty()) writeToComputer(std::exchange(toComputer, {}));
        const Pending heard = inbound_.front();
        inbound_.pop_front();
        hearByte(heard.value, heard.ready, heard.complete);
        if (!pty_.isOpen()) return;  // a handler of the signals made the device go away
    }
    if (!toComputer.isEmpty()) writeToComputer(toComputer);
    armLineTimer();
}

void Simulator::armLineTimer() {
    if (lineTimerFd_ < 0) return;
    std::optional<InterfaceProtocol::TimePoint> next;
    if (!inbound_.empty()) next = inbound_.front().complete;
    if (!outbound_.empty() && (!next || outbound_.front().complete < *next)) next = outbound_.front().complete;
    itimerspec setting{};
    if (next) {
        // Never zero: a zero time disarms a timerfd instead of firing it at once.
        const auto wait = std::max<std::chrono::nanoseconds>(*next - now(), std::chrono::nanoseconds(1));
        setting.it_value.tv_sec = static_cast<time_t>(wait.count() / 1'000'000'000);
        setting.it_value.tv_nsec = static_cast<long>(wait.count() % 1'000'000'000);
    }
    ::timerfd_settime(lineTimerFd_, 0, &setting, nullptr);
}

void Simulator::stopLine() {
    inbound_.clear();
    outbound_.clear();
    if (lineTimerFd_ >= 0) {
        const itimerspec disarmed{};
        ::timerfd_settime(lineTimerFd_, 0, &disarmed, nullptr);
    }
}

void Simulator::deliverOutput(InterfaceProtocol::TimePoint producedAt) {
    if (!pty_.isOpen()) return;  // gone: the line hears nothing more
    QByteArray toComputer;
    const auto flushBytes = [&] {
        if (toComputer.isEmpty()) return;
        writeToComputer(toComputer);
        toComputer.clear();
    };
    bool queuedForLine = false;
    for (InterfaceOutput& output : protocol_.takeOutput()) {
        if (const auto* byte = std::get_if<std::uint8_t>(&output)) {
            if (options_.wirePacing) {
                const auto complete = std::max(producedAt, outboundFreeAt_) + byteTimeOnWire;
                outbound_.push_back(Pending{*byte, producedAt, complete});
                outboundFreeAt_ = complete;
                queuedForLine = true;
            } else {
                sentTimeline_.push_back(WireByte{*byte, producedAt, producedAt});
                toComputer.append(static_cast<char>(*byte));
            }
            continue;
        }
        flushBytes();
        const Frame& frame = std::get<Frame>(output);
        const std::vector<ModuleChange> made = house_.apply(frame);
        emit frameSent(frame);
        for (const ModuleChange& change : made) emit moduleChanged(change);
    }
    flushBytes();
    if (queuedForLine) armLineTimer();

    if (const auto deadline = protocol_.nextDeadline()) {
        // now(), not protocolNow(): with wirePacing, bytes already complete may still be handed
        // over at their own (earlier) times in this same pass of the line.
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*deadline - now());
        deadlineTimer_.start(std::max<qint64>(0, wait.count()));
    } else {
        deadlineTimer_.stop();
    }
}

}  // namespace x10sim
