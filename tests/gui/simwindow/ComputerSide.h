#pragma once
// The computer's end of the simulated line for tests that run the simulator in their own event
// loop: the pty slave opened with plain POSIX calls, read while the event loop keeps running so
// the simulator can answer.

#include <QByteArray>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace simwindow_test {

class ComputerSide {
public:
    explicit ComputerSide(const QString& device)
    {
        m_fd = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (m_fd < 0) {
            m_error = QStringLiteral("cannot open %1: %2").arg(device, QString::fromLocal8Bit(std::strerror(errno)));
            return;
        }
        termios settings{};
        ::tcgetattr(m_fd, &settings);
        ::cfmakeraw(&settings);
        ::tcsetattr(m_fd, TCSANOW, &settings);
    }
    ~ComputerSide()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    ComputerSide(const ComputerSide&) = delete;
    ComputerSide& operator=(const ComputerSide&) = delete;

    bool isOpen() const { return m_fd >= 0; }
    QString openError() const { return m_error; }

    // One transmission with the whole handshake: header and code, the checksum echo, 0x00, and
    // the interface's ready byte. Returns what went wrong, or an empty text.
    QString transmit(std::uint8_t header, std::uint8_t code)
    {
        const char transmission[2] = {char(header), char(code)};
        if (::write(m_fd, transmission, 2) != 2)
            return QStringLiteral("writing the transmission failed: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        const QByteArray echo = read(1);
        const auto checksum = char((header + code) & 0xFF);
        if (echo != QByteArray(1, checksum))
            return QStringLiteral("checksum echo for %1 %2 was '%3'")
                .arg(header, 2, 16, QLatin1Char('0'))
                .arg(code, 2, 16, QLatin1Char('0'))
                .arg(QString::fromLatin1(echo.toHex()));
        const char acknowledge = 0x00;
        if (::write(m_fd, &acknowledge, 1) != 1)
            return QStringLiteral("writing the acknowledge failed");
        const QByteArray ready = read(1);
        if (ready != QByteArray(1, char(0x55)))
            return QStringLiteral("expected the ready byte 55, got '%1'").arg(QString::fromLatin1(ready.toHex()));
        return {};
    }

    // Waits in the event loop until count bytes have arrived or the time is up.
    QByteArray read(int count, std::chrono::milliseconds limit = std::chrono::seconds(3))
    {
        QByteArray received;
        QDeadlineTimer deadline(limit);
        QSocketNotifier notifier(m_fd, QSocketNotifier::Read);
        QEventLoop loop;
        QObject::connect(&notifier, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
        QTimer timeout;
        timeout.setSingleShot(true);
        QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
        while (received.size() < count && !deadline.hasExpired()) {
            char buffer[64];
            const ssize_t got = ::read(m_fd, buffer, std::min<qsizetype>(sizeof buffer, count - received.size()));
            if (got > 0) {
                received.append(buffer, got);
                continue;
            }
            if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
                break;
            timeout.start(std::max<qint64>(1, deadline.remainingTime()));
            loop.exec();
        }
        return received;
    }

private:
    int m_fd = -1;
    QString m_error;
};

// Header bytes of a standard transmission: bit 2 always set, bit 1 for a function, bits 7..3
// the dim steps.
inline constexpr std::uint8_t kAddressHeader = 0x04;
inline constexpr std::uint8_t functionHeader(int dimSteps = 0)
{
    return std::uint8_t((dimSteps << 3) | 0x06);
}

// The four-bit codes of A..P and 1..16, written out here so the tests do not borrow the
// simulator's own table.
inline constexpr std::uint8_t kCodes[16] = {0x6, 0xE, 0x2, 0xA, 0x1, 0x9, 0x5, 0xD,
                                            0x7, 0xF, 0x3, 0xB, 0x0, 0x8, 0x4, 0xC};
inline constexpr std::uint8_t addressCode(char house, int unit)
{
    return std::uint8_t((kCodes[house - 'A'] << 4) | kCodes[unit - 1]);
}
inline constexpr std::uint8_t functionCode(char house, int function)
{
    return std::uint8_t((kCodes[house - 'A'] << 4) | function);
}

inline constexpr int kAllLightsOn = 0x1;
inline constexpr int kOn = 0x2;
inline constexpr int kOff = 0x3;
inline constexpr int kDim = 0x4;
inline constexpr int kBright = 0x5;

}  // namespace simwindow_test
