#include "serial/serial_port.h"

// What every platform shares; opening, closing and the transfers live in the platform files.

SerialPort::~SerialPort() {
    Close();
}

SerialPort::SerialPort(SerialPort&& other) noexcept
    : native(other.native), timeouts(other.timeouts) {
    other.native = kInvalid;
}

SerialPort& SerialPort::operator=(SerialPort&& other) noexcept {
    if (this != &other) {
        Close();
        native = other.native;
        timeouts = other.timeouts;
        other.native = kInvalid;
    }
    return *this;
}

bool SerialPort::IsOpen() const {
    return native != kInvalid;
}
