#pragma once
// 128-bit identifiers of classes, interfaces and type libraries, written as
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
//
// The sixteen bytes are kept in the order the hexadecimal digits are written (no
// little-endian first fields), so bytes, text and comparison all agree on every platform.

#include <array>
#include <compare>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quenvar::automation {

struct Guid {
    std::array<std::uint8_t, 16> bytes{};

    // Reads the braced form; hexadecimal digits in either case. Any other text throws
    // std::invalid_argument naming the text and the expected form. Usable in constant
    // expressions, where a bad text fails the build.
    static constexpr Guid parse(std::string_view text) {
        constexpr std::string_view form = "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
        if (text.size() != form.size()) throw badText(text);
        Guid guid;
        std::size_t byteIndex = 0;
        int pendingNibble = -1;
        for (std::size_t i = 0; i < form.size(); ++i) {
            if (form[i] != 'X') {
                if (text[i] != form[i]) throw badText(text);
                continue;
            }
            const int nibble = hexValue(text[i]);
            if (nibble < 0) throw badText(text);
            if (pendingNibble < 0) {
                pendingNibble = nibble;
            } else {
                guid.bytes[byteIndex++] = static_cast<std::uint8_t>(pendingNibble * 16 + nibble);
                pendingNibble = -1;
            }
        }
        return guid;
    }

    // The braced upper-case form; parse(toString()) gives the same identifier.
    std::string toString() const {
        constexpr char digits[] = "0123456789ABCDEF";
        std::string text = "{";
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
            text += digits[bytes[i] >> 4];
            text += digits[bytes[i] & 0x0F];
        }
        text += '}';
        return text;
    }

    bool isNull() const { return *this == Guid{}; }

    friend constexpr bool operator==(const Guid&, const Guid&) = default;
    friend constexpr auto operator<=>(const Guid&, const Guid&) = default;

private:
    static constexpr int hexValue(char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    }
    static std::invalid_argument badText(std::string_view text) {
        return std::invalid_argument("\"" + std::string(text) +
                                     "\" is not an identifier of the form {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}");
    }
};

}  // namespace quenvar::automation
