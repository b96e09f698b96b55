#include "device/access_code.h"

#include <gtest/gtest.h>

namespace {

struct AccessCase {
    std::u16string_view typed;
    std::uint16_t granted;
};

TEST(AccessCode, TheCodeIsJudgedByItsLeadingNumberAndEveryEntrySetsTheFlag) {
    const AccessCase cases[] = {
        {u"8163", 1}, {u"  8163", 1}, {u"\t8163", 1}, {u"08163", 1}, {u"+8163", 1}, {u"8163abc", 1},
        {u"8164", 0}, {u"", 0},       {u"abc", 0},    {u"-8163", 0}, {u"81630", 0}, {u"816 3", 0},
    };
    for (const AccessCase& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(std::u16string(c.typed)));
        AccessGranted = c.granted ? 0 : 1;  // every entry must overwrite what came before
        EXPECT_EQ(EnterAccessCode(c.typed), c.granted);
        EXPECT_EQ(AccessGranted.load(), c.granted);
    }
}

}  // namespace
