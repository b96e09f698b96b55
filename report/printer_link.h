#pragma once

#include <chrono>
#include <string>

namespace report {

// A label printer's raw port, as the operator names it: HOST, HOST:PORT or [IPv6]:PORT, port
// 9100 by default. False, with the reason, for anything else.
bool PrinterAddressOf(const std::string& text, std::string& host, std::string& port,
                      std::string& error);

// Sends `bytes` whole to the printer at `address` over raw TCP, within `timeout` for reaching
// it and again for sending; false with the reason (the address, and what the system said).
bool SendToPrinter(const std::string& address, const std::string& bytes,
                   std::chrono::milliseconds timeout, std::string& error);

}  // namespace report
