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
//
// Accepted form, exactly: [spaces] [+|-] digits [sep [digits]] [spaces], or the same with
// no digits before the separator but at least one after it ("  -.5 "). Spaces are blanks
// and tabs. Nothing else is a number: no exponent ("1e1"), no hexadecimal or octal prefix,
// no thousands separators, no space between the sign and the digits. Overflow is judged
// after rounding, so "32767.5" (rounds to 32768) overflows while "32766.5" gives 32766.
std::int16_t textToInt16(std::string_view text);
std::int32_t textToInt32(std::string_view text);

// The same with the decimal separator given instead of taken from the C locale.
std::int16_t textToInt16(std::string_view text, std::string_view decimalSeparator);
std::int32_t textToInt32(std::string_view text, std::string_view decimalSeparator);

// Whether the text is a number in the form above whose value is not zero ("0.4" is nonzero;
// no rounding and no range limit). A text that is no number raises type mismatch (13).
bool textIsNonzeroNumber(std::string_view text);

// Code of the first character, 0..255. The empty text raises invalid procedure call (5).
int charCode(std::string_view text);

// The one-character text whose code is `code`; a code outside 0..255 raises invalid
// procedure call (5).
std::string charText(int code);

}  // namespace quenvar::automation
