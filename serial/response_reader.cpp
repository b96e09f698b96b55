#include "serial/response_reader.h"

#include <algorithm>
#include <iterator>

#include "app/operation_state.h"
#include "device/protocol.h"
#include "device/text_conversion.h"

std::uint8_t SensorReplyBuffer[15] = {};
std::uint8_t ColdJunctionBuffer[3] = {};
std::uint8_t VersionBuffer[4] = {};

// The program ends by returning from its entry once the window is closed, while an operation
// may still run: its threads are not waited for, and the static destructors run under them.
// Made on the heap and never freed, the texts have no destructor to run, so a reply stored
// while the process ends lands in live memory, on every platform and whatever the entry does
// last.
std::u16string& UpperLimitText = *new std::u16string;
std::u16string& LowerLimitText = *new std::u16string;
bool LowerLimitNegative = false;

// The buffers and texts are plain: the opener reads them only after it has waited for this
// thread to finish.
void ResponseReader(SerialPort* port, std::uint16_t expected) {
    if (port == nullptr || !port->IsOpen()) return;

    std::uint8_t* buffer = nullptr;
    std::size_t length = 0;
    switch (expected) {
        case kExpectSensorReply:
            // Firmware too new for this program: its reply length is unknown, so nothing is read.
            length = SensorReplyLength(VersionBuffer[2]);
            if (length == 0) return;
            buffer = SensorReplyBuffer;
            break;
        case kExpectColdJunctionReply:
            length = kColdJunctionReplyLength;
            buffer = ColdJunctionBuffer;
            break;
        case kExpectVersionReply:
            length = kVersionReplyLength;
            buffer = VersionBuffer;
            break;
        default:
            return;
    }

    const long received = ReadSerial(*port, buffer, length);
    if (received != static_cast<long>(length)) {
        ReplyOk = 0;
        LinkState = kLinkIdle;
        return;
    }
    buffer[length] = 0;
    if (expected == kExpectSensorReply) {
        const DecodedRange range = DecodeRange(SensorReplyBuffer);
        UpperLimitText = RenderInteger(range.upper);
        LowerLimitText = RenderInteger(range.lower);
        LowerLimitNegative = range.lower_negative;
    }
    ReplyOk = 1;
    LinkState = kLinkIdle;
}

void ResetReceiveBuffers() {
    std::fill(std::begin(SensorReplyBuffer), std::end(SensorReplyBuffer), 0);
    std::fill(std::begin(ColdJunctionBuffer), std::end(ColdJunctionBuffer), 0);
    std::fill(std::begin(VersionBuffer), std::end(VersionBuffer), 0);
    UpperLimitText.clear();
    LowerLimitText.clear();
    LowerLimitNegative = false;
}
