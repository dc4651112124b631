#pragma once
// The commands a person can type into a running x10sim (with --commands), one per line.
// Plain C++ so the parsing is tested without a process.

#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "sim/Frame.h"
#include "sim/InterfaceProtocol.h"

namespace x10sim {

enum class ConsoleAction { InjectFault, PowerFailure, Disappear, Status, Help, Nothing, OtherTransmitter };

struct ConsoleCommand {
    ConsoleAction action = ConsoleAction::Nothing;
    Fault fault = Fault::None;  // InjectFault only
    std::vector<Frame> frames;  // OtherTransmitter only: what the remote control sends
    bool operator==(const ConsoleCommand&) const = default;
};

// One line: surrounding blanks and letter case do not matter; an empty line is Nothing.
// An unknown word gives a message for the person that names it and points to "help".
// "remote" is followed by the units of one house and a function, as a remote control sends
// them: "remote A1 on", "remote A1 A3 off", "remote A dim 11" (steps of 22, for the units
// addressed before), "remote B all-lights-on"; a message says what is wrong with any other.
std::variant<ConsoleCommand, std::string> parseConsoleCommand(std::string_view line);

// The lines "help" prints.
std::string consoleHelp();

}  // namespace x10sim
