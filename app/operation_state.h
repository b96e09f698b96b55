#pragma once

#include <atomic>
#include <cstdint>

// The state that the interface thread, the operation worker and the response reader share.

// 1 while no operation runs; commands are taken only then.
extern std::atomic<std::uint8_t> ReadyFlag;
// Names the operation the worker is to run, or the reply the reader is to read.
extern std::atomic<std::uint16_t> LinkState;
// 1 when the reply the reader was asked for arrived complete.
extern std::atomic<std::int32_t> ReplyOk;

// Values of LinkState.
enum LinkStateValue : std::uint16_t {
    kLinkIdle = 10,
    kOpReadConfiguration = 0,  // also "nothing expected" while a configuration is written
    kOpWriteConfiguration = 20,
    kOpVerifyAdjustment = 30,
    kOpReadColdJunction = 40,
    kOpReadVersion = 50,
    kExpectSensorReply = 12,
    kExpectColdJunctionReply = 4,
    kExpectVersionReply = 11,
};

// Puts the three values back to their start values (ReadyFlag 1, LinkState 10, ReplyOk 0).
void ResetOperationState();
