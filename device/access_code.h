#pragma once

#include <atomic>
#include <cstdint>
#include <string_view>

// 1 once the right access code was entered; stays so until a wrong one is entered.
extern std::atomic<std::uint16_t> AccessGranted;
inline constexpr std::int32_t kAccessCode = 8163;

// The access dialog's "Enter": sets AccessGranted by the code typed and returns it.
std::uint16_t EnterAccessCode(std::u16string_view typed);
