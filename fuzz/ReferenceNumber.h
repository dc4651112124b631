#pragma once
// A reference for the runtime's text -> integer conversion, written from its documented
// contract: [blanks] [+|-] digits [separator [digits]] [blanks], or no digits before the
// separator and at least one after it; blanks are spaces and tabs; a fraction rounds half to
// even; the range is judged after rounding. Kept deliberately plain so it is easy to believe.

#include <cstdint>
#include <string_view>

namespace quenvar::fuzz {

struct ReferenceNumber {
    enum class Outcome { Value, TypeMismatch, Overflow };
    Outcome outcome = Outcome::TypeMismatch;
    long long value = 0;
    bool nonzero = false;  // a number with a nonzero digit, before rounding and range
};

inline ReferenceNumber referenceNumber(std::string_view text, std::string_view separator, long long lowest,
                                       long long highest) {
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && blank(text[begin])) ++begin;
    while (end > begin && blank(text[end - 1])) --end;

    std::size_t at = begin;
    bool negative = false;
    if (at < end && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    const std::size_t wholeStart = at;
    while (at < end && digit(text[at])) ++at;
    const std::string_view whole = text.substr(wholeStart, at - wholeStart);
    std::string_view fraction;
    if (!separator.empty() && text.substr(at, end - at).starts_with(separator)) {
        at += separator.size();
        const std::size_t fractionStart = at;
        while (at < end && digit(text[at])) ++at;
        fraction = text.substr(fractionStart, at - fractionStart);
    }
    if (at != end || (whole.empty() && fraction.empty())) return {};

    auto hasNonzeroDigit = [](std::string_view digits) { return digits.find_first_not_of('0') != digits.npos; };
    const bool nonzero = hasNonzeroDigit(whole) || hasNonzeroDigit(fraction);

    // The magnitude, stopping early once it is beyond any range asked about.
    constexpr long long huge = 1'000'000'000'000LL;
    long long magnitude = 0;
    for (char c : whole) {
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > huge) return {ReferenceNumber::Outcome::Overflow, 0, nonzero};
    }
    // Half to even: above one half rounds up, exactly one half rounds to the even neighbour.
    std::string_view significant = fraction;
    while (!significant.empty() && significant.back() == '0') significant.remove_suffix(1);
    if (!significant.empty()) {
        const bool exactlyHalf = significant == "5";
        const bool aboveHalf = !exactlyHalf && significant.front() >= '5';
        if (aboveHalf || (exactlyHalf && magnitude % 2 == 1)) ++magnitude;
    }
    const long long value = negative ? -magnitude : magnitude;
    if (value < lowest || value > highest) return {ReferenceNumber::Outcome::Overflow, 0, nonzero};
    return {ReferenceNumber::Outcome::Value, value, nonzero};
}

}  // namespace quenvar::fuzz
