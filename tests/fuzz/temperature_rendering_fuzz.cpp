// The cold-junction temperature as box 1047 shows it after a reading: what is shown reads back
// as the value read, to the tenth below 1000 degrees and to the whole degree from 1000 on, both
// for the adjustment check and for an adjustment sent straight from the box.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "device/cold_junction_adjustment.h"
#include "device/protocol.h"
#include "device/text_conversion.h"
#include "sim/trace_format.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

double ReadBack(std::u16string_view text) {
    return ParseLeadingDecimal(TextToByteNarrowing(text));
}

std::size_t DigitCount(std::u16string_view text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; }));
}

void CheckReply(std::uint8_t high, std::uint8_t low) {
    const std::uint8_t reply[] = {high, low};
    const int tenths = DecodeColdJunctionTenths(reply);
    FUZZ_CHECK(tenths == static_cast<std::int16_t>(static_cast<std::uint16_t>(high << 8 | low)));
    const double celsius = tenths / 10.0;
    const std::u16string shown = FormatColdJunction(celsius);
    FUZZ_CHECK(DigitCount(shown) <= 4);

    // The simulated transmitter's own rendering of the value it sent names the same number.
    const std::string device_text = sim::DegreesFromTenths(tenths);
    const std::optional<double> device_value = ParseWholeDecimal(
        TextToByteNarrowing(std::u16string(device_text.begin(), device_text.end())));
    FUZZ_CHECK(device_value && *device_value == celsius);

    const std::optional<std::int16_t> resent = WantedColdJunctionTenths(shown);
    if (std::abs(tenths) < 10000) {
        FUZZ_CHECK(shown.find(u'.') != std::u16string::npos);
        FUZZ_CHECK(ReadBack(shown) == celsius);
        FUZZ_CHECK(resent && *resent == tenths);
        return;
    }
    FUZZ_CHECK(shown.find(u'.') == std::u16string::npos);
    const double whole = ReadBack(shown);
    FUZZ_CHECK(whole == std::trunc(whole));
    const double off = std::fabs(whole - celsius);
    FUZZ_CHECK(off < 0.5 + 1e-9);
    // Half a degree goes away from zero.
    if (off > 0.5 - 1e-9) FUZZ_CHECK(std::fabs(whole) > std::fabs(celsius));
    // A whole number beyond the frame's 16 bits of tenths cannot be sent back.
    const double whole_tenths = whole * 10.0;
    if (whole_tenths >= -32768.0 && whole_tenths <= 32767.0) {
        FUZZ_CHECK(resent && *resent == static_cast<std::int16_t>(whole_tenths));
    } else {
        FUZZ_CHECK(!resent);
    }
}

// Any value in the reply's range, not only whole tenths: shown to the nearest tenth.
void CheckValue(double celsius) {
    if (!std::isfinite(celsius) || std::fabs(celsius) > 3276.8) return;
    const std::u16string shown = FormatColdJunction(celsius);
    FUZZ_CHECK(DigitCount(shown) <= 4);
    const double off = std::fabs(ReadBack(shown) - celsius);
    const bool with_tenths = shown.find(u'.') != std::u16string::npos;
    FUZZ_CHECK(off <= (with_tenths ? 0.05 : 0.55) + 1e-9);
    FUZZ_CHECK(with_tenths == (std::fabs(celsius) < 999.95 + 1e-9) ||
               std::fabs(std::fabs(celsius) - 999.95) < 1e-6);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    CheckReply(data[0], data[1]);
    if (size >= 2 + sizeof(double)) {
        double celsius = 0;
        std::memcpy(&celsius, data + 2, sizeof celsius);
        CheckValue(celsius);
    }
    return 0;
}
