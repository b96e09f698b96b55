#include "device/operation_worker.h"

#include <chrono>
#include <string>
#include <thread>

#include "app/operation_state.h"
#include "app/window.h"
#include "device/protocol.h"
#include "device/text_conversion.h"
#include "resources/control_ids.h"
#include "resources/texts.h"
#include "serial/port_discovery.h"
#include "serial/port_link.h"
#include "serial/response_reader.h"

namespace {

using std::chrono::milliseconds;

// The box that shows the cold-junction temperature is read with this capacity.
constexpr std::size_t kBoxCapacity = 255;

void Wait(milliseconds duration) { std::this_thread::sleep_for(duration); }

void ShowStatus(Window& window, std::u16string_view text) { window.SetItemText(StatusLine, text); }

bool SendCommand(std::uint16_t command, HandleSlot& slot, Window& window) {
    const std::uint16_t frame[1] = {command};
    return SendFrame(1, frame, slot, window);
}

bool SendUnlockPreamble(HandleSlot& slot, Window& window) {
    return SendFrame(UnlockPreamble.size(), UnlockPreamble.data(), slot, window);
}

// The reader may still be inside its read when the fixed waits are over (the cold-junction
// reply is allowed 540 ms against a 500 ms wait); its verdict only counts once it has finished.
bool ReplyArrived(HandleSlot& slot) {
    WaitForReader(slot);
    return ReplyOk.load() == 1;
}

void ReadConfiguration(Window& window, HandleSlot& slot) {
    LinkState = kExpectSensorReply;
    Wait(milliseconds(1000));
    OpenPortMonitored(slot, window, PortNameView());
    SendCommand(kCommandReadConfiguration, slot, window);
    Wait(milliseconds(1000));
    ShowStatus(window, texts::kDots2);
    Wait(milliseconds(500));

    if (!ReplyArrived(slot)) {
        ShowStatus(window, texts::kSensorReadError);
        return;
    }
    if (auto readback = ReadbackTextForCode(SensorReplyBuffer[kFrameSensorType])) {
        window.SetItemText(kIdSensorTypeReadback, *readback);
    }
    window.SetItemText(kIdUpperSignReadback, texts::kSignPlus);
    window.SetItemText(kIdUpperLimitReadback, UpperLimitText);
    window.SetItemText(kIdLowerLimitReadback, LowerLimitText);
    window.SetItemText(kIdLowerSignReadback,
                       LowerLimitNegative ? texts::kSignMinus : texts::kSignPlus);

    // Firmware that answers with 11 bytes sends neither the output type nor the fault level;
    // bytes 11 and 12 of the buffer would only be the terminator and an older reply's leftover.
    if (SensorReplyLength(VersionBuffer[2]) == 11) {
        ShowStatus(window, texts::kSensorReadNoOutputType);
        return;
    }
    switch (SensorReplyBuffer[kFrameFaultLevel]) {
        case 1: window.SetItemText(DetailLine, texts::kFaultHigh); break;
        case 0: window.SetItemText(DetailLine, texts::kFaultLow); break;
        default: break;
    }
    switch (SensorReplyBuffer[kFrameOutputType]) {
        case 0: ShowStatus(window, texts::kSensorRead420); break;
        case 1: ShowStatus(window, texts::kSensorRead020); break;
        default: break;
    }
}

void WriteConfiguration(Window& window, HandleSlot& slot) {
    LinkState = kOpReadConfiguration;  // nothing to read while the frame goes out
    Wait(milliseconds(500));
    const bool opened = OpenPortMonitored(slot, window, PortNameView());
    const bool sent = SendFrame(ConfigFrame.size(), ConfigFrame.data(), slot, window);
    ShowStatus(window, texts::kDots2);
    Wait(milliseconds(500));
    ShowStatus(window, texts::kDots4);
    Wait(milliseconds(500));
    // The device does not answer a configuration, so the opening and the send are all there is
    // to go by.
    ShowStatus(window, opened && sent ? texts::kWriteDone : texts::kWriteFailed);
}

void VerifyAdjustment(Window& window, HandleSlot& slot) {
    LinkState = kExpectColdJunctionReply;
    Wait(milliseconds(500));
    // The device needs this long to settle on the temperature it was just given.
    for (std::u16string_view dots :
         {texts::kDots2, texts::kDots3, texts::kDots4, texts::kDots5, texts::kDots8}) {
        ShowStatus(window, dots);
        Wait(milliseconds(1000));
    }
    OpenPortMonitored(slot, window, PortNameView());
    SendCommand(kCommandReadColdJunction, slot, window);
    ShowStatus(window, texts::kDots2);
    Wait(milliseconds(1000));
    ShowStatus(window, texts::kDots4);
    Wait(milliseconds(1000));

    // Without a fresh read-back the buffer holds an older reading, which says nothing about
    // whether this adjustment took.
    if (!ReplyArrived(slot)) {
        ShowStatus(window, texts::kColdJunctionReadError);
        return;
    }
    const double device = DecodeColdJunctionTenths(ColdJunctionBuffer) / 10.0;
    const double wanted = ParseLeadingDecimal(
        TextToByteNarrowing(window.GetItemText(kIdColdJunctionTemperature, kBoxCapacity)));
    if (wanted >= device) {
        ShowStatus(window, wanted - device < 1.0 ? texts::kAdjustSucceeded
                                                 : texts::kAdjustFailedAbove);
    } else {
        ShowStatus(window, device - wanted < 1.0 ? texts::kAdjustSucceeded
                                                 : texts::kAdjustFailedBelow);
    }
}

void ReadColdJunction(Window& window, HandleSlot& slot) {
    LinkState = kExpectColdJunctionReply;
    Wait(milliseconds(500));
    OpenPortMonitored(slot, window, PortNameView());
    SendCommand(kCommandReadColdJunction, slot, window);
    ShowStatus(window, texts::kDots2);
    Wait(milliseconds(500));

    if (!ReplyArrived(slot)) {
        ShowStatus(window, texts::kColdJunctionReadError);
        return;
    }
    window.SetItemText(kIdColdJunctionTemperature,
                       FormatColdJunction(DecodeColdJunctionTenths(ColdJunctionBuffer) / 10.0));
    ShowStatus(window, texts::kColdJunctionRead);
}

void ReadVersion(Window& window, HandleSlot& slot) {
    LinkState = kExpectVersionReply;
    Wait(milliseconds(500));
    OpenPortMonitored(slot, window, PortNameView());
    SendCommand(kCommandReadVersion, slot, window);
    ShowStatus(window, texts::kDots2);
    Wait(milliseconds(500));
    Wait(milliseconds(100));

    const bool arrived = ReplyArrived(slot);
    // Shown even after a failed read: the boxes then show what the buffer held before.
    window.SetItemText(kIdVersionByte0, RenderInteger(VersionBuffer[0]));
    window.SetItemText(kIdVersionByte1, RenderInteger(VersionBuffer[1]));
    window.SetItemText(kIdVersionByte2, RenderInteger(VersionBuffer[2]));
    ShowStatus(window, arrived ? texts::kVersionRead : texts::kVersionReadError);
}

void RunOperation(Window& window, std::uint16_t code) {
    HandleSlot slot;
    switch (code) {
        case kOpReadConfiguration: ReadConfiguration(window, slot); break;
        case kOpWriteConfiguration: WriteConfiguration(window, slot); break;
        case kOpVerifyAdjustment: VerifyAdjustment(window, slot); break;
        case kOpReadColdJunction: ReadColdJunction(window, slot); break;
        case kOpReadVersion: ReadVersion(window, slot); break;
        default: break;
    }
    ClosePort(slot);
}

}  // namespace

void OperationWorker(Window* window) {
    const std::uint16_t code = LinkState.load();
    // The slot is gone before ReadyFlag opens the window to the next command, so nothing of
    // this operation outlives it.
    RunOperation(*window, code);
    LinkState = kLinkIdle;
    ReplyOk = 0;
    ReadyFlag = 1;
}

void StartWorkerThread(Window& window) {
    ReadyFlag = 0;
    try {
        std::thread(OperationWorker, &window).detach();
    } catch (...) {
        // Nothing is reported: the window simply takes commands again.
        ReadyFlag = 1;
    }
}

void StartOperation(Window& window, HandleSlot& slot, std::uint16_t code) {
    LinkState = code;
    OpenPortMonitored(slot, window, PortNameView());
    SendUnlockPreamble(slot, window);
    StartWorkerThread(window);
}

void ReadConfigurationHandler(Window& window, HandleSlot& slot) {
    StartOperation(window, slot, kOpReadConfiguration);
}

void ReadVersionHandler(Window& window, HandleSlot& slot) {
    StartOperation(window, slot, kOpReadVersion);
}

void ReadColdJunctionHandler(Window& window, HandleSlot& slot) {
    StartOperation(window, slot, kOpReadColdJunction);
}

void ConnectHandler(Window& window, HandleSlot& slot) {
    PortDiscovery();
    window.SetItemText(kIdPortNameBox, PortNameView());
    OpenPortMonitored(slot, window, PortNameView());
    Wait(milliseconds(200));
    SendUnlockPreamble(slot, window);
    LinkState = kOpReadVersion;
    StartWorkerThread(window);
}
