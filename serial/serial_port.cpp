#include "serial/serial_port.h"

#include <utility>

// What every platform shares; opening, closing and the transfers live in the platform files.

SerialPort::~SerialPort() {
    Close();
}

SerialPort::SerialPort(SerialPort&& other) noexcept
    : native(other.native),
      timeouts(other.timeouts),
      lock_file(std::move(other.lock_file)),
      exclusive_set(other.exclusive_set) {
    other.native = kInvalid;
    other.lock_file.clear();
    other.exclusive_set = false;
}

SerialPort& SerialPort::operator=(SerialPort&& other) noexcept {
    if (this != &other) {
        Close();
        native = other.native;
        timeouts = other.timeouts;
        lock_file = std::move(other.lock_file);
        exclusive_set = other.exclusive_set;
        other.native = kInvalid;
        other.lock_file.clear();
        other.exclusive_set = false;
    }
    return *this;
}

bool SerialPort::IsOpen() const {
    return native != kInvalid;
}
