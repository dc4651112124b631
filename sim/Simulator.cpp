#include "sim/Simulator.h"

#include <algorithm>
#include <chrono>

namespace x10sim {

static InterfaceProtocol::Timing timingFor(const SimulatorOptions& options)
{
    return options.realTiming ? InterfaceProtocol::Timing::realistic() : InterfaceProtocol::Timing::immediate();
}

Simulator::Simulator(SimulatorOptions options, QObject* parent)
    : QObject(parent)
    , m_options(std::move(options))
    , m_protocol(timingFor(m_options))
{
    m_clock.start();
    m_deadlineTimer.setSingleShot(true);
    m_deadlineTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_deadlineTimer, &QTimer::timeout, this, [this] {
        m_protocol.advance(now());
        deliverOutput();
    });
    connect(&m_pty, &PtyEndpoint::bytesArrived, this, &Simulator::handleReceived);
    connect(&m_pty, &PtyEndpoint::lineLost, this, [this](const QString& reason) {
        m_deadlineTimer.stop();
        emit lineLost(QStringLiteral("x10sim: %1 (%2); the simulated interface is gone, restart x10sim.")
                          .arg(reason, m_devicePath));
    });
}

Simulator::~Simulator()
{
    if (!m_placedLink.isEmpty())
        removeDeviceLink(m_placedLink, m_devicePath);
}

void Simulator::start()
{
    if (m_pty.isOpen())
        return;
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

void Simulator::injectFault(Fault fault)
{
    m_protocol.injectFault(fault, now());
    deliverOutput();
}

void Simulator::powerFailure()
{
    m_protocol.powerFailure(now());
    deliverOutput();
}

void Simulator::disappear()
{
    m_deadlineTimer.stop();
    m_pty.close();
}

void Simulator::handleReceived(const QByteArray& bytes)
{
    m_received.append(bytes);
    emit bytesReceived(bytes);
    const auto arrival = now();
    for (char byte : bytes)
        m_protocol.receive(static_cast<std::uint8_t>(byte), arrival);
    deliverOutput();
}

void Simulator::deliverOutput()
{
    if (!m_pty.isOpen())
        return;  // gone: the line hears nothing more
    QByteArray toComputer;
    const auto flushBytes = [&] {
        if (toComputer.isEmpty())
            return;
        m_pty.write(toComputer);
        m_sent.append(toComputer);
        emit bytesSent(toComputer);
        toComputer.clear();
    };
    for (InterfaceOutput& output : m_protocol.takeOutput()) {
        if (const auto* byte = std::get_if<std::uint8_t>(&output)) {
            toComputer.append(static_cast<char>(*byte));
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

    if (const auto deadline = m_protocol.nextDeadline()) {
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(*deadline - now());
        m_deadlineTimer.start(std::max<qint64>(0, wait.count()));
    } else {
        m_deadlineTimer.stop();
    }
}

}  // namespace x10sim
