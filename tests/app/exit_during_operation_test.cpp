// Closing the window while an operation runs ends the process cleanly, however the moment of
// the close falls against the transmitter's reply. Meant for the AddressSanitizer build, where
// a write into state already destroyed by the process's end is reported.

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "tests/app/child_process.h"

namespace {

struct ReplyTiming {
    const char* name;
    int first_delay_ms;  // the transmitter's answer time of the first run
    int runs;            // each run answers 4 ms later than the one before
    friend void PrintTo(const ReplyTiming& row, std::ostream* os) { *os << row.name; }
};

class ExitDuringOperationTest : public ::testing::TestWithParam<ReplyTiming> {};

TEST_P(ExitDuringOperationTest, EndsWithZeroAndNoSanitizerReport) {
    for (int run = 0; run < GetParam().runs; ++run) {
        const int delay = GetParam().first_delay_ms + 4 * run;
        SCOPED_TRACE("reply after " + std::to_string(delay) + " ms");
        const ChildOutcome outcome =
            RunChild(CLOSING_AT_REPLY_PROGRAM, {std::to_string(delay)}, std::chrono::seconds(60));
        ASSERT_TRUE(outcome.started);
        EXPECT_TRUE(outcome.exited) << "signal " << outcome.signal << "\n" << outcome.errors;
        EXPECT_EQ(outcome.exit_code, 0) << outcome.errors;
        EXPECT_FALSE(HasSanitizerReport(outcome.errors)) << outcome.errors;
    }
}

INSTANTIATE_TEST_SUITE_P(Moments, ExitDuringOperationTest,
                         ::testing::Values(ReplyTiming{"ReplyWhileTheWindowIsTornDown", 0, 6},
                                           ReplyTiming{"ReplyWhileStaticStateIsDestroyed", 24, 6},
                                           ReplyTiming{"ReplyWhileTheProcessEnds", 48, 6}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
