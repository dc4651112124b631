#include "platform/automation/Conversions.h"

#include <clocale>

#include "platform/automation/CheckedArithmetic.h"
#include "platform/automation/RuntimeError.h"

namespace quenvar::automation {
namespace {

// A number as written: its sign and the digit runs on either side of the separator.
struct WrittenNumber {
    bool negative = false;
    std::string_view integerDigits;
    std::string_view fractionDigits;
};

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
    return text;
}

std::string_view takeDigits(std::string_view& rest) {
    std::size_t length = 0;
    while (length < rest.size() && isDigit(rest[length])) ++length;
    std::string_view digits = rest.substr(0, length);
    rest.remove_prefix(length);
    return digits;
}

WrittenNumber readNumber(std::string_view text, std::string_view decimalSeparator) {
    std::string_view rest = trimBlanks(text);
    WrittenNumber number;
    if (!rest.empty() && (rest.front() == '+' || rest.front() == '-')) {
        number.negative = rest.front() == '-';
        rest.remove_prefix(1);
    }
    number.integerDigits = takeDigits(rest);
    if (!decimalSeparator.empty() && rest.starts_with(decimalSeparator)) {
        rest.remove_prefix(decimalSeparator.size());
        number.fractionDigits = takeDigits(rest);
    }
    if (!rest.empty() || (number.integerDigits.empty() && number.fractionDigits.empty())) {
        throw RuntimeError::typeMismatch();
    }
    return number;
}

// Rounds half to even; raises overflow when the result does not fit in `Int`.
template <typename Int>
Int roundToInteger(const WrittenNumber& number) {
    std::string_view digits = number.integerDigits;
    while (!digits.empty() && digits.front() == '0') digits.remove_prefix(1);
    // Eighteen digits always fit in long long, and anything longer is far outside any target.
    if (digits.size() > 18) throw RuntimeError::overflow();
    long long magnitude = 0;
    for (char digit : digits) magnitude = magnitude * 10 + (digit - '0');

    std::string_view fraction = number.fractionDigits;
    if (!fraction.empty()) {
        const char first = fraction.front();
        const bool restNonzero = fraction.substr(1).find_first_not_of('0') != std::string_view::npos;
        const bool above = first > '5' || (first == '5' && restNonzero);
        const bool tie = first == '5' && !restNonzero;
        if (above || (tie && magnitude % 2 != 0)) ++magnitude;
    }
    return narrowChecked<Int>(number.negative ? -magnitude : magnitude);
}

std::string_view currentDecimalSeparator() {
    const char* separator = std::localeconv()->decimal_point;
    return separator != nullptr && *separator != '\0' ? std::string_view(separator) : std::string_view(".");
}

}  // namespace

std::int16_t textToInt16(std::string_view text, std::string_view decimalSeparator) {
    return roundToInteger<std::int16_t>(readNumber(text, decimalSeparator));
}

std::int32_t textToInt32(std::string_view text, std::string_view decimalSeparator) {
    return roundToInteger<std::int32_t>(readNumber(text, decimalSeparator));
}

std::int16_t textToInt16(std::string_view text) { return textToInt16(text, currentDecimalSeparator()); }

std::int32_t textToInt32(std::string_view text) { return textToInt32(text, currentDecimalSeparator()); }

bool textIsNonzeroNumber(std::string_view text) {
    const WrittenNumber number = readNumber(text, currentDecimalSeparator());
    auto hasNonzero = [](std::string_view digits) { return digits.find_first_not_of('0') != std::string_view::npos; };
    return hasNonzero(number.integerDigits) || hasNonzero(number.fractionDigits);
}

int charCode(std::string_view text) {
    if (text.empty()) throw RuntimeError::invalidProcedureCall();
    return static_cast<unsigned char>(text.front());
}

std::string charText(int code) {
    if (code < 0 || code > 255) throw RuntimeError::invalidProcedureCall();
    return std::string(1, static_cast<char>(static_cast<unsigned char>(code)));
}

}  // namespace quenvar::automation
