// The temperature typed into box 1047 for an adjustment: either refused, or sent as the tenths
// the text says, in an adjustment frame that the simulated transmitter reads back the same.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "device/cold_junction_adjustment.h"
#include "device/protocol.h"
#include "device/text_conversion.h"
#include "sim/device_messages.h"
#include "tests/fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::u16string text = FuzzText(data, size);
    const std::optional<std::int16_t> tenths = WantedColdJunctionTenths(text);

    const std::u16string_view counted = std::u16string_view(text).substr(0, NarrowedText{}.size());
    const bool ascii =
        std::all_of(counted.begin(), counted.end(), [](char16_t c) { return c < 0x80; });
    const std::optional<double> number = ParseWholeDecimal(TextToByteNarrowing(text));
    const double tenfold = number ? std::fabs(*number) * 10.0 : 0.0;

    if (!tenths) {
        // Refused: not one plain number, or one whose tenths do not fit the frame's 16 bits.
        FUZZ_CHECK(!ascii || !number || tenfold > 32766.0);
        return 0;
    }
    FUZZ_CHECK(ascii && number);
    FUZZ_CHECK(tenfold < 32770.0);
    // Truncated toward zero: the tenths lie within one tenth below the typed value's magnitude.
    const double magnitude = std::abs(static_cast<int>(*tenths));
    const double slack = 1e-9 * std::max(1.0, tenfold);
    FUZZ_CHECK(tenfold - magnitude >= -slack && tenfold - magnitude < 1.0 + slack);
    if (*tenths != 0) FUZZ_CHECK((*tenths < 0) == std::signbit(*number));

    const AdjustFrameSlots frame = BuildAdjustFrame(*tenths);
    FUZZ_CHECK(frame[0] == 0x46 && frame[3] == 0);
    FUZZ_CHECK(frame[1] <= 0xFF && frame[2] <= 0xFF);
    FUZZ_CHECK(static_cast<std::int16_t>(frame[1] << 8 | frame[2]) == *tenths);

    // The simulated transmitter takes the frame and reports the temperature back.
    sim::DeviceState device{{1, 0, 3}, {}, 0, 0};
    const std::array<std::uint8_t, 4> wire{
        static_cast<std::uint8_t>(frame[0]), static_cast<std::uint8_t>(frame[1]),
        static_cast<std::uint8_t>(frame[2]), static_cast<std::uint8_t>(frame[3])};
    sim::Obey(device, wire);
    FUZZ_CHECK(device.cold_junction_tenths == *tenths);
    const std::uint8_t read_command[] = {sim::kReadColdJunction};
    const sim::Answered answer = sim::Obey(device, read_command);
    FUZZ_CHECK(answer.reply.size() == kColdJunctionReplyLength);
    FUZZ_CHECK(DecodeColdJunctionTenths(answer.reply.data()) == *tenths);
    return 0;
}
