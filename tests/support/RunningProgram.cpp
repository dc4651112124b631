#include "tests/support/RunningProgram.h"

#include <QDeadlineTimer>

#include <algorithm>

namespace quenvar::testing {

RunningProgram::RunningProgram(const QString& program, const QStringList& arguments,
                               const QProcessEnvironment& environment)
{
    m_process.setProgram(program);
    m_process.setArguments(arguments);
    m_process.setProcessEnvironment(environment);
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start();
}

RunningProgram::~RunningProgram()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
}

QString RunningProgram::nextLine(std::chrono::milliseconds limit)
{
    QDeadlineTimer deadline(limit);
    while (!m_process.canReadLine() && !deadline.hasExpired()) {
        if (!m_process.waitForReadyRead(std::max<qint64>(1, deadline.remainingTime())))
            break;
    }
    if (!m_process.canReadLine())
        return {};
    return QString::fromUtf8(m_process.readLine()).trimmed();
}

QStringList RunningProgram::linesUntil(const QString& last)
{
    QStringList lines;
    for (QString line = nextLine(); !line.isEmpty(); line = nextLine()) {
        lines << line;
        if (line == last)
            break;
    }
    return lines;
}

}  // namespace quenvar::testing
