#pragma once
// What a person asked quenvar for: the command, its modules and the options, read from the
// command line. Pure: no port, no control, no broker.
//
// What a caller may rely on:
// - parseInvocation() never prints and never ends the process: help, the version and usage
//   errors come back as text with the exit code the program ends with (0 for help and version,
//   2 for a usage error).
// - Addresses are read for their shape only (a letter, then one or two digits): a house or unit
//   out of range is left to the control, whose checks give the message. Units are handed on as
//   two digits ("A1" becomes house "A", unit "01"), the form of the control's unit table.
// - The units of one command share one house; the first comes first in `units`.

#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>
#include <variant>

namespace quenvar::commandline {

enum class Verb { On, Off, Dim, Bright, LightsOn, LightsOff, AllOff, Monitor };

// What a verb takes after its name.
enum class Operands { Units, UnitsAndLevel, House, Nothing };

struct VerbInfo {
    Verb verb;
    const char* name;     // on the command line
    const char* member;   // the control's method; empty for monitor
    const char* request;  // the bridge's command word
    Operands operands;
    const char* synopsis;
    const char* summary;
    const char* example;
};

// Every verb, in the order --help lists them.
const std::vector<VerbInfo>& verbs();
const VerbInfo& infoOf(Verb verb);

struct Invocation {
    Verb verb = Verb::On;
    QString house;      // as typed: "A" or "a"
    QStringList units;  // "01".."99", the first unit first
    int level = 0;      // Dim and Bright: the control's percentage
    std::optional<int> port;
    QString device;
    // Unset: the default for the command's length (defaultLimit()).
    std::optional<std::chrono::milliseconds> timeout;
    bool quiet = false;
    bool json = false;
    QString broker;
    QString prefix = QStringLiteral("quenvar");
    QString interfaceId = QStringLiteral("house");

    // Transmissions on the line: an address per unit and the function.
    int transmissions() const { return static_cast<int>(units.size()) + 1; }
    // How long the command may take: --timeout, else 2.5 s per transmission, at least 5 s, which
    // a real line (about 0.42 s per frame and the handshake's bytes) keeps well within.
    std::chrono::milliseconds limit() const;
    // "on A1 A3", "dim A1 40", "lightson A": the command as the person would type it.
    QString describe() const;
};

// Help, the version, or a usage error: what to print, where and how to end.
struct EarlyExit {
    QString text;
    bool toStandardError = false;
    int exitCode = 0;
};

std::variant<Invocation, EarlyExit> parseInvocation(const QStringList& arguments);

}  // namespace quenvar::commandline
