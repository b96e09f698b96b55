#include "serial/serial_port.h"

#include <mutex>
#include <set>
#include <utility>

// What every platform shares; opening, closing and the transfers live in the platform files.

SerialPort::~SerialPort() {
    Close();
}

SerialPort::SerialPort(SerialPort&& other) noexcept
    : native(other.native),
      timeouts(other.timeouts),
      lock_file(std::move(other.lock_file)),
      mutex(other.mutex),
      exclusive_set(other.exclusive_set) {
    other.native = kInvalid;
    other.mutex = nullptr;
    other.lock_file.clear();
    other.exclusive_set = false;
}

SerialPort& SerialPort::operator=(SerialPort&& other) noexcept {
    if (this != &other) {
        Close();
        native = other.native;
        timeouts = other.timeouts;
        lock_file = std::move(other.lock_file);
        mutex = other.mutex;
        exclusive_set = other.exclusive_set;
        other.native = kInvalid;
        other.mutex = nullptr;
        other.lock_file.clear();
        other.exclusive_set = false;
    }
    return *this;
}

bool SerialPort::IsOpen() const {
    return native != kInvalid;
}

namespace {

std::mutex claims_mutex;
std::set<std::string>& Claims() {
    static std::set<std::string> claims;
    return claims;
}

}  // namespace

bool ClaimedHere(const std::string& key) {
    const std::lock_guard lock(claims_mutex);
    return Claims().contains(key);
}

void NoteClaim(const std::string& key, bool held) {
    const std::lock_guard lock(claims_mutex);
    if (held) {
        Claims().insert(key);
    } else {
        Claims().erase(key);
    }
}
