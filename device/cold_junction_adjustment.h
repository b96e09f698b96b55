#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

class Window;
struct HandleSlot;

// Identity 1040, "юстировать": behind the access code, sends box 1047 as the true cold-junction
// temperature and starts the verification.
void AdjustHandler(Window& window, HandleSlot& slot);

// The temperature typed into box 1047 in tenths of a degree, truncated toward zero, taken from
// the text's own decimal digits. None when the text (its first 20 characters) is not one
// decimal number, or when the tenfold of the value does not fit 16 bits.
std::optional<std::int16_t> WantedColdJunctionTenths(std::u16string_view box_text);
