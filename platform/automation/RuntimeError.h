#pragma once
// Run-time errors of the object runtime: a number and a description, like the errors a
// late-bound host receives as the failure of a call. Every layer raises these; nothing
// below the host traps them.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace quenvar::automation {

namespace error_number {
// Language run-time errors.
inline constexpr std::int32_t InvalidProcedureCall = 5;
inline constexpr std::int32_t Overflow = 6;
inline constexpr std::int32_t SubscriptOutOfRange = 9;
inline constexpr std::int32_t TypeMismatch = 13;
inline constexpr std::int32_t InvalidPropertyValue = 380;
inline constexpr std::int32_t ObjectRequired = 424;
inline constexpr std::int32_t CannotCreateObject = 429;
inline constexpr std::int32_t DeviceUnavailable = 68;
inline constexpr std::int32_t PermissionDenied = 70;
inline constexpr std::int32_t DeviceIoError = 57;
// Serial port errors (the serial component's own numbers).
inline constexpr std::int32_t PortAlreadyOpen = 8005;
inline constexpr std::int32_t InvalidPortNumber = 8002;
inline constexpr std::int32_t PortNotOpen = 8018;
// Dispatch layer failures (automation status codes, as signed 32-bit values).
inline constexpr std::int32_t MemberNotFound = static_cast<std::int32_t>(0x80020003u);
inline constexpr std::int32_t BadParameterCount = static_cast<std::int32_t>(0x8002000Eu);
}  // namespace error_number

class RuntimeError : public std::runtime_error {
public:
    RuntimeError(std::int32_t number, std::string description)
        : std::runtime_error(description), number_(number), description_(std::move(description)) {}
    // An error raised by the conversion of one argument of a call: `argument` is its position
    // in the member's declared order, 0 for the first (and for the value of a property write).
    RuntimeError(std::int32_t number, std::string description, std::size_t argument)
        : RuntimeError(number, std::move(description)) {
        argument_ = argument;
    }

    std::int32_t number() const noexcept { return number_; }
    const std::string& description() const noexcept { return description_; }
    // The argument the error belongs to, when the conversion of an argument raised it.
    std::optional<std::size_t> argument() const noexcept { return argument_; }

    static RuntimeError overflow() { return {error_number::Overflow, "Overflow"}; }
    static RuntimeError typeMismatch() { return {error_number::TypeMismatch, "Type mismatch"}; }
    static RuntimeError invalidProcedureCall() {
        return {error_number::InvalidProcedureCall, "Invalid procedure call or argument"};
    }
    static RuntimeError subscriptOutOfRange() { return {error_number::SubscriptOutOfRange, "Subscript out of range"}; }
    static RuntimeError invalidPropertyValue() {
        return {error_number::InvalidPropertyValue, "Invalid property value"};
    }

private:
    std::int32_t number_;
    std::string description_;
    std::optional<std::size_t> argument_;
};

}  // namespace quenvar::automation
