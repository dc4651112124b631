#pragma once
// The commands a person can type into a running x10sim (with --commands), one per line.
// Plain C++ so the parsing is tested without a process.

#include <string>
#include <string_view>
#include <variant>

#include "sim/InterfaceProtocol.h"

namespace x10sim {

enum class ConsoleAction { InjectFault, PowerFailure, Disappear, Status, Help, Nothing };

struct ConsoleCommand {
    ConsoleAction action = ConsoleAction::Nothing;
    Fault fault = Fault::None;  // InjectFault only
    bool operator==(const ConsoleCommand&) const = default;
};

// One line: surrounding blanks and letter case do not matter; an empty line is Nothing.
// An unknown word gives a message for the person that names it and points to "help".
std::variant<ConsoleCommand, std::string> parseConsoleCommand(std::string_view line);

// The lines "help" prints.
std::string consoleHelp();

}  // namespace x10sim
