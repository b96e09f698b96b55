// The Windows listing of serial ports: the values of the registry key the serial drivers fill.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <iterator>

#include "serial/port_discovery.h"

namespace {

class RegistryKey {
  public:
    explicit RegistryKey(HKEY key) : key_(key) {}
    ~RegistryKey() { ::RegCloseKey(key_); }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    HKEY Get() const { return key_; }

  private:
    HKEY key_;
};

constexpr DWORD kValueNameCapacityChars = 255;
constexpr DWORD kValueDataCapacityBytes = 255;

}  // namespace

std::optional<std::vector<std::u16string>> ListPlatformSerialPorts() {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Hardware\\DeviceMap\\SerialComm", 0, KEY_READ,
                        &key) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    const RegistryKey open_key(key);

    // Every value's data lands in one buffer that starts as a copy of PortName, as if written
    // into PortName itself: a value the call could not deliver (its data too long for the
    // capacity) lists whatever the buffer then holds, and still counts as a port.
    wchar_t value_name[512] = {};
    char16_t data[kPortNameCapacity] = {};
    std::copy(std::begin(PortName), std::end(PortName), data);
    std::vector<std::u16string> ports;
    for (DWORD index = 0;; ++index) {
        DWORD name_capacity = kValueNameCapacityChars;
        DWORD data_capacity = kValueDataCapacityBytes;
        const LSTATUS status =
            ::RegEnumValueW(open_key.Get(), index, value_name, &name_capacity, nullptr, nullptr,
                            reinterpret_cast<BYTE*>(data), &data_capacity);
        if (status == ERROR_NO_MORE_ITEMS) break;
        // 255 bytes never reach the last unit, so the name always ends inside the buffer.
        data[kPortNameCapacity - 1] = u'\0';
        ports.emplace_back(data);
    }
    return ports;
}
