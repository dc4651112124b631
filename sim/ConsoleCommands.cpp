#include "sim/ConsoleCommands.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <optional>
#include <sstream>

namespace x10sim {

namespace {
struct Entry {
    std::string_view word;
    ConsoleAction action;
    Fault fault;
    std::string_view meaning;
};

constexpr std::array consoleEntries = {
    Entry{"wrong-echo", ConsoleAction::InjectFault, Fault::WrongEcho, "echo the next transmission with checksum + 1"},
    Entry{"no-answer", ConsoleAction::InjectFault, Fault::NoAnswer, "swallow the next transmission (no echo)"},
    Entry{"not-ready", ConsoleAction::InjectFault, Fault::NotReady, "answer 0xAA instead of 0x55 after the next frame"},
    Entry{"stray-bytes", ConsoleAction::InjectFault, Fault::StrayBytes, "send 0x5A 0x33 as soon as idle"},
    Entry{"clear-faults", ConsoleAction::InjectFault, Fault::None, "disarm every armed fault"},
    Entry{"power-fail", ConsoleAction::PowerFailure, Fault::None, "request 0xA5 once a second until answered"},
    Entry{"disappear", ConsoleAction::Disappear, Fault::None, "make the device vanish (reads on it fail)"},
    Entry{"upload-cut-short", ConsoleAction::InjectFault, Fault::UploadCutShort, "stop the next upload after its mask"},
    Entry{"upload-bad-size", ConsoleAction::InjectFault, Fault::UploadSizeOutOfRange,
          "give the next upload a size byte out of range"},
    Entry{"status", ConsoleAction::Status, Fault::None, "list the modules that are on"},
    Entry{"help", ConsoleAction::Help, Fault::None, "show these commands"},
};
constexpr std::string_view remoteUsage =
    "; for instance remote A1 on, remote A1 A3 off, remote A dim 11 (steps of 22) or remote B all-lights-on";

struct FunctionWord {
    std::string_view word;
    FunctionCode function;
    bool takesSteps;
};

constexpr std::array functionWords = {
    FunctionWord{"on", FunctionCode::On, false},
    FunctionWord{"off", FunctionCode::Off, false},
    FunctionWord{"dim", FunctionCode::Dim, true},
    FunctionWord{"bright", FunctionCode::Bright, true},
    FunctionWord{"all-units-off", FunctionCode::AllUnitsOff, false},
    FunctionWord{"all-lights-on", FunctionCode::AllLightsOn, false},
    FunctionWord{"all-lights-off", FunctionCode::AllLightsOff, false},
};

std::optional<int> wholeNumber(std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// The words after "remote", already in lower case.
std::variant<ConsoleCommand, std::string> parseRemote(const std::string& words) {
    std::istringstream in(words);
    std::vector<std::string> tokens;
    for (std::string token; in >> token;) tokens.push_back(token);
    ConsoleCommand command;
    command.action = ConsoleAction::OtherTransmitter;
    char house = 0;
    std::size_t next = 0;
    // Addresses first ("a1", "a16"), or the house letter alone.
    for (; next < tokens.size() && !tokens[next].empty() && std::isalpha(static_cast<unsigned char>(tokens[next][0])) &&
           (tokens[next].size() == 1 || std::isdigit(static_cast<unsigned char>(tokens[next][1])));
         ++next) {
        const std::string& token = tokens[next];
        const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(token[0])));
        if (!houseCode(letter))
            return "remote: house code must be A to P, not \"" + token + "\"" + std::string(remoteUsage);
        if (house != 0 && letter != house)
            return "remote: the units of one house come before a function, not " + std::string(1, house) + " and " +
                   std::string(1, letter) + std::string(remoteUsage);
        house = letter;
        if (token.size() == 1) continue;
        const auto unit = wholeNumber(std::string_view(token).substr(1));
        if (!unit || !unitCode(*unit))
            return "remote: unit code must be 1 to 16, not \"" + token.substr(1) + "\"" + std::string(remoteUsage);
        command.frames.push_back(Frame::forAddress(letter, *unit));
    }
    if (house == 0 || next == tokens.size())
        return "remote: name a house or its units and then a function" + std::string(remoteUsage);
    const auto word = std::find_if(functionWords.begin(), functionWords.end(),
                                   [&](const FunctionWord& entry) { return entry.word == tokens[next]; });
    if (word == functionWords.end())
        return "remote: unknown function \"" + tokens[next] + "\"" + std::string(remoteUsage);
    ++next;
    int steps = 0;
    if (word->takesSteps) {
        const auto given = next < tokens.size() ? wholeNumber(tokens[next]) : std::nullopt;
        if (!given || *given < 1 || *given > fullBrightnessSteps)
            return "remote: " + std::string(word->word) + " needs a number of steps from 1 to 22" +
                   std::string(remoteUsage);
        steps = *given;
        ++next;
    }
    if (next != tokens.size())
        return "remote: nothing may follow the function, not \"" + tokens[next] + "\"" + std::string(remoteUsage);
    command.frames.push_back(Frame::forFunction(house, word->function, steps));
    return command;
}

}  // namespace

std::variant<ConsoleCommand, std::string> parseConsoleCommand(std::string_view line) {
    const auto isBlank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!line.empty() && isBlank(line.front())) line.remove_prefix(1);
    while (!line.empty() && isBlank(line.back())) line.remove_suffix(1);
    if (line.empty()) return ConsoleCommand{};
    std::string word(line);
    std::transform(word.begin(), word.end(), word.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    constexpr std::string_view remoteWord = "remote";
    if (word.rfind(remoteWord, 0) == 0 && (word.size() == remoteWord.size() || isBlank(word[remoteWord.size()])))
        return parseRemote(word.substr(remoteWord.size()));
    for (const Entry& entry : consoleEntries) {
        if (entry.word == word) {
            ConsoleCommand command;
            command.action = entry.action;
            command.fault = entry.fault;
            return command;
        }
    }
    return "unknown command \"" + std::string(line) + "\"; type help for the list";
}

std::string consoleHelp() {
    std::string text;
    for (const Entry& entry : consoleEntries) {
        text += "  ";
        text += entry.word;
        text += std::string(18 - entry.word.size(), ' ');
        text += entry.meaning;
        text += '\n';
    }
    text +=
        "  remote A1 on      another transmitter sends A1 and On (also off, dim N, bright N, all-units-off,\n"
        "                    all-lights-on, all-lights-off; \"remote A dim 11\" for the units addressed before)\n";
    return text;
}

}  // namespace x10sim
