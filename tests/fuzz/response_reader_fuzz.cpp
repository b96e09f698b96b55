// The reply reader on any bytes the line may carry, for any reply it may be owed and any
// firmware version: it takes exactly the reply's length, reports it, and decodes the sensor
// reply's range as the wire format says; a short reply is reported bad and decodes nothing.
// The line is a pipe holding the bytes, so a read finds them at once and then times out.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "app/operation_state.h"
#include "device/protocol.h"
#include "device/text_conversion.h"
#include "serial/response_reader.h"
#include "serial/serial_port.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Longer than any reply, short enough for the pipe never to block.
constexpr std::size_t kMaxLine = 40;

struct Line {
    SerialPort port;  // the read end, with no time-outs: only bytes already there are read
    int device = -1;  // the write end
};

Line& TheLine() {
    static Line* line = [] {
        auto* made = new Line;
        int ends[2] = {-1, -1};
        if (::pipe2(ends, O_CLOEXEC) != 0) std::abort();
        made->port.native = ends[0];
        made->device = ends[1];
        return made;
    }();
    return *line;
}

// What is left on the line after the reader, emptied for the next input.
std::size_t DrainLine(Line& line) {
    ::fcntl(line.port.native, F_SETFL, O_NONBLOCK);
    std::size_t left = 0;
    std::uint8_t scratch[64];
    for (ssize_t n; (n = ::read(line.port.native, scratch, sizeof scratch)) > 0;) {
        left += static_cast<std::size_t>(n);
    }
    ::fcntl(line.port.native, F_SETFL, 0);
    return left;
}

std::uint16_t Expected(std::uint8_t selector) {
    switch (selector % 4) {
        case 0:
            return kExpectSensorReply;
        case 1:
            return kExpectColdJunctionReply;
        case 2:
            return kExpectVersionReply;
        default:
            return selector;  // anything else a LinkState may hold
    }
}

// The reply length by the wire format: the sensor reply's by the version's last number.
std::size_t OwedLength(std::uint16_t expected, std::uint8_t version_last) {
    if (expected == 4) return 2;
    if (expected == 11) return 3;
    if (expected != 12) return 0;
    if (version_last == 0) return 11;
    if (version_last <= 2) return 13;
    if (version_last == 3) return 14;
    return 0;
}

struct Snapshot {
    Bytes sensor, cold_junction, version;
    std::u16string upper, lower;
    bool negative;
};

Snapshot Take() {
    return {Bytes(std::begin(SensorReplyBuffer), std::end(SensorReplyBuffer)),
            Bytes(std::begin(ColdJunctionBuffer), std::end(ColdJunctionBuffer)),
            Bytes(std::begin(VersionBuffer), std::end(VersionBuffer)),
            UpperLimitText,
            LowerLimitText,
            LowerLimitNegative};
}

Bytes Snapshot::*BufferOf(std::uint16_t expected) {
    if (expected == 12) return &Snapshot::sensor;
    if (expected == 4) return &Snapshot::cold_junction;
    return &Snapshot::version;
}

void CheckSensorDecoding(const Bytes& reply) {
    const bool negative = (reply[4] & 0x80) != 0;
    const int lower = (reply[4] & 0x0F) << 8 | reply[5];
    const int upper = ((reply[2] & 0x0F) << 8 | reply[3]) - (negative ? lower : 0);
    FUZZ_CHECK(AsciiForReference(UpperLimitText) == std::to_string(upper));
    FUZZ_CHECK(AsciiForReference(LowerLimitText) == std::to_string(lower));
    FUZZ_CHECK(LowerLimitNegative == negative);
    // Box 1017 names every known sensor code and nothing else.
    const auto readback = ReadbackTextForCode(reply[1]);
    FUZZ_CHECK(readback.has_value() == (reply[1] <= 8));
    if (readback) {
        FUZZ_CHECK(readback->starts_with(u"Датчик:") && readback->ends_with(u"\r\n"));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3 || size > 3 + kMaxLine) return 0;
    const std::uint16_t expected = Expected(data[0]);
    const std::uint8_t version_last = data[1];
    const std::uint8_t fill = data[2];
    const Bytes line_bytes(data + 3, data + size);

    std::fill(std::begin(SensorReplyBuffer), std::end(SensorReplyBuffer), fill);
    std::fill(std::begin(ColdJunctionBuffer), std::end(ColdJunctionBuffer), fill);
    std::fill(std::begin(VersionBuffer), std::end(VersionBuffer), fill);
    VersionBuffer[2] = version_last;
    UpperLimitText = u"earlier upper";
    LowerLimitText = u"earlier lower";
    LowerLimitNegative = (fill & 1) != 0;
    LinkState = expected;
    ReplyOk = 7;  // neither verdict
    const Snapshot before = Take();

    Line& line = TheLine();
    if (!line_bytes.empty() && ::write(line.device, line_bytes.data(), line_bytes.size()) !=
                                   static_cast<ssize_t>(line_bytes.size())) {
        std::abort();
    }
    ResponseReader(&line.port, expected);
    const std::size_t left = DrainLine(line);
    Snapshot after = Take();

    const std::size_t owed = OwedLength(expected, version_last);
    if (owed == 0) {
        FUZZ_CHECK(ReplyOk.load() == 7 && LinkState.load() == expected);
        FUZZ_CHECK(left == line_bytes.size());
        FUZZ_CHECK(after.sensor == before.sensor && after.cold_junction == before.cold_junction &&
                   after.version == before.version && after.upper == before.upper &&
                   after.lower == before.lower && after.negative == before.negative);
        return 0;
    }

    FUZZ_CHECK(LinkState.load() == kLinkIdle);
    Bytes Snapshot::*owner = BufferOf(expected);
    Bytes wanted = before.*owner;
    const bool good = line_bytes.size() >= owed;
    const std::size_t taken = std::min(owed, line_bytes.size());
    std::copy(line_bytes.begin(), line_bytes.begin() + static_cast<long>(taken), wanted.begin());
    if (good) wanted[owed] = 0;  // the stored terminator
    FUZZ_CHECK(after.*owner == wanted);
    FUZZ_CHECK(left == line_bytes.size() - taken);
    // The other buffers are not this reply's.
    after.*owner = before.*owner;
    FUZZ_CHECK(after.sensor == before.sensor && after.cold_junction == before.cold_junction &&
               after.version == before.version);

    FUZZ_CHECK(ReplyOk.load() == (good ? 1 : 0));
    if (good && expected == kExpectSensorReply) {
        CheckSensorDecoding(line_bytes);
    } else {
        FUZZ_CHECK(after.upper == before.upper && after.lower == before.lower &&
                   after.negative == before.negative);
    }
    if (good && expected == kExpectVersionReply) {
        for (int i = 0; i < 3; ++i) {
            FUZZ_CHECK(AsciiForReference(RenderInteger(VersionBuffer[i])) ==
                       std::to_string(line_bytes[static_cast<std::size_t>(i)]));
        }
    }
    return 0;
}
