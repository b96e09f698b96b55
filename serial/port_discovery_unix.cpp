// The list of serial ports on Linux (sysfs) and macOS (/dev/cu.*).

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "serial/device_path.h"
#include "serial/port_discovery.h"

namespace fs = std::filesystem;

namespace {

bool IsDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// Digit runs compare by value, everything else by character, so that ttyS2 comes before
// ttyS10: the order the ports are numbered in, and so the last one is the highest number.
bool NaturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            std::size_t end_a = i;
            std::size_t end_b = j;
            while (end_a < a.size() && IsDigit(a[end_a])) ++end_a;
            while (end_b < b.size() && IsDigit(b[end_b])) ++end_b;
            std::size_t start_a = i;
            std::size_t start_b = j;
            while (start_a + 1 < end_a && a[start_a] == '0') ++start_a;
            while (start_b + 1 < end_b && b[start_b] == '0') ++start_b;
            const std::size_t digits_a = end_a - start_a;
            const std::size_t digits_b = end_b - start_b;
            if (digits_a != digits_b) return digits_a < digits_b;
            const int order = a.compare(start_a, digits_a, b, start_b, digits_b);
            if (order != 0) return order < 0;
            i = end_a;
            j = end_b;
        } else {
            if (a[i] != b[j]) return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    if ((a.size() - i) != (b.size() - j)) return (a.size() - i) < (b.size() - j);
    return a < b;
}

bool IsLegacySerialName(const std::string& name) {
    return name.size() > 4 && name.compare(0, 4, "ttyS") == 0 &&
           std::all_of(name.begin() + 4, name.end(), IsDigit);
}

// The built-in UARTs come first and every other driver-backed port (USB, ACM and the like)
// after them, each group in natural order: the last port is then the adapter a technician
// plugged in, even beside a built-in UART whose name sorts after the adapter's (ttyS0 after
// ttyACM0).
void SortBuiltInFirst(std::vector<std::string>& names) {
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        const bool a_built_in = IsLegacySerialName(a);
        const bool b_built_in = IsLegacySerialName(b);
        if (a_built_in != b_built_in) return a_built_in;
        return NaturalLess(a, b);
    });
}

// The 8250 driver registers every legacy port it might have, present or not; only those whose
// UART type it recognised (a non-zero type) are real.
bool HasKnownUartType(const fs::path& entry) {
    std::ifstream file(entry / "type");
    long type = 0;
    return static_cast<bool>(file >> type) && type != 0;
}

std::vector<std::u16string> PortNames(const std::vector<std::string>& names,
                                      const std::string& dev_dir) {
    std::vector<std::u16string> ports;
    ports.reserve(names.size());
    for (const std::string& name : names)
        ports.push_back(PortNameFromDevicePath(dev_dir + "/" + name));
    return ports;
}

#ifdef __APPLE__
// The call-out devices: opening them does not wait for carrier detect.
std::vector<std::u16string> ListCalloutDevices() {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it("/dev", error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.rfind("cu.", 0) == 0) names.push_back(name);
    }
    std::sort(names.begin(), names.end(), NaturalLess);
    return PortNames(names, "/dev");
}
#endif

}  // namespace

std::vector<std::u16string> ListSysfsSerialPorts(const std::string& sysfs_class_tty,
                                                 const std::string& dev_dir) {
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(sysfs_class_tty, error), end; !error && it != end;
         it.increment(error)) {
        const fs::path entry = it->path();
        const std::string name = entry.filename().string();
        // Virtual consoles and pseudo-terminals have no device behind them.
        std::error_code link_error;
        if (fs::symlink_status(entry / "device", link_error).type() == fs::file_type::not_found) {
            continue;
        }
        if (IsLegacySerialName(name) && !HasKnownUartType(entry)) continue;
        names.push_back(name);
    }
    SortBuiltInFirst(names);
    return PortNames(names, dev_dir);
}

std::optional<std::vector<std::u16string>> ListPlatformSerialPorts() {
#ifdef __APPLE__
    return ListCalloutDevices();
#else
    return ListSysfsSerialPorts("/sys/class/tty");
#endif
}
