#include "sim/Simulator.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <sys/timerfd.h>
#include <unistd.h>
#include <utility>

namespace x10sim {

static InterfaceProtocol::Timing timingFor(const SimulatorOptions& options)
{
    InterfaceProtocol::Timing timing
        = options.realTiming ? InterfaceProtocol::Timing::realistic() : InterfaceProtocol::Timing::immediate();
    // The paced line already spends a byte time on every reply.
    if (options.wirePacing)
        timing.replyDelay = InterfaceProtocol::Duration{0};
    return timing;
}

Simulator::Simulator(SimulatorOptions options, QObject* parent)
    : QObject(parent)
    , m_options(std::move(options))
    , m_protocol(timingFor(m_options))
{
    m_clock.start();
    m_protocol.setMonitoredUnitsSource([this](char house) {
        MonitoredUnits units;
        for (int unit : m_house.selection(house))
            units.addressed |= std::uint16_t(1u << *unitCode(unit));
        for (int unit = 1; unit <= 16; ++unit) {
            const ModuleState state = m_house.module(house, unit);
            const auto bit = std::uint16_t(1u << *unitCode(unit));
            if (state.on)
                units.on |= bit;
            if (state.on && state.level < kFullBrightnessSteps)
                units.dimmed |= bit;
        }
        return units;
    });
    m_deadlineTimer.setSingleShot(true);
    m_deadlineTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_deadlineTimer, &QTimer::timeout, this, [this] {
        const auto time = protocolNow();
        m_protocol.advance(time);
        deliverOutput(time);
    });
    connect(&m_pty, &PtyEndpoint::bytesArrived, this, &Simulator::handleReceived);
    connect(&m_pty, &PtyEndpoint::lineLost, this, [this](const QString& reason) {
        m_deadlineTimer.stop();
        stopLine();
        emit lineLost(QStringLiteral("x10sim: %1 (%2); the simulated interface is gone, restart x10sim.")
                          .arg(reason, m_devicePath));
    });
}

Simulator::~Simulator()
{
    if (!m_placedLink.isEmpty())
        removeDeviceLink(m_placedLink, m_devicePath);
    if (m_lineTimerFd >= 0)
        ::close(m_lineTimerFd);
}

void Simulator::start()
{
    if (m_pty.isOpen())
        return;
    if (m_options.wirePacing && m_lineTimerFd < 0) {
        m_lineTimerFd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        if (m_lineTimerFd < 0)
            throw std::runtime_error(std::string("x10sim: cannot create the timer that paces the line (")
                                     + std::strerror(errno) + "); start without wire pacing.");
        m_lineTimer = new QSocketNotifier(m_lineTimerFd, QSocketNotifier::Read, this);
        connect(m_lineTimer, &QSocketNotifier::activated, this, [this] {
            std::uint64_t expirations = 0;
            [[maybe_unused]] const auto ignored = ::read(m_lineTimerFd, &expirations, sizeof expirations);
            runLine();
        });
    }
    m_pty.open();
    m_devicePath = m_pty.slavePath();
    if (!m_options.linkPath.isEmpty()) {
        try {
            placeDeviceLink(m_options.linkPath, m_devicePath);
        } catch (...) {
            m_pty.close();
            throw;
        }
        m_placedLink = m_options.linkPath;
    }
    if (m_options.powerFailureAtStart)
        powerFailure();
}

InterfaceProtocol::TimePoint Simulator::now() const
{
    return std::chrono::duration_cast<InterfaceProtocol::TimePoint>(std::chrono::nanoseconds(m_clock.nsecsElapsed()));
}

InterfaceProtocol::TimePoint Simulator::protocolTimeAtLeast(InterfaceProtocol::TimePoint time)
{
    m_protocolTime = std::max(m_protocolTime, time);
    return m_protocolTime;
}

InterfaceProtocol::TimePoint Simulator::protocolNow() { return protocolTimeAtLeast(now()); }

void Simulator::injectFault(Fault fault)
{
    const auto time = protocolNow();
    m_protocol.injectFault(fault, time);
    deliverOutput(time);
}

void Simulator::powerFailure()
{
    const auto time = protocolNow();
    m_protocol.powerFailure(time);
    deliverOutput(time);
}

void Simulator::sendFromOtherTransmitter(const std::vector<Frame>& frames)
{
    const auto time = protocolNow();
    for (Frame frame : frames) {
        frame.origin = FrameOrigin::OtherTransmitter;
        const std::vector<ModuleChange> made = m_house.apply(frame);
        emit frameSent(frame);
        for (const ModuleChange& change : made)
            emit moduleChanged(change);
        m_protocol.hear(frame, time);
    }
    deliverOutput(time);
}

void Simulator::disappear()
{
    m_deadlineTimer.stop();
    stopLine();
    m_pty.close();
}

void Simulator::handleReceived(const QByteArray& bytes)
{
    const auto arrival = now();
    if (m_options.wirePacing) {
        for (char byte : bytes) {
            const auto complete = std::max(arrival, m_inboundFreeAt) + byteTimeOnWire;
            m_inbound.push_back(Pending{static_cast<std::uint8_t>(byte), arrival, complete});
            m_inboundFreeAt = complete;
        }
        armLineTimer();
        return;
    }
    m_received.append(bytes);
    emit bytesReceived(bytes);
    const auto time = protocolTimeAtLeast(arrival);
    for (char byte : bytes) {
        m_receivedTimeline.push_back(WireByte{static_cast<std::uint8_t>(byte), time, time});
        m_protocol.receive(static_cast<std::uint8_t>(byte), time);
    }
    deliverOutput(time);
}

void Simulator::hearByte(std::uint8_t byte, InterfaceProtocol::TimePoint ready, InterfaceProtocol::TimePoint complete)
{
    const QByteArray asBytes(1, static_cast<char>(byte));
    m_received.append(asBytes);
    m_receivedTimeline.push_back(WireByte{byte, ready, complete});
    emit bytesReceived(asBytes);
    const auto time = protocolTimeAtLeast(complete);
    m_protocol.receive(byte, time);
    deliverOutput(time);
}

void Simulator::writeToComputer(const QByteArray& bytes)
{
    m_pty.write(bytes);
    m_sent.append(bytes);
    emit bytesSent(bytes);
}

void Simulator::runLine()
{
    if (!m_pty.isOpen())
        return;
    // Everything due by now, in the order it happened on the line; a byte handed to the
    // interface may make it produce one that is due too when the wake-up came late.
    const auto time = now();
    QByteArray toComputer;
    for (;;) {
        const bool inboundDue = !m_inbound.empty() && m_inbound.front().complete <= time;
        const bool outboundDue = !m_outbound.empty() && m_outbound.front().complete <= time;
        if (outboundDue && (!inboundDue || m_outbound.front().complete <= m_inbound.front().complete)) {
            const Pending sent = m_outbound.front();
            m_outbound.pop_front();
            m_sentTimeline.push_back(WireByte{sent.value, sent.ready, sent.complete});
            toComputer.append(static_cast<char>(sent.value));
            continue;
        }
        if (!inboundDue)
            break;
        if (!toComputer.isEmpty())
            writeToComputer(std::exchange(toComputer, {}));
        const Pending heard = m_inbound.front();
        m_inbound.pop_front();
        hearByte(heard.value, heard.ready, heard.complete);
        if (!m_pty.isOpen())
            return;  // a handler of the signals made the device go away
    }
    if (!toComputer.isEmpty())
        writeToComputer(toComputer);
    armLineTimer();
}

void Simulator::armLineTimer()
{
    if (m_lineTimerFd < 0)
        return;
    std::optional<InterfaceProtocol::TimePoint> next;
    if (!m_inbound.empty())
        next = m_inbound.front().complete;
    if (!m_outbound.empty() && (!next || m_outbound.front().complete < *next))
        next = m_outbound.front().complete;
    itimerspec setting{};
    if (next) {
        // Never zero: a zero time disarms a timerfd instead of firing it at once.
        const auto wait = std::max<std::chrono::nanoseconds>(*next - now(), std::chrono::nanoseconds(1));
        setting.it_value.tv_sec = static_cast<time_t>(wait.count() / 1'000'000'000);
        setting.it_value.tv_nsec = static_cast<long>(wait.count() % 1'000'000'000);
    }
    ::timerfd_settime(m_lineTimerFd, 0, &setting, nullptr);
}

void Simulator::stopLine()
{
    m_inbound.clear();
    m_outbound.clear();
    if (m_lineTimerFd >= 0) {
        const itimerspec disarmed{};
        ::timerfd_settime(m_lineTimerFd, 0, &disarmed, nullptr);
    }
}

void Simulator::deliverOutput(InterfaceProtocol::TimePoint producedAt)
{
    if (!m_pty.isOpen())
        return;  // gone: the line hears nothing more
    QByteArray toComputer;
    const auto flushBytes = [&] {
        if (toComputer.isEmpty())
            return;
        writeToComputer(toComputer);
        toComputer.clear();
    };
    bool queuedForLine = false;
    for (InterfaceOutput& output : m_protocol.takeOutput()) {
        if (const auto* byte = std::get_if<std::uint8_t>(&output)) {
            if (m_options.wirePacing) {
                const auto complete = std::max(producedAt, m_outboundFreeAt) + byteTimeOnWire;
                m_outbound.push_back(Pending{*byte, producedAt, complete});
                m_outboundFreeAt = complete;
                queuedForLine = true;
            } else {
                m_sentTimeline.push_back(WireByte{*byte, producedAt, producedAt});
                toComputer.append(static_cast<char>(*byte));
            }
            continue;
        }
        flushBytes();
        const Frame& frame = std::get<Frame>(output);
        const std::vector<ModuleChange> made = m_house.apply(frame);
        emit frameSent(frame);
        for (const ModuleChange& change : made)
            emit moduleChanged(change);
    }
    flushBytes();
    if (queuedForLine)
        armLineTimer();

    if (const auto deadline = m_protocol.nextDeadline()) {
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*deadline - protocolNow());
        m_deadlineTimer.start(std::max<qint64>(0, wait.count()));
    } else {
        m_deadlineTimer.stop();
    }
}

}  // namespace x10sim
