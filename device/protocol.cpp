#include "device/protocol.h"

#include "resources/texts.h"

ConfigFrameSlots ConfigFrame = kConfigFrameStart;

void ResetConfigFrame() {
    ConfigFrame = kConfigFrameStart;
}

namespace {

std::uint16_t HighSlot(std::int32_t value) {
    return static_cast<std::uint16_t>(value >> 8);
}
std::uint16_t LowSlot(std::int32_t value) {
    return static_cast<std::uint16_t>(value & 0xFF);
}

}  // namespace

AdjustFrameSlots BuildAdjustFrame(std::int32_t tenths) {
    return {kCommandAdjustColdJunction, static_cast<std::uint16_t>(HighSlot(tenths) & 0xFF),
            LowSlot(tenths), 0};
}

void EncodeRange(ConfigFrameSlots& frame, std::int32_t upper, std::int32_t lower_magnitude,
                 bool lower_negative) {
    frame[kFrameUpperHigh] = HighSlot(upper);
    frame[kFrameUpperLow] = LowSlot(upper);
    frame[kFrameLowerHigh] = HighSlot(lower_magnitude);
    frame[kFrameLowerLow] = LowSlot(lower_magnitude);
    if (!lower_negative) return;
    // The device wants the span for a negative lower limit. It is summed from the bytes that
    // would go on the wire, so a slot's bits above the low byte never reach the sum.
    const std::int32_t span =
        ((frame[kFrameUpperHigh] & 0xFF) + (frame[kFrameLowerHigh] & 0xFF)) * 256 +
        (frame[kFrameUpperLow] & 0xFF) + (frame[kFrameLowerLow] & 0xFF);
    frame[kFrameUpperHigh] = HighSlot(span);
    frame[kFrameUpperLow] = LowSlot(span);
    frame[kFrameLowerHigh] |= 0x80;
}

DecodedRange DecodeRange(const std::uint8_t* reply) {
    DecodedRange range;
    range.lower_negative = (reply[kFrameLowerHigh] & 0x80) != 0;
    range.lower = (reply[kFrameLowerHigh] & 0x0F) * 256 + reply[kFrameLowerLow];
    range.upper = (reply[kFrameUpperHigh] & 0x0F) * 256 + reply[kFrameUpperLow];
    if (range.lower_negative) range.upper -= range.lower;
    return range;
}

// The PT1000 (code 5) has a blank list entry and read-back text; only its confirmation names it.
const std::array<SensorType, kSensorTypeCount> SensorTypes{{
    {u"Wre5-26 ТП ", 0, u"Датчик:wre5-26\r\n", 2320, 0, texts::kLowerLimitRefused,
     u"Ты выбрала. wre3-25"},
    {u"pt100 ТС", 1, u"Датчик:PT100 ТС\r\n", 850, 200, texts::kLowerLimitRefusedPt100,
     u"Ты выбрала. PT100 ТС"},
    {u"S ТП ", 2, u"Датчик:S Тип ТП \r\n", 1765, 50, texts::kLowerLimitRefused,
     u"Ты выбрала. S ТП "},
    {u"K ТП ", 3, u"Датчик:K Тип ТП \r\n", 1370, 270, texts::kLowerLimitRefused,
     u"Ты выбрала. K ТП "},
    {u"T ТП ", 6, u"Датчик:T Тип ТП \r\n", 400, 270, texts::kLowerLimitRefused,
     u"Ты выбрала. T ТП "},
    {u"      ", 5, u"Датчик:         \r\n", 300, 50, texts::kLowerLimitRefused,
     u"Ты выбрала. PT1000 ТС"},
    {u"Cu50 ТС", 7, u"Датчик:Cu50 ТС\r\n", 150, 50, texts::kLowerLimitRefused,
     u"Ты выбрала. Cu50 ТС"},
    {u"N ТП ", 4, u"Датчик:N Тип ТП \r\n", 1330, 270, texts::kLowerLimitRefused,
     u"Ты выбрала. N ТП "},
    {u"J ТП ", 8, u"Датчик:J Тип ТП \r\n", 1200, 210, texts::kLowerLimitRefused,
     u"Ты выбрала. J ТП "},
}};

const SensorType* SensorTypeForCode(std::uint8_t code) {
    // The list order differs from the code order, so the code is looked up, not indexed.
    for (const SensorType& type : SensorTypes) {
        if (type.code == code) return &type;
    }
    return nullptr;
}

std::optional<std::u16string_view> ReadbackTextForCode(std::uint8_t code) {
    if (const SensorType* type = SensorTypeForCode(code)) return type->readback_text;
    return std::nullopt;
}

std::size_t SensorReplyLength(std::uint8_t version_byte2) {
    switch (version_byte2) {
        case 0:
            return 11;
        case 1:
        case 2:
            return 13;
        case 3:
            return 14;
        default:
            return 0;
    }
}

std::int16_t DecodeColdJunctionTenths(const std::uint8_t* reply) {
    return static_cast<std::int16_t>(static_cast<std::int8_t>(reply[0]) * 256 + reply[1]);
}
