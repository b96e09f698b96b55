// Integer conversion of box texts (the limit boxes, the access code) and the decimal rendering
// that the limit check compares them with.

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "device/text_conversion.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();

// The C library's reading of the same rule (white space, sign, digits), held to 32 bits.
std::int32_t ReferenceValue(std::u16string_view text) {
    const std::string ascii = AsciiForReference(text);
    errno = 0;
    const long long value = std::strtoll(ascii.c_str(), nullptr, 10);
    if (value < kMin) return static_cast<std::int32_t>(kMin);
    if (value > kMax) return static_cast<std::int32_t>(kMax);
    return static_cast<std::int32_t>(value);
}

// Whether the text is a number written the one way the program writes it: an optional minus,
// then 0 or digits without a leading zero ("-0" is not), within 32 bits.
bool IsCanonicalDecimal(std::u16string_view text) {
    std::size_t pos = 0;
    const bool negative = !text.empty() && text[0] == u'-';
    if (negative) pos = 1;
    const std::u16string_view digits = text.substr(pos);
    if (digits.empty() || digits.size() > 10) return false;
    for (char16_t c : digits) {
        if (c < u'0' || c > u'9') return false;
    }
    if (digits[0] == u'0') return digits.size() == 1 && !negative;
    std::int64_t magnitude = 0;
    for (char16_t c : digits) magnitude = magnitude * 10 + (c - u'0');
    return negative ? -magnitude >= kMin : magnitude <= kMax;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::u16string text = FuzzText(data, size);

    const std::int32_t value = ParseLeadingInteger(text);
    FUZZ_CHECK(value == ReferenceValue(text));

    const std::u16string rendered = RenderInteger(value);
    FUZZ_CHECK(ParseLeadingInteger(rendered) == value);
    FUZZ_CHECK(AsciiForReference(rendered) == std::to_string(value));
    FUZZ_CHECK((text == rendered) == IsCanonicalDecimal(text));

    // The rendering serves 64-bit values too (the version bytes, the cold-junction value).
    if (size >= sizeof(std::int64_t)) {
        std::int64_t wide = 0;
        std::memcpy(&wide, data, sizeof wide);
        FUZZ_CHECK(AsciiForReference(RenderInteger(wide)) == std::to_string(wide));
    }
    return 0;
}
