// The program takes no options: the toolkit's own options on its command line change nothing,
// and the environment still chooses the platform.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/app/child_process.h"

namespace {

struct CommandLineCase {
    const char* name;
    std::vector<std::string> arguments;
    friend void PrintTo(const CommandLineCase& row, std::ostream* os) { *os << row.name; }
};

class CommandLineTest : public ::testing::TestWithParam<CommandLineCase> {};

// The window stays open until someone closes it; a program that took the options would have
// ended on the unknown platform, or named the unknown style or style sheet.
TEST_P(CommandLineTest, TheProgramRunsAsWithoutThem) {
    const ChildOutcome outcome =
        RunChild(CONFIGURATOR_PROGRAM, GetParam().arguments, std::chrono::seconds(3));
    ASSERT_TRUE(outcome.started);
    EXPECT_TRUE(outcome.still_running)
        << "exit code " << outcome.exit_code << ", signal " << outcome.signal << "\n"
        << outcome.errors;
    for (const char* option_value : {"nosuchplatform", "nosuchstyle", "no-such-sheet"}) {
        EXPECT_EQ(outcome.errors.find(option_value), std::string::npos) << outcome.errors;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Options, CommandLineTest,
    ::testing::Values(
        CommandLineCase{"None", {}},
        CommandLineCase{"APlatformOptionLosesToTheEnvironment", {"-platform", "nosuchplatform"}},
        CommandLineCase{"AStyleOptionIsNotTaken", {"-style", "nosuchstyle"}},
        CommandLineCase{"EveryToolkitOptionAtOnce",
                        {"-style", "nosuchstyle", "-stylesheet", "/no-such-sheet.qss",
                         "-qwindowgeometry", "10x10+5+5", "-platform", "nosuchplatform"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
