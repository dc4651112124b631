// The runtime's text -> integer conversions against a reference written from their documented
// form: the value, or overflow (6), or type mismatch (13), must be the reference's, for the
// 16- and 32-bit conversions, with the C locale's separator and with a given one, directly
// and through Variant. Plain integers are also checked against std::from_chars.
//
// Input: the first byte picks the decimal separator and whether the rest is taken as it is or
// assembled into something number-shaped (blanks, sign, digits, separator, digits, blanks).

#include <fuzzer/FuzzedDataProvider.h>

#include <charconv>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/FuzzCheck.h"
#include "fuzz/ReferenceNumber.h"
#include "platform/automation/Conversions.h"
#include "platform/automation/RuntimeError.h"
#include "platform/automation/Variant.h"

namespace {

using quenvar::automation::RuntimeError;
using quenvar::fuzz::quoted;
using quenvar::fuzz::ReferenceNumber;
using quenvar::fuzz::referenceNumber;
using quenvar::fuzz::require;
namespace error_number = quenvar::automation::error_number;

// What a conversion gave: its value, or the number of the run-time error it raised.
struct Result {
    long long value = 0;
    std::int32_t error = 0;
};

template <typename Convert>
Result resultOf(Convert&& convert, const std::string& what) {
    try {
        return {static_cast<long long>(convert()), 0};
    } catch (const RuntimeError& error) {
        require(error.number() == error_number::Overflow || error.number() == error_number::TypeMismatch,
                "a conversion raises only overflow (6) or type mismatch (13)",
                what + " raised " + std::to_string(error.number()) + " " + error.description());
        return {0, error.number()};
    } catch (const std::exception& failure) {
        quenvar::fuzz::fail("only run-time errors leave a conversion", what + " threw " + failure.what());
    }
}

Result expectedFrom(const ReferenceNumber& reference) {
    switch (reference.outcome) {
        case ReferenceNumber::Outcome::Value: return {reference.value, 0};
        case ReferenceNumber::Outcome::Overflow: return {0, error_number::Overflow};
        case ReferenceNumber::Outcome::TypeMismatch: break;
    }
    return {0, error_number::TypeMismatch};
}

std::string describe(const Result& result) {
    return result.error != 0 ? "error " + std::to_string(result.error) : "value " + std::to_string(result.value);
}

void requireSame(const Result& actual, const Result& expected, const std::string& what) {
    require(actual.error == expected.error && actual.value == expected.value, "a conversion agrees with the reference",
            what + " gave " + describe(actual) + ", expected " + describe(expected));
}

// Plain integers ([blanks] [sign] digits [blanks]) by std::from_chars; nullopt for other texts.
std::optional<Result> plainInteger(std::string_view text, long long lowest, long long highest) {
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.find_first_not_of("0123456789") != text.npos) return std::nullopt;
    const std::size_t firstSignificant = text.find_first_not_of('0');
    text = firstSignificant == text.npos ? std::string_view("0") : text.substr(firstSignificant);
    if (text.size() > 18) return Result{0, error_number::Overflow};
    long long magnitude = 0;
    std::from_chars(text.data(), text.data() + text.size(), magnitude);
    const long long value = negative ? -magnitude : magnitude;
    if (value < lowest || value > highest) return Result{0, error_number::Overflow};
    return Result{value, 0};
}

// Something shaped like a number, so most inputs reach the interesting parts of the grammar.
std::string assembleNumber(FuzzedDataProvider& input, std::string_view separator) {
    static constexpr const char* blanks[] = {"", " ", "\t", "  "};
    static constexpr const char* signs[] = {"", "+", "-", "--", "+-"};
    static constexpr const char* digitRuns[] = {"",
                                                "0",
                                                "5",
                                                "16",
                                                "32767",
                                                "32768",
                                                "32766",
                                                "2147483647",
                                                "2147483648",
                                                "000000000000000000001",
                                                "99999999999999999999"};
    std::string text = blanks[input.ConsumeIntegralInRange<int>(0, 3)];
    text += signs[input.ConsumeIntegralInRange<int>(0, 4)];
    if (input.ConsumeBool())
        text += digitRuns[input.ConsumeIntegralInRange<int>(0, 10)];
    else
        text += std::to_string(input.ConsumeIntegral<std::int32_t>());
    if (input.ConsumeBool()) {
        text += separator;
        static constexpr const char* fractions[] = {"", "5", "50", "500001", "4999", "0", "6", "05"};
        text += fractions[input.ConsumeIntegralInRange<int>(0, 7)];
    }
    text += blanks[input.ConsumeIntegralInRange<int>(0, 3)];
    if (input.ConsumeIntegral<std::uint8_t>() > 240) text += input.ConsumeRandomLengthString(3);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace conv = quenvar::automation;
    FuzzedDataProvider input(data, size);
    const std::uint8_t mode = input.ConsumeIntegral<std::uint8_t>();
    static constexpr std::string_view separators[] = {".", ",", "\xB7", "::", ""};
    const std::string_view separator = separators[(mode & 0x7F) % 5];
    const std::string text =
        (mode & 0x80) != 0 ? assembleNumber(input, separator) : input.ConsumeRemainingBytesAsString();
    const std::string shown = quoted(text) + " with separator " + quoted(separator);

    constexpr long long int16Min = std::numeric_limits<std::int16_t>::min();
    constexpr long long int16Max = std::numeric_limits<std::int16_t>::max();
    constexpr long long int32Min = std::numeric_limits<std::int32_t>::min();
    constexpr long long int32Max = std::numeric_limits<std::int32_t>::max();

    const Result int16 = resultOf([&] { return conv::textToInt16(text, separator); }, "textToInt16 " + shown);
    const Result int32 = resultOf([&] { return conv::textToInt32(text, separator); }, "textToInt32 " + shown);
    requireSame(int16, expectedFrom(referenceNumber(text, separator, int16Min, int16Max)), "textToInt16 " + shown);
    requireSame(int32, expectedFrom(referenceNumber(text, separator, int32Min, int32Max)), "textToInt32 " + shown);
    if (separator.find_first_of("0123456789+- \t") == separator.npos) {
        if (const auto plain = plainInteger(text, int16Min, int16Max))
            requireSame(int16, *plain, "plain textToInt16 " + shown);
        if (const auto plain = plainInteger(text, int32Min, int32Max))
            requireSame(int32, *plain, "plain textToInt32 " + shown);
    }

    // The C locale's separator is "."; Variant converts texts the same way.
    const ReferenceNumber withPoint16 = referenceNumber(text, ".", int16Min, int16Max);
    const std::string pointed = quoted(text) + " in the C locale";
    requireSame(resultOf([&] { return conv::textToInt16(text); }, "textToInt16 " + pointed), expectedFrom(withPoint16),
                "textToInt16 " + pointed);
    const auto asText = conv::Variant::fromText(text);
    requireSame(resultOf([&] { return asText.toInt16(); }, "Variant::toInt16 " + pointed), expectedFrom(withPoint16),
                "Variant::toInt16 " + pointed);
    const ReferenceNumber withPoint32 = referenceNumber(text, ".", int32Min, int32Max);
    requireSame(resultOf([&] { return asText.toInt32(); }, "Variant::toInt32 " + pointed), expectedFrom(withPoint32),
                "Variant::toInt32 " + pointed);

    // Whether the text is a nonzero number: no rounding and no range.
    const Result nonzero =
        resultOf([&] { return conv::textIsNonzeroNumber(text) ? 1 : 0; }, "textIsNonzeroNumber " + pointed);
    const Result expectedNonzero = withPoint32.outcome == ReferenceNumber::Outcome::TypeMismatch
                                       ? Result{0, error_number::TypeMismatch}
                                       : Result{withPoint32.nonzero ? 1 : 0, 0};
    requireSame(nonzero, expectedNonzero, "textIsNonzeroNumber " + pointed);

    // Byte <-> one-character text.
    const Result code = [&]() -> Result {
        try {
            return {conv::charCode(text), 0};
        } catch (const RuntimeError& error) {
            return {0, error.number()};
        }
    }();
    requireSame(code,
                text.empty() ? Result{0, error_number::InvalidProcedureCall}
                             : Result{static_cast<unsigned char>(text.front()), 0},
                "charCode " + pointed);
    if (!text.empty()) {
        require(conv::charText(static_cast<int>(code.value)) == text.substr(0, 1), "charText undoes charCode", pointed);
    }
    return 0;
}
