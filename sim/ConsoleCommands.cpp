#include "sim/ConsoleCommands.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace x10sim {

namespace {
struct Entry {
    std::string_view word;
    ConsoleCommand command;
    std::string_view meaning;
};

constexpr std::array kEntries = {
    Entry{"wrong-echo", {ConsoleAction::InjectFault, Fault::WrongEcho}, "echo the next transmission with checksum + 1"},
    Entry{"no-answer", {ConsoleAction::InjectFault, Fault::NoAnswer}, "swallow the next transmission (no echo)"},
    Entry{"not-ready", {ConsoleAction::InjectFault, Fault::NotReady}, "answer 0xAA instead of 0x55 after the next frame"},
    Entry{"stray-bytes", {ConsoleAction::InjectFault, Fault::StrayBytes}, "send 0x5A 0x33 as soon as idle"},
    Entry{"clear-faults", {ConsoleAction::InjectFault, Fault::None}, "disarm every armed fault"},
    Entry{"power-fail", {ConsoleAction::PowerFailure, Fault::None}, "request 0xA5 once a second until answered"},
    Entry{"disappear", {ConsoleAction::Disappear, Fault::None}, "make the device vanish (reads on it fail)"},
    Entry{"status", {ConsoleAction::Status, Fault::None}, "list the modules that are on"},
    Entry{"help", {ConsoleAction::Help, Fault::None}, "show these commands"},
};
}  // namespace

std::variant<ConsoleCommand, std::string> parseConsoleCommand(std::string_view line)
{
    const auto isBlank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!line.empty() && isBlank(line.front()))
        line.remove_prefix(1);
    while (!line.empty() && isBlank(line.back()))
        line.remove_suffix(1);
    if (line.empty())
        return ConsoleCommand{};
    std::string word(line);
    std::transform(word.begin(), word.end(), word.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const Entry& entry : kEntries) {
        if (entry.word == word)
            return entry.command;
    }
    return "unknown command \"" + std::string(line) + "\"; type help for the list";
}

std::string consoleHelp()
{
    std::string text;
    for (const Entry& entry : kEntries) {
        text += "  ";
        text += entry.word;
        text += std::string(14 - entry.word.size(), ' ');
        text += entry.meaning;
        text += '\n';
    }
    return text;
}

}  // namespace x10sim
