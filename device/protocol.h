#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// Every byte between the program and the transmitter. Frames are held as 16-bit slots, of which
// only the low byte goes on the wire.

inline constexpr std::array<std::uint16_t, 2> UnlockPreamble{0xAA, 0xAA};

inline constexpr std::uint16_t kCommandReadConfiguration = 0x42;  // 'B'
inline constexpr std::uint16_t kCommandReadVersion = 0x43;        // 'C'
inline constexpr std::uint16_t kCommandWriteConfiguration = 0x44;  // 'D'
inline constexpr std::uint16_t kCommandReadColdJunction = 0x45;    // 'E'
inline constexpr std::uint16_t kCommandAdjustColdJunction = 0x46;  // 'F'

inline constexpr std::size_t kConfigFrameLength = 14;
inline constexpr std::size_t kAdjustFrameLength = 4;
using ConfigFrameSlots = std::array<std::uint16_t, kConfigFrameLength>;
using AdjustFrameSlots = std::array<std::uint16_t, kAdjustFrameLength>;

// The configuration frame; its slots keep their values from one write to the next.
extern ConfigFrameSlots ConfigFrame;
inline constexpr ConfigFrameSlots kConfigFrameStart{0x44, 0, 0, 0, 0, 0, 0x01, 0, 0, 0, 0, 0, 0, 0};
// Slot positions in the configuration frame (and the same bytes of the sensor reply).
enum ConfigFrameByte : std::size_t {
    kFrameSensorType = 1,
    kFrameUpperHigh = 2,
    kFrameUpperLow = 3,
    kFrameLowerHigh = 4,
    kFrameLowerLow = 5,
    kFrameOutputType = 11,
    kFrameFaultLevel = 12,
    kFrameColdJunctionCompensation = 13,
};
void ResetConfigFrame();

// 'F', the wanted cold-junction temperature in tenths (high byte, low byte), 0.
AdjustFrameSlots BuildAdjustFrame(std::int32_t tenths);

// Writes the two limits into the frame's range slots: upper U >= 0, lower +L or -L (L >= 0).
// For -L the upper field carries the span U + L and the lower field has bit 15 set.
void EncodeRange(ConfigFrameSlots& frame, std::int32_t upper, std::int32_t lower_magnitude,
                 bool lower_negative);

struct DecodedRange {
    std::int32_t upper = 0;
    std::int32_t lower = 0;  // magnitude
    bool lower_negative = false;
};
// Reads the range from bytes 2 to 5 of a sensor configuration reply.
DecodedRange DecodeRange(const std::uint8_t* reply);

// The sensor types, by their index in list 1000, with what the configuration entry checks.
struct SensorType {
    std::u16string_view list_text;
    std::uint8_t code;             // SensorTypeCode, the number on the wire
    std::u16string_view readback_text;
    std::int32_t upper_max;        // whole degrees
    std::int32_t negative_lower_max;
    std::u16string_view lower_refusal;
    std::u16string_view confirmation;
};
inline constexpr std::size_t kSensorTypeCount = 9;
extern const std::array<SensorType, kSensorTypeCount> SensorTypes;

// The text box 1017 shows for a reply's sensor code; none for a code outside 0 to 8.
std::optional<std::u16string_view> ReadbackTextForCode(std::uint8_t code);
// The sensor table's entry for a code; none for a code outside 0 to 8.
const SensorType* SensorTypeForCode(std::uint8_t code);

// Length of the sensor configuration reply by version byte 2: 11, 13, 14, or 0 for "not read".
std::size_t SensorReplyLength(std::uint8_t version_byte2);
inline constexpr std::size_t kMaxSensorReplyLength = 14;
inline constexpr std::size_t kColdJunctionReplyLength = 2;
inline constexpr std::size_t kVersionReplyLength = 3;

// A cold-junction reply: tenths of a degree, high byte first, two's complement.
std::int16_t DecodeColdJunctionTenths(const std::uint8_t* reply);
