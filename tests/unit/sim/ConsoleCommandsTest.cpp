#include "sim/ConsoleCommands.h"

#include <gtest/gtest.h>

#include <ostream>

namespace x10sim {
namespace {

struct CommandCase {
    const char* line;
    ConsoleAction action;
    Fault fault;
};

void PrintTo(const CommandCase& c, std::ostream* out) { *out << '"' << c.line << '"'; }

class ConsoleCommandParsing : public ::testing::TestWithParam<CommandCase> {};

TEST_P(ConsoleCommandParsing, KnowsEachWord)
{
    const auto parsed = parseConsoleCommand(GetParam().line);
    ASSERT_TRUE(std::holds_alternative<ConsoleCommand>(parsed)) << std::get<std::string>(parsed);
    EXPECT_EQ(std::get<ConsoleCommand>(parsed), (ConsoleCommand{GetParam().action, GetParam().fault}));
}

INSTANTIATE_TEST_SUITE_P(Words, ConsoleCommandParsing, ::testing::Values(
    CommandCase{"wrong-echo", ConsoleAction::InjectFault, Fault::WrongEcho},
    CommandCase{"no-answer", ConsoleAction::InjectFault, Fault::NoAnswer},
    CommandCase{"not-ready", ConsoleAction::InjectFault, Fault::NotReady},
    CommandCase{"stray-bytes", ConsoleAction::InjectFault, Fault::StrayBytes},
    CommandCase{"clear-faults", ConsoleAction::InjectFault, Fault::None},
    CommandCase{"power-fail", ConsoleAction::PowerFailure, Fault::None},
    CommandCase{"disappear", ConsoleAction::Disappear, Fault::None},
    CommandCase{"status", ConsoleAction::Status, Fault::None},
    CommandCase{"help", ConsoleAction::Help, Fault::None},
    CommandCase{"  Not-Ready \r", ConsoleAction::InjectFault, Fault::NotReady},
    CommandCase{"", ConsoleAction::Nothing, Fault::None},
    CommandCase{" \t ", ConsoleAction::Nothing, Fault::None}));

TEST(ConsoleCommandParsing, UnknownWordIsNamedInTheMessage)
{
    for (const char* line : {"explode", "wrong echo", "not-ready now"}) {
        const auto parsed = parseConsoleCommand(line);
        ASSERT_TRUE(std::holds_alternative<std::string>(parsed)) << line;
        const std::string& message = std::get<std::string>(parsed);
        EXPECT_NE(message.find(line), std::string::npos) << message;
        EXPECT_NE(message.find("help"), std::string::npos) << message;
    }
}

TEST(ConsoleCommandParsing, HelpListsEveryWord)
{
    const std::string help = consoleHelp();
    for (const char* word : {"wrong-echo", "no-answer", "not-ready", "stray-bytes", "clear-faults", "power-fail",
                             "disappear", "status", "help"}) {
        EXPECT_NE(help.find(word), std::string::npos) << word;
        EXPECT_TRUE(std::holds_alternative<ConsoleCommand>(parseConsoleCommand(word))) << word;
    }
}

}  // namespace
}  // namespace x10sim
