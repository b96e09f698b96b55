#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The device name of the serial port every opening uses: the last port the platform lists.
// Empty until a port has been found; kept when a later discovery finds nothing.
inline constexpr std::size_t kPortNameCapacity = 256;
extern char16_t PortName[kPortNameCapacity];

// PortName up to its terminating zero.
std::u16string_view PortNameView();
// Stores `name` in PortName (cut to fit, always terminated).
void SetPortName(std::u16string_view name);

// Reads the platform's list of serial ports and keeps the last one in PortName.
void PortDiscovery();

// Where discovery takes its list from. Empty: the platform (the registry on Windows, sysfs
// elsewhere). Tests and the demo supply the list themselves. A source that returns
// std::nullopt stands for "no list at all" (the registry key missing).
using PortListSource = std::function<std::optional<std::vector<std::u16string>>()>;
void SetPortListSource(PortListSource source);
// The list discovery takes its last port from: the source's, else the platform's.
std::optional<std::vector<std::u16string>> ListSerialPorts();

// The platform's own list, in its order: the registry on Windows, sysfs on Linux, /dev/cu.* on
// macOS. std::nullopt when the platform has no list at all.
std::optional<std::vector<std::u16string>> ListPlatformSerialPorts();

// The Linux listing: serial devices under `sysfs_class_tty` (normally /sys/class/tty) backed
// by a real driver, the built-in UARTs first and then the others, each group in natural order,
// named as PortName holds them (the name under /dev when `dev_dir` is /dev).
std::vector<std::u16string> ListSysfsSerialPorts(const std::string& sysfs_class_tty,
                                                 const std::string& dev_dir = "/dev");
