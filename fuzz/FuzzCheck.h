#pragma once
// What every fuzz target uses to report a broken rule: a clear message on standard error,
// then a trap, so libFuzzer records the input that led there as a crash.

#include <cstdio>
#include <string>
#include <string_view>

namespace quenvar::fuzz {

[[noreturn]] inline void fail(std::string_view rule, std::string_view details) {
    std::fprintf(stderr, "\n*** quenvar fuzz: rule broken: %.*s\n    %.*s\n", static_cast<int>(rule.size()),
                 rule.data(), static_cast<int>(details.size()), details.data());
    std::fflush(stderr);
    __builtin_trap();
}

inline void require(bool holds, std::string_view rule, std::string_view details = {}) {
    if (!holds) fail(rule, details);
}

// Bytes as hex, for messages: "04 66".
inline std::string hexBytes(std::string_view bytes) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned char byte : bytes) {
        if (!text.empty()) text += ' ';
        text += digits[byte >> 4];
        text += digits[byte & 0x0F];
    }
    return text.empty() ? std::string("(none)") : text;
}

// A text quoted for messages with its bytes: "A" [41].
inline std::string quoted(std::string_view text) {
    std::string printable;
    for (unsigned char c : text) printable += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    return "\"" + printable + "\" [" + hexBytes(text) + "]";
}

}  // namespace quenvar::fuzz
