#include "tests/support/RunningProgram.h"

#include <QDeadlineTimer>

#include <algorithm>

namespace quenvar::testing {

RunningProgram::RunningProgram(const QString& program, const QStringList& arguments,
                               const QProcessEnvironment& environment) {
    process_.setProgram(program);
    process_.setArguments(arguments);
    process_.setProcessEnvironment(environment);
    process_.setProcessChannelMode(QProcess::SeparateChannels);
    process_.start();
}

RunningProgram::~RunningProgram() {
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(3000);
    }
}

QString RunningProgram::nextLine(std::chrono::milliseconds limit) {
    QDeadlineTimer deadline(limit);
    while (!process_.canReadLine() && !deadline.hasExpired()) {
        if (!process_.waitForReadyRead(std::max<qint64>(1, deadline.remainingTime()))) break;
    }
    if (!process_.canReadLine()) return {};
    return QString::fromUtf8(process_.readLine()).trimmed();
}

QStringList RunningProgram::linesUntil(const QString& last) {
    QStringList lines;
    for (QString line = nextLine(); !line.isEmpty(); line = nextLine()) {
        lines << line;
        if (line == last) break;
    }
    return lines;
}

}  // namespace quenvar::testing
