#include "device/access_code.h"

#include "device/text_conversion.h"

std::atomic<std::uint16_t> AccessGranted{0};

std::uint16_t EnterAccessCode(std::u16string_view typed) {
    const std::uint16_t granted = ParseLeadingInteger(typed) == kAccessCode ? 1 : 0;
    AccessGranted = granted;
    return granted;
}
