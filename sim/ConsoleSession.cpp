#include "sim/ConsoleSession.h"

#include <QSocketNotifier>
#include <QStringList>
#include <QTextStream>

#include <unistd.h>
#include <cerrno>
#include <utility>

#include "sim/ConsoleCommands.h"
#include "sim/Simulator.h"

namespace x10sim {

ConsoleSession::ConsoleSession(Simulator& simulator, int inputFd, QTextStream& out, QObject* parent)
    : QObject(parent), simulator_(simulator), inputFd_(inputFd), out_(out) {
    notifier_ = new QSocketNotifier(inputFd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &ConsoleSession::readInput);
}

void ConsoleSession::readInput() {
    char buffer[256];
    const ssize_t count = ::read(inputFd_, buffer, sizeof buffer);
    if (count < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (count <= 0) {
        // End of input (or a terminal we may not read): a ready-but-empty descriptor would
        // wake us forever, so stop listening.
        notifier_->setEnabled(false);
        if (!partialLine_.isEmpty()) execute(std::exchange(partialLine_, {}));
        emit inputEnded();
        return;
    }
    partialLine_.append(buffer, count);
    for (qsizetype end = partialLine_.indexOf('\n'); end >= 0; end = partialLine_.indexOf('\n')) {
        const QByteArray line = partialLine_.left(end);
        partialLine_.remove(0, end + 1);
        execute(line);
    }
}

void ConsoleSession::execute(const QByteArray& line) {
    const auto parsed = parseConsoleCommand(line.toStdString());
    if (const auto* message = std::get_if<std::string>(&parsed)) {
        out_ << QString::fromStdString(*message) << Qt::endl;
        return;
    }
    const ConsoleCommand& command = std::get<ConsoleCommand>(parsed);
    switch (command.action) {
        case ConsoleAction::InjectFault:
            simulator_.injectFault(command.fault);
            out_ << (command.fault == Fault::None ? "faults cleared" : "fault armed") << Qt::endl;
            break;
        case ConsoleAction::PowerFailure:
            simulator_.powerFailure();
            out_ << "power failure: requesting 0xA5 once a second"
                 << (simulator_.powerFailAnswer() == PowerFailAnswer::ClockOnly ? " until a clock setting answers" : "")
                 << Qt::endl;
            break;
        case ConsoleAction::Disappear:
            simulator_.disappear();
            out_ << "device gone: " << simulator_.devicePath() << Qt::endl;
            break;
        case ConsoleAction::OtherTransmitter: {
            QStringList texts;
            for (const Frame& frame : command.frames) texts << QString::fromStdString(frame.text());
            out_ << "another transmitter sends: " << texts.join(QStringLiteral(", ")) << Qt::endl;
            simulator_.sendFromOtherTransmitter(command.frames);
            break;
        }
        case ConsoleAction::Status: printStatus(); break;
        case ConsoleAction::Help: out_ << QString::fromStdString(consoleHelp()) << Qt::flush; break;
        case ConsoleAction::Nothing: break;
    }
}

void ConsoleSession::printStatus() {
    int lit = 0;
    for (char house = 'A'; house <= 'P'; ++house) {
        for (int unit = 1; unit <= 16; ++unit) {
            const ModuleState state = simulator_.module(house, unit);
            if (!state.on) continue;
            ++lit;
            out_ << house << unit << " on " << state.percent() << "%" << Qt::endl;
        }
    }
    if (lit == 0) out_ << "all modules off" << Qt::endl;
}

}  // namespace x10sim
