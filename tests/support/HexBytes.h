#pragma once
// Bytes written as hex in tests, and shown as hex in their messages.

#include <string>

namespace quenvar::testing {

// "5A 03" -> the bytes 0x5A 0x03; blanks between digit pairs are ignored.
inline std::string hex(const std::string& text) {
    std::string digits;
    for (char c : text) {
        if (c != ' ') digits += c;
    }
    std::string bytes;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
    }
    return bytes;
}

// The bytes as "5A 03 ...", for messages that show what differs.
inline std::string spaced(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (char byte : bytes) {
        const auto value = static_cast<unsigned char>(byte);
        text += (text.empty() ? "" : " ") + std::string{digits[value >> 4], digits[value & 0x0F]};
    }
    return text;
}

}  // namespace quenvar::testing
