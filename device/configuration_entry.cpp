#include "device/configuration_entry.h"

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/operation_state.h"
#include "app/window.h"
#include "device/operation_worker.h"
#include "device/protocol.h"
#include "device/text_conversion.h"
#include "resources/control_ids.h"
#include "resources/texts.h"
#include "serial/port_discovery.h"
#include "serial/port_link.h"

namespace {

constexpr std::size_t kBoxCapacity = 255;

constexpr int kSignMinus = 1;

std::u16string BoxText(Window& window, int identity) {
    return window.GetItemText(identity, kBoxCapacity);
}

// A limit is taken only when its box holds exactly the number's own rendering: no blanks,
// no plus sign, no leading zeros, nothing after the digits, nothing beyond 32 bits.
bool IsOwnRendering(std::u16string_view text, std::int32_t value) {
    return text == RenderInteger(value);
}

std::uint16_t HighSlot(std::int32_t value) { return static_cast<std::uint16_t>(value >> 8); }
std::uint16_t LowSlot(std::int32_t value) { return static_cast<std::uint16_t>(value & 0xFF); }

// Bytes 11 to 13 follow the three setting lists; a list left without a selection keeps the
// byte of the previous configuration.
void TakeListSettings(Window& window) {
    const int compensation = window.GetListSelection(kIdColdJunctionCompensationList);
    if (compensation == 0 || compensation == 1) {
        ConfigFrame[kFrameColdJunctionCompensation] = static_cast<std::uint16_t>(compensation);
    }
    const int output_type = window.GetListSelection(kIdOutputTypeList);
    if (output_type == 0 || output_type == 1) {
        ConfigFrame[kFrameOutputType] = static_cast<std::uint16_t>(output_type);
    }
    // The list shows "Высокий" first, but the device counts 1 as high.
    const int fault_level = window.GetListSelection(kIdFaultLevelList);
    if (fault_level == 0) ConfigFrame[kFrameFaultLevel] = 1;
    if (fault_level == 1) ConfigFrame[kFrameFaultLevel] = 0;
}

}  // namespace

void UpperLimitTrackingHandler(Window& window, HandleSlot&) {
    const std::int32_t value = ParseLeadingInteger(BoxText(window, kIdUpperLimitEntry));
    ConfigFrame[kFrameUpperHigh] = HighSlot(value);
    ConfigFrame[kFrameUpperLow] = LowSlot(value);
}

void LowerLimitTrackingHandler(Window& window, HandleSlot&) {
    const std::int32_t value = ParseLeadingInteger(BoxText(window, kIdLowerLimitEntry));
    // The negative bit belongs to the sign list, never to the typed magnitude.
    ConfigFrame[kFrameLowerHigh] = static_cast<std::uint16_t>(HighSlot(value) & 0x7F);
    ConfigFrame[kFrameLowerLow] = LowSlot(value);
}

void ConfigureHandler(Window& window, HandleSlot& slot) {
    const std::u16string upper_text = BoxText(window, kIdUpperLimitEntry);
    const std::int32_t upper = ParseLeadingInteger(upper_text);
    if (!IsOwnRendering(upper_text, upper) || upper < 0) {
        window.ShowMessage(texts::kUpperLimitRefused);
        return;
    }

    const std::u16string lower_text = BoxText(window, kIdLowerLimitEntry);
    const std::int32_t lower = ParseLeadingInteger(lower_text);
    const int sign = window.GetListSelection(kIdLowerSignList);
    if (lower < 0 || !IsOwnRendering(lower_text, lower)) {
        window.ShowMessage(texts::kLowerLimitRefused);
        return;
    }
    // Without a sign the lower limit goes out as +L, so it is ordered as +L too.
    if (sign != kSignMinus && upper < lower) {
        window.ShowMessage(texts::kLowerLimitRefused);
        return;
    }

    TakeListSettings(window);

    const int type_index = window.GetListSelection(kIdSensorTypeList);
    // Without a type there is no range to check the limits against: nothing is written.
    if (type_index < 0 || type_index >= static_cast<int>(kSensorTypeCount)) {
        window.ShowMessage(texts::kNoSensorTypeSelected);
        return;
    }

    // The preamble goes out before the range check, so a refusal below leaves the device
    // unlocked but unchanged.
    OpenPortMonitored(slot, window, PortNameView());
    SendFrame(UnlockPreamble.size(), UnlockPreamble.data(), slot, window);

    const SensorType& type = SensorTypes[static_cast<std::size_t>(type_index)];
    if (upper > type.upper_max) {
        window.ShowMessage(texts::kUpperLimitRefused);
        return;
    }
    if (sign == kSignMinus && lower > type.negative_lower_max) {
        window.ShowMessage(type.lower_refusal);
        return;
    }

    window.SetItemText(DetailLine, type.confirmation);
    ConfigFrame[kFrameSensorType] = type.code;
    EncodeRange(ConfigFrame, ParseLeadingInteger(BoxText(window, kIdUpperLimitEntry)),
                ParseLeadingInteger(BoxText(window, kIdLowerLimitEntry)),
                window.GetListSelection(kIdLowerSignList) == kSignMinus);

    LinkState = kOpWriteConfiguration;
    StartWorkerThread(window);
}
