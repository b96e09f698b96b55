#include "serial/port_link.h"

#include <algorithm>
#include <array>
#include <string>
#include <system_error>

#include "app/operation_state.h"
#include "app/window.h"
#include "device/protocol.h"
#include "resources/control_ids.h"
#include "resources/texts.h"
#include "serial/port_discovery.h"
#include "serial/response_reader.h"

namespace {

constexpr std::size_t kSendBufferSize = 255;

std::u16string OpenFailedText(std::u16string_view name) {
    std::u16string text(texts::kOpenFailed);
    const std::size_t at = text.find(u"%s");
    if (at != std::u16string::npos) text.replace(at, 2, name);
    return text;
}

enum class Profile { kMonitored, kQuick };

// The steps both profiles share, up to the applied time-outs. The handle stays in the slot
// after a settings or time-out failure, so that the caller's next send still writes.
bool OpenAndConfigure(HandleSlot& slot, Window& window, std::u16string_view name, Profile profile) {
    // A slot holds one opening; a previous one (and its reader) is finished first.
    ClosePort(slot);
    slot.port = OpenSerialDevice(name);
    if (!slot.port.IsOpen()) {
        window.ShowMessage(OpenFailedText(name));
        return false;
    }
    window.SetItemText(StatusLine, texts::kPortOpened);
    if (profile == Profile::kMonitored) window.SetItemText(DetailLine, texts::kPortOpened);
    if (!ReadLineSettings(slot.port)) window.ShowMessage(texts::kCannotReadSettings);
    if (!ApplyLineSettings(slot.port)) {
        window.ShowMessage(texts::kCannotApplySettings);
        return false;
    }
    SetEventMaskAndQueues(slot.port);
    const PortTimeouts& timeouts =
        profile == Profile::kMonitored ? kMonitoredTimeouts : kQuickTimeouts;
    if (!ApplyTimeouts(slot.port, timeouts)) {
        window.ShowMessage(texts::kCannotApplyTimeouts);
        return false;
    }
    return true;
}

}  // namespace

HandleSlot::~HandleSlot() {
    ClosePort(*this);
}

bool OpenPortMonitored(HandleSlot& slot, Window& window, std::u16string_view name) {
    if (!OpenAndConfigure(slot, window, name, Profile::kMonitored)) return false;
    // Discarded here, before the reader exists, so that it can never fall after the caller's
    // first send.
    DiscardBuffers(slot.port);
    // The reader counts as waiting from its start: a send's discard must not take a reply it is
    // owed merely because its thread has not reached the read yet.
    ++slot.port.pending_reads;
    SerialPort* port = &slot.port;
    const std::uint16_t expected = LinkState.load();
    try {
        slot.reader = std::thread([port, expected] {
            ResponseReader(port, expected);
            --port->pending_reads;
        });
    } catch (const std::system_error&) {
        --slot.port.pending_reads;
        return false;
    }
    return true;
}

bool OpenPortQuick(HandleSlot& slot, Window& window) {
    const std::u16string name(PortNameView());
    return OpenAndConfigure(slot, window, name, Profile::kQuick);
}

bool SendFrame(std::size_t count, const std::uint16_t* frame, HandleSlot& slot, Window& window) {
    if (!slot.port.IsOpen()) {
        window.ShowMessage(texts::kPortNotOpen);
        return false;
    }
    DiscardBuffers(slot.port);
    std::array<std::uint8_t, kSendBufferSize> buffer{};
    count = std::min(count, buffer.size());
    for (std::size_t i = 0; i < count; ++i) buffer[i] = static_cast<std::uint8_t>(frame[i] & 0xFF);
    const long written = WriteSerial(slot.port, buffer.data(), count);
    DiscardBuffers(slot.port);
    // A frame cut short by the write time-out reaches the device as a different command.
    if (written < 0 || static_cast<std::size_t>(written) < count) {
        window.ShowMessage(texts::kSendFailed);
        return false;
    }
    return true;
}

void WaitForReader(HandleSlot& slot) {
    if (slot.reader.joinable()) slot.reader.join();
}

void ClosePort(HandleSlot& slot) {
    WaitForReader(slot);
    slot.port.Close();
}

void UnlockHandler(Window& window, HandleSlot& slot) {
    const std::u16string name(PortNameView());
    OpenPortMonitored(slot, window, name);
    SendFrame(UnlockPreamble.size(), UnlockPreamble.data(), slot, window);
}
