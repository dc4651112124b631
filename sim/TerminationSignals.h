#pragma once
// Turns SIGINT and SIGTERM into a Qt signal on the event loop, so a program can end cleanly
// (remove its device link, flush its output) instead of dying inside a signal handler.
// At most one instance at a time; it restores the previous handlers when destroyed.

#include <QObject>

class QSocketNotifier;

namespace x10sim {

class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

signals:
    void terminationRequested(int signalNumber);

private:
    void readSignal();

    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace x10sim
