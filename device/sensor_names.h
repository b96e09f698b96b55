#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "device/protocol.h"

// The command line's English sensor names, by SensorTypeCode: WRe5-26, PT100, S, K, N, PT1000,
// T, Cu50, J.

// None for a code outside the table.
std::optional<std::string_view> SensorNameForCode(std::uint8_t code);
// The code of a name in any case ("k", "pt100", "CU50"); none for an unknown name.
std::optional<std::uint8_t> SensorCodeForName(std::string_view name);
// Every name in code order, separated by ", ", for messages and help.
std::string SensorNameList();
