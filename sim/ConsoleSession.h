#pragma once
// Reads commands (see ConsoleCommands.h) line by line from a file descriptor, such as standard
// input, and carries them out on a Simulator; answers go to a text stream. Reading happens on
// the event loop; at end of input or on a read error the session stops listening (the
// simulator keeps running).

#include <QByteArray>
#include <QObject>

class QSocketNotifier;
class QTextStream;

namespace x10sim {

class Simulator;

class ConsoleSession : public QObject {
    Q_OBJECT
public:
    // The descriptor stays owned by the caller and must outlive the session.
    ConsoleSession(Simulator& simulator, int inputFd, QTextStream& out, QObject* parent = nullptr);

    // Carries out one line as typed.
    void execute(const QByteArray& line);

signals:
    void inputEnded();

private:
    void readInput();
    void printStatus();

    Simulator& simulator_;
    int inputFd_;
    QTextStream& out_;
    QSocketNotifier* notifier_ = nullptr;
    QByteArray partialLine_;
};

}  // namespace x10sim
