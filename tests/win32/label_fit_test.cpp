#include "app/win32/label_fit.h"

#include <gtest/gtest.h>

namespace {

struct GrowCase {
    const char* what;
    int needed;
    unsigned flags;
    RECT grown;
};

void PrintTo(const GrowCase& c, std::ostream* out) {
    *out << c.what;
}

class GrownLabel : public ::testing::TestWithParam<GrowCase> {};

TEST_P(GrownLabel, TakesTheRoomItsTextNeeds) {
    const RECT placed{100, 20, 160, 36};
    const RECT grown = GrownLabelRect(placed, GetParam().needed, GetParam().flags);
    EXPECT_EQ(grown.left, GetParam().grown.left);
    EXPECT_EQ(grown.top, GetParam().grown.top);
    EXPECT_EQ(grown.right, GetParam().grown.right);
    EXPECT_EQ(grown.bottom, GetParam().grown.bottom);
}

INSTANTIATE_TEST_SUITE_P(
    Labels, GrownLabel,
    ::testing::Values(
        GrowCase{"a text that fits leaves the label as placed", 40, kNoFlags, {100, 20, 160, 36}},
        GrowCase{"a text exactly as wide leaves it too", 60, kLeftAligned, {100, 20, 160, 36}},
        GrowCase{
            "a left-aligned label grows to the right only", 75, kLeftAligned, {100, 20, 175, 36}},
        GrowCase{"a centred label grows to both sides, the odd pixel to the right",
                 75,
                 kNoFlags,
                 {93, 20, 168, 36}}));

}  // namespace
