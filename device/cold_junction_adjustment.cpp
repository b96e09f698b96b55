#include "device/cold_junction_adjustment.h"

#include <cstddef>
#include <cstdint>

#include "app/operation_state.h"
#include "app/window.h"
#include "device/access_code.h"
#include "device/operation_worker.h"
#include "device/protocol.h"
#include "device/text_conversion.h"
#include "resources/control_ids.h"
#include "resources/texts.h"
#include "serial/port_link.h"

namespace {

constexpr std::size_t kBoxCapacity = 255;

}  // namespace

void AdjustHandler(Window& window, HandleSlot& slot) {
    window.RunAccessCodeDialog();
    // The dialog's own result is not looked at: closing it keeps an earlier correct entry.
    if (AccessGranted.load() == 0) return;

    const std::optional<std::int16_t> tenths =
        WantedColdJunctionTenths(window.GetItemText(kIdColdJunctionTemperature, kBoxCapacity));
    if (!tenths) {
        window.ShowMessage(texts::kBadColdJunctionValue);
        return;
    }
    const AdjustFrameSlots frame = BuildAdjustFrame(*tenths);

    // No reply belongs to this opening, so it is the quick one, without a reader; preamble and
    // frame go out in it one after the other.
    OpenPortQuick(slot, window);
    SendFrame(UnlockPreamble.size(), UnlockPreamble.data(), slot, window);
    SendFrame(frame.size(), frame.data(), slot, window);

    LinkState = kOpVerifyAdjustment;
    StartWorkerThread(window);
}
