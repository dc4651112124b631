#include "sim/ConsoleCommands.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace x10sim {
namespace {

struct CommandCase {
    const char* line;
    ConsoleAction action;
    Fault fault;
};

void PrintTo(const CommandCase& c, std::ostream* out) { *out << '"' << c.line << '"'; }

class ConsoleCommandParsing : public ::testing::TestWithParam<CommandCase> {};

TEST_P(ConsoleCommandParsing, KnowsEachWord) {
    const auto parsed = parseConsoleCommand(GetParam().line);
    ASSERT_TRUE(std::holds_alternative<ConsoleCommand>(parsed)) << std::get<std::string>(parsed);
    const ConsoleCommand& command = std::get<ConsoleCommand>(parsed);
    EXPECT_EQ(command.action, GetParam().action);
    EXPECT_EQ(command.fault, GetParam().fault);
    EXPECT_TRUE(command.frames.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Words, ConsoleCommandParsing,
    ::testing::Values(CommandCase{"wrong-echo", ConsoleAction::InjectFault, Fault::WrongEcho},
                      CommandCase{"no-answer", ConsoleAction::InjectFault, Fault::NoAnswer},
                      CommandCase{"not-ready", ConsoleAction::InjectFault, Fault::NotReady},
                      CommandCase{"stray-bytes", ConsoleAction::InjectFault, Fault::StrayBytes},
                      CommandCase{"clear-faults", ConsoleAction::InjectFault, Fault::None},
                      CommandCase{"power-fail", ConsoleAction::PowerFailure, Fault::None},
                      CommandCase{"disappear", ConsoleAction::Disappear, Fault::None},
                      CommandCase{"status", ConsoleAction::Status, Fault::None},
                      CommandCase{"help", ConsoleAction::Help, Fault::None},
                      CommandCase{"upload-cut-short", ConsoleAction::InjectFault, Fault::UploadCutShort},
                      CommandCase{"upload-bad-size", ConsoleAction::InjectFault, Fault::UploadSizeOutOfRange},
                      CommandCase{"  Not-Ready \r", ConsoleAction::InjectFault, Fault::NotReady},
                      CommandCase{"", ConsoleAction::Nothing, Fault::None},
                      CommandCase{" \t ", ConsoleAction::Nothing, Fault::None}));

struct RemoteCase {
    const char* line;
    std::vector<std::string> frames;  // as Frame::text() gives them, before they are sent
};

void PrintTo(const RemoteCase& c, std::ostream* out) { *out << '"' << c.line << '"'; }

class RemoteTraffic : public ::testing::TestWithParam<RemoteCase> {};

TEST_P(RemoteTraffic, BecomesTheFramesARemoteControlSends) {
    const auto parsed = parseConsoleCommand(GetParam().line);
    ASSERT_TRUE(std::holds_alternative<ConsoleCommand>(parsed)) << std::get<std::string>(parsed);
    const ConsoleCommand& command = std::get<ConsoleCommand>(parsed);
    EXPECT_EQ(command.action, ConsoleAction::OtherTransmitter);
    std::vector<std::string> texts;
    for (const Frame& frame : command.frames) texts.push_back(frame.text());
    EXPECT_EQ(texts, GetParam().frames);
}

INSTANTIATE_TEST_SUITE_P(Lines, RemoteTraffic,
                         ::testing::Values(RemoteCase{"remote A1 on", {"A1 address", "A On"}},
                                           RemoteCase{"  REMOTE p16 Off ", {"P16 address", "P Off"}},
                                           RemoteCase{"remote A1 A3 off", {"A1 address", "A3 address", "A Off"}},
                                           RemoteCase{"remote A dim 11", {"A Dim 11 steps"}},
                                           RemoteCase{"remote e5 bright 22", {"E5 address", "E Bright 22 steps"}},
                                           RemoteCase{"remote b all-units-off", {"B All Units Off"}},
                                           RemoteCase{"remote b all-lights-on", {"B All Lights On"}},
                                           RemoteCase{"remote b all-lights-off", {"B All Lights Off"}}));

TEST(RemoteTraffic, MistakesAreExplained) {
    const struct {
        const char* line;
        const char* named;
    } mistakes[] = {
        {"remote", "name a house"},       {"remote a1", "name a house"},   {"remote q1 on", "\"q1\""},
        {"remote a17 on", "\"17\""},      {"remote a0 on", "\"0\""},       {"remote a1 b2 on", "A and B"},
        {"remote a1 blink", "\"blink\""}, {"remote a dim", "1 to 22"},     {"remote a dim 23", "1 to 22"},
        {"remote a dim x", "1 to 22"},    {"remote a1 on now", "\"now\""},
    };
    for (const auto& mistake : mistakes) {
        const auto parsed = parseConsoleCommand(mistake.line);
        ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << mistake.line;
        const std::string& message = std::get<std::string>(parsed);
        EXPECT_NE(message.find(mistake.named), std::string::npos) << mistake.line << ": " << message;
        EXPECT_NE(message.find("remote A1 on"), std::string::npos) << "shows an example: " << message;
    }
}

TEST(ConsoleCommandParsing, UnknownWordIsNamedInTheMessage) {
    for (const char* line : {"explode", "wrong echo", "not-ready now"}) {
        const auto parsed = parseConsoleCommand(line);
        ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << line;
        const std::string& message = std::get<std::string>(parsed);
        EXPECT_NE(message.find(line), std::string::npos) << message;
        EXPECT_NE(message.find("help"), std::string::npos) << message;
    }
}

TEST(ConsoleCommandParsing, HelpListsEveryWord) {
    const std::string help = consoleHelp();
    for (const char* word : {"wrong-echo", "no-answer", "not-ready", "stray-bytes", "clear-faults", "power-fail",
                             "disappear", "upload-cut-short", "upload-bad-size", "status", "help"}) {
        EXPECT_NE(help.find(word), std::string::npos) << word;
        EXPECT_TRUE(std::holds_alternative<ConsoleCommand>(parseConsoleCommand(word))) << word;
    }
}

}  // namespace
}  // namespace x10sim
