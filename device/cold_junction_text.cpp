// The reading of a typed cold-junction temperature, apart from the adjustment's handler, so that
// the command line reads its argument by the same rule without the window's operations.
#include "device/cold_junction_adjustment.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "device/text_conversion.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsWhiteSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

std::optional<std::int16_t> WantedColdJunctionTenths(std::u16string_view box_text) {
    // Narrowing ends the text at the first character outside ASCII, which would make "25°C"
    // or "25в" read as a clean 25; such a text is not one number.
    const std::u16string_view counted = box_text.substr(0, NarrowedText{}.size());
    if (std::any_of(counted.begin(), counted.end(), [](char16_t c) { return c >= 0x80; })) {
        return std::nullopt;
    }
    const NarrowedText narrowed = TextToByteNarrowing(box_text);
    if (!ParseWholeDecimal(narrowed)) return std::nullopt;

    // The tenths come from the digits themselves: the box takes 20 characters, more than a
    // double carries, and 0.99999999999999999 must stay 9 tenths rather than become a degree.
    std::size_t i = 0;
    const std::size_t end = narrowed.size();
    while (i < end && IsWhiteSpace(narrowed[i])) ++i;
    bool negative = false;
    if (i < end && (narrowed[i] == '-' || narrowed[i] == '+')) negative = narrowed[i++] == '-';

    // Twenty characters cannot overflow this before it is clamped; anything past the 16-bit
    // range is refused below anyway.
    constexpr std::int64_t kClamp = 1'000'000;
    std::int64_t magnitude = 0;  // in tenths
    bool any_digit = false;
    for (; i < end && IsDigit(narrowed[i]); ++i) {
        magnitude = std::min(magnitude * 10 + (narrowed[i] - '0'), kClamp);
        any_digit = true;
    }
    magnitude *= 10;
    bool beyond_tenths = false;  // a nonzero digit after the tenths digit
    if (i < end && narrowed[i] == '.') {
        ++i;
        if (i < end && IsDigit(narrowed[i])) {
            magnitude += narrowed[i++] - '0';
            any_digit = true;
        }
        for (; i < end && IsDigit(narrowed[i]); ++i) beyond_tenths |= narrowed[i] != '0';
    }
    for (; i < end && narrowed[i] != '\0'; ++i) {
        // A form the strict conversion takes but this reading does not know (an exponent):
        // better refused than sent with a wrong value.
        if (!IsWhiteSpace(narrowed[i])) return std::nullopt;
    }
    if (!any_digit) return std::nullopt;

    const std::int64_t limit = negative ? -static_cast<std::int64_t>(
                                              std::numeric_limits<std::int16_t>::min())
                                        : std::numeric_limits<std::int16_t>::max();
    if (magnitude > limit || (magnitude == limit && beyond_tenths)) return std::nullopt;
    return static_cast<std::int16_t>(negative ? -magnitude : magnitude);
}
