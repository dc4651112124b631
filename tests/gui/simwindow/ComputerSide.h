#pragma once
// The computer's end of the simulated line for tests that run the simulator in their own event
// loop, able to send one whole transmission, and the bytes such transmissions are made of.

#include <QByteArray>
#include <QString>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "tests/support/ComputerSide.h"

namespace simwindow_test {

class ComputerSide : public quenvar::testing::ComputerSide {
public:
    using quenvar::testing::ComputerSide::ComputerSide;

    // One transmission with the whole handshake: header and code, the checksum echo, 0x00, and
    // the interface's ready byte. Returns what went wrong, or an empty text.
    QString transmit(std::uint8_t header, std::uint8_t code) {
        const char transmission[2] = {char(header), char(code)};
        if (!write(QByteArray(transmission, 2)))
            return QStringLiteral("writing the transmission failed: %1")
                .arg(QString::fromLocal8Bit(std::strerror(errno)));
        const QByteArray echo = read(1);
        const auto checksum = char((header + code) & 0xFF);
        if (echo != QByteArray(1, checksum))
            return QStringLiteral("checksum echo for %1 %2 was '%3'")
                .arg(header, 2, 16, QLatin1Char('0'))
                .arg(code, 2, 16, QLatin1Char('0'))
                .arg(QString::fromLatin1(echo.toHex()));
        if (!write(QByteArray(1, char(0x00)))) return QStringLiteral("writing the acknowledge failed");
        const QByteArray ready = read(1);
        if (ready != QByteArray(1, char(0x55)))
            return QStringLiteral("expected the ready byte 55, got '%1'").arg(QString::fromLatin1(ready.toHex()));
        return {};
    }
};

// Header bytes of a standard transmission: bit 2 always set, bit 1 for a function, bits 7..3
// the dim steps.
inline constexpr std::uint8_t addressHeader = 0x04;
inline constexpr std::uint8_t functionHeader(int dimSteps = 0) { return std::uint8_t((dimSteps << 3) | 0x06); }

// The four-bit codes of A..P and 1..16, written out here so the tests do not borrow the
// simulator's own table.
inline constexpr std::uint8_t fourBitCodes[16] = {0x6, 0xE, 0x2, 0xA, 0x1, 0x9, 0x5, 0xD,
                                                  0x7, 0xF, 0x3, 0xB, 0x0, 0x8, 0x4, 0xC};
inline constexpr std::uint8_t addressCode(char house, int unit) {
    return std::uint8_t((fourBitCodes[house - 'A'] << 4) | fourBitCodes[unit - 1]);
}
inline constexpr std::uint8_t functionCode(char house, int function) {
    return std::uint8_t((fourBitCodes[house - 'A'] << 4) | function);
}

inline constexpr int functionAllLightsOn = 0x1;
inline constexpr int functionOn = 0x2;
inline constexpr int functionOff = 0x3;
inline constexpr int functionDim = 0x4;
inline constexpr int functionBright = 0x5;

}  // namespace simwindow_test
