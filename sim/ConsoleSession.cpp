#include "sim/ConsoleSession.h"

#include <QSocketNotifier>
#include <QStringList>
#include <QTextStream>

#include <cerrno>
#include <utility>
#include <unistd.h>

#include "sim/ConsoleCommands.h"
#include "sim/Simulator.h"

namespace x10sim {

ConsoleSession::ConsoleSession(Simulator& simulator, int inputFd, QTextStream& out, QObject* parent)
    : QObject(parent)
    , m_simulator(simulator)
    , m_inputFd(inputFd)
    , m_out(out)
{
    m_notifier = new QSocketNotifier(m_inputFd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ConsoleSession::readInput);
}

void ConsoleSession::readInput()
{
    char buffer[256];
    const ssize_t count = ::read(m_inputFd, buffer, sizeof buffer);
    if (count < 0 && (errno == EINTR || errno == EAGAIN))
        return;
    if (count <= 0) {
        // End of input (or a terminal we may not read): a ready-but-empty descriptor would
        // wake us forever, so stop listening.
        m_notifier->setEnabled(false);
        if (!m_partialLine.isEmpty())
            execute(std::exchange(m_partialLine, {}));
        emit inputEnded();
        return;
    }
    m_partialLine.append(buffer, count);
    for (qsizetype end = m_partialLine.indexOf('\n'); end >= 0; end = m_partialLine.indexOf('\n')) {
        const QByteArray line = m_partialLine.left(end);
        m_partialLine.remove(0, end + 1);
        execute(line);
    }
}

void ConsoleSession::execute(const QByteArray& line)
{
    const auto parsed = parseConsoleCommand(line.toStdString());
    if (const auto* message = std::get_if<std::string>(&parsed)) {
        m_out << QString::fromStdString(*message) << Qt::endl;
        return;
    }
    const ConsoleCommand& command = std::get<ConsoleCommand>(parsed);
    switch (command.action) {
    case ConsoleAction::InjectFault:
        m_simulator.injectFault(command.fault);
        m_out << (command.fault == Fault::None ? "faults cleared" : "fault armed") << Qt::endl;
        break;
    case ConsoleAction::PowerFailure:
        m_simulator.powerFailure();
        m_out << "power failure: requesting 0xA5 once a second" << Qt::endl;
        break;
    case ConsoleAction::Disappear:
        m_simulator.disappear();
        m_out << "device gone: " << m_simulator.devicePath() << Qt::endl;
        break;
    case ConsoleAction::OtherTransmitter: {
        QStringList texts;
        for (const Frame& frame : command.frames)
            texts << QString::fromStdString(frame.text());
        m_out << "another transmitter sends: " << texts.join(QStringLiteral(", ")) << Qt::endl;
        m_simulator.sendFromOtherTransmitter(command.frames);
        break;
    }
    case ConsoleAction::Status: printStatus(); break;
    case ConsoleAction::Help: m_out << QString::fromStdString(consoleHelp()) << Qt::flush; break;
    case ConsoleAction::Nothing: break;
    }
}

void ConsoleSession::printStatus()
{
    int lit = 0;
    for (char house = 'A'; house <= 'P'; ++house) {
        for (int unit = 1; unit <= 16; ++unit) {
            const ModuleState state = m_simulator.module(house, unit);
            if (!state.on)
                continue;
            ++lit;
            m_out << house << unit << " on " << state.percent() << "%" << Qt::endl;
        }
    }
    if (lit == 0)
        m_out << "all modules off" << Qt::endl;
}

}  // namespace x10sim
