#include "tests/support/ComputerSide.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace quenvar::testing {

ComputerSide::ComputerSide(const QString& device) {
    fd_ = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        error_ = QStringLiteral("cannot open %1: %2").arg(device, QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    // Raw, so that no line discipline changes a byte; at the speed of the real line.
    termios settings{};
    ::tcgetattr(fd_, &settings);
    ::cfmakeraw(&settings);
    ::cfsetspeed(&settings, B4800);
    ::tcsetattr(fd_, TCSANOW, &settings);
}

ComputerSide::~ComputerSide() { close(); }

void ComputerSide::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool ComputerSide::write(const QByteArray& bytes) {
    return ::write(fd_, bytes.constData(), size_t(bytes.size())) == bytes.size();
}

QByteArray ComputerSide::read(int count, std::chrono::milliseconds limit) {
    QByteArray received;
    QDeadlineTimer deadline(limit);
    QSocketNotifier notifier(fd_, QSocketNotifier::Read);
    QEventLoop loop;
    QObject::connect(&notifier, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    while (received.size() < count && !deadline.hasExpired()) {
        char buffer[64];
        const ssize_t got = ::read(fd_, buffer, std::min<qsizetype>(sizeof buffer, count - received.size()));
        if (got > 0) {
            received.append(buffer, got);
            continue;
        }
        if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) break;
        timeout.start(std::max<qint64>(1, deadline.remainingTime()));
        loop.exec();
    }
    return received;
}

QByteArray ComputerSide::exchange(const QByteArray& out, int expected) {
    if (!write(out)) return {};
    return read(expected);
}

}  // namespace quenvar::testing
