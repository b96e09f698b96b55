#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "serial/serial_port.h"

// Receive buffers, each with room for its longest reply and a terminating zero. They keep the
// bytes of their last reply until the next reply of their kind overwrites them.
extern std::uint8_t SensorReplyBuffer[15];
extern std::uint8_t ColdJunctionBuffer[3];
extern std::uint8_t VersionBuffer[4];

// Decoded from the last good sensor reply. Never destroyed: a reader may still store a reply
// while the process ends after its window has closed.
extern std::u16string& UpperLimitText;
extern std::u16string& LowerLimitText;
extern bool LowerLimitNegative;

// Thread body: reads the one reply named by `expected` (a LinkState value) from `port`, stores
// it, and sets ReplyOk and LinkState. Any value other than 12, 4 or 11 ends it at once.
void ResponseReader(SerialPort* port, std::uint16_t expected);

// Zeroes the buffers and empties the texts (start values), for tests.
void ResetReceiveBuffers();
