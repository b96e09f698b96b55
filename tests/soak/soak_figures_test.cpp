// How the soak judges what the process gained: the figure it prints last, and whether it fails.

#include "tests/soak/soak_figures.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct SoakCase {
    const char* name;
    int operations;
    ProcessResources after;  // compared with 40 descriptors, 9 threads and 50,000 kB before
    bool passes;
    std::string figure;
};

void PrintTo(const SoakCase& row, std::ostream* out) {
    *out << row.name;
}

const SoakCase kSoakCases[] = {
    {"nothing_gained_passes",
     1000,
     {40, 9, 50'000},
     true,
     "soak: 1000 operations, resident memory +0.00 MB (0.00 MB per 1000), descriptors +0, "
     "threads +0"},
    {"a_third_of_a_megabyte_per_thousand_passes",
     1000,
     {40, 9, 50'320},
     true,
     "soak: 1000 operations, resident memory +0.31 MB (0.31 MB per 1000), descriptors +0, "
     "threads +0"},
    {"just_under_a_megabyte_per_thousand_passes",
     2000,
     {40, 9, 52'030},
     true,
     "soak: 2000 operations, resident memory +1.98 MB (0.99 MB per 1000), descriptors +0, "
     "threads +0"},
    {"a_megabyte_per_thousand_fails",
     500,
     {40, 9, 50'512},
     false,
     "soak: 500 operations, resident memory +0.50 MB (1.00 MB per 1000), descriptors +0, "
     "threads +0"},
    {"one_descriptor_more_fails",
     20,
     {41, 9, 50'000},
     false,
     "soak: 20 operations, resident memory +0.00 MB (not judged under 500 operations), "
     "descriptors +1, threads +0"},
    {"one_thread_more_fails",
     20,
     {40, 10, 50'000},
     false,
     "soak: 20 operations, resident memory +0.00 MB (not judged under 500 operations), "
     "descriptors +0, threads +1"},
    {"a_short_run_is_not_failed_by_its_memory",
     20,
     {40, 9, 51'024},
     true,
     "soak: 20 operations, resident memory +1.00 MB (not judged under 500 operations), "
     "descriptors +0, threads +0"},
    {"shrinking_memory_and_fewer_descriptors_pass",
     1000,
     {39, 9, 49'488},
     true,
     "soak: 1000 operations, resident memory -0.50 MB (-0.50 MB per 1000), descriptors -1, "
     "threads +0"},
};

class SoakJudgement : public testing::TestWithParam<SoakCase> {};

TEST_P(SoakJudgement, PrintsTheFigureAndFailsOnGrowth) {
    const SoakCase& row = GetParam();
    const SoakVerdict verdict = JudgeSoak(row.operations, {40, 9, 50'000}, row.after);
    EXPECT_EQ(verdict.figure, row.figure);
    EXPECT_EQ(verdict.passed, row.passes);
    EXPECT_EQ(verdict.failures.empty(), row.passes);
}

INSTANTIATE_TEST_SUITE_P(Figures, SoakJudgement, testing::ValuesIn(kSoakCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
