#pragma once
// Text <-> number conversions and byte <-> one-character text, raising the language's
// run-time errors.

#include <cstdint>
#include <string>
#include <string_view>

namespace quenvar::automation {

// Locale-aware text to 16-bit integer: "01".."16" give 1..16; surrounding spaces and one
// leading sign are accepted; a decimal fraction (with the current C locale's decimal
// separator) is rounded half to even. A text that is no number (letters, the empty text)
// raises type mismatch (13); a number outside -32768..32767 raises overflow (6).
std::int16_t textToInt16(std::string_view text);
std::int32_t textToInt32(std::string_view text);

// Code of the first character, 0..255. The empty text raises invalid procedure call (5).
int charCode(std::string_view text);

// The one-character text whose code is `code`; a code outside 0..255 raises invalid
// procedure call (5).
std::string charText(int code);

}  // namespace quenvar::automation
