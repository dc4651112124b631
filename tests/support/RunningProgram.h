#pragma once
// A program run as a person runs it, read line by line from its standard output; killed when
// the test ends while it still runs.

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <chrono>

namespace quenvar::testing {

class RunningProgram {
public:
    RunningProgram(const QString& program, const QStringList& arguments,
                   const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());
    ~RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    QProcess& process() { return process_; }

    // The next line of standard output without its line end, or an empty text when none came
    // in time.
    QString nextLine(std::chrono::milliseconds limit = std::chrono::seconds(5));

    // Lines until `last` appears (inclusive), or everything read before the time ran out.
    QStringList linesUntil(const QString& last);

private:
    QProcess process_;
};

}  // namespace quenvar::testing
