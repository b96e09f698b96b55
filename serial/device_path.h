#pragma once

#include <string>
#include <string_view>

// Port names are UTF-16 throughout the program; POSIX device paths are bytes, taken as UTF-8.
// A unit or byte sequence that is not valid in its encoding becomes U+FFFD.

std::string DevicePathFromPortName(std::u16string_view name);
std::u16string PortNameFromDevicePath(std::string_view path);
