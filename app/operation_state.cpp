#include "app/operation_state.h"

std::atomic<std::uint8_t> ReadyFlag{1};
std::atomic<std::uint16_t> LinkState{kLinkIdle};
std::atomic<std::int32_t> ReplyOk{0};

void ResetOperationState() {
    LinkState = kLinkIdle;
    ReplyOk = 0;
    ReadyFlag = 1;
}
