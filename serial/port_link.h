#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <thread>

#include "serial/serial_port.h"

class Window;

// One opening of the port: the handle, and the reader that a monitored opening started on it.
// Whoever opens the port closes it; closing waits for the reader first, so that a reader never
// reads from a handle that is closed (or worse, from a reused descriptor number).
struct HandleSlot {
    HandleSlot() = default;
    ~HandleSlot();
    HandleSlot(const HandleSlot&) = delete;
    HandleSlot& operator=(const HandleSlot&) = delete;

    SerialPort port;
    std::thread reader;
};

// Opens `name` with the monitored profile and starts a ResponseReader handed the current
// LinkState. Failures are shown in message boxes; the result tells whether the reader started.
bool OpenPortMonitored(HandleSlot& slot, Window& window, std::u16string_view name);
// Opens PortName with the quick profile; starts no reader.
bool OpenPortQuick(HandleSlot& slot, Window& window);
// Sends the low byte of each of the first `count` slots of `frame`.
bool SendFrame(std::size_t count, const std::uint16_t* frame, HandleSlot& slot, Window& window);
// Waits until the slot's reader (if any) has finished; its results are then visible.
void WaitForReader(HandleSlot& slot);
// Waits for the reader, then closes the handle, if the slot holds one.
void ClosePort(HandleSlot& slot);

// Identity 2, "Разблокировать UART": sends the unlock preamble on an opening of its own.
void UnlockHandler(Window& window, HandleSlot& slot);
