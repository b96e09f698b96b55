#pragma once

#include <string>
#include <string_view>

// A port's name is what the window shows and what the program keeps in PortName: on Windows
// the registry's "COM3", on POSIX the device's name under /dev ("ttyUSB0"), which fits the port
// box whole where "/dev/ttyUSB10" would not. A device outside /dev keeps its whole path.
// Names are UTF-16 throughout the program; POSIX device paths are bytes, taken as UTF-8.

// "ttyUSB0" gives "/dev/ttyUSB0"; a name that is already a path ("/dev/pts/3") stays as it is.
std::string DevicePathFromPortName(std::u16string_view name);
// "/dev/ttyUSB0" gives "ttyUSB0", "/dev/pts/3" gives "pts/3"; other paths stay whole.
std::u16string PortNameFromDevicePath(std::string_view path);

// The device a port name opens on Windows, as one text for every way of writing it: "\\.\COM3",
// "\\?\COM3", "//./COM3", "COM3." and "com3" all give "COM3" (the device namespace's prefix
// dropped, trailing dots and blanks dropped as Windows drops them, upper case).
std::string WindowsDeviceName(std::u16string_view name);

// The plain conversions. A unit or byte sequence that is not valid in its encoding becomes
// U+FFFD.
std::string Utf8FromUtf16(std::u16string_view text);
std::u16string Utf16FromUtf8(std::string_view text);
