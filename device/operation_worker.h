#pragma once

#include <cstdint>

class Window;
struct HandleSlot;

// Clears ReadyFlag and starts the worker for the operation named in LinkState on a thread of its
// own, not waited for. If the thread cannot be started, ReadyFlag goes back to 1.
void StartWorkerThread(Window& window);
// The start of a reading operation: LinkState = code, a monitored opening on the command's
// slot, the unlock preamble, then the worker.
void StartOperation(Window& window, HandleSlot& slot, std::uint16_t code);
// Thread body: one operation, ending with ReadyFlag 1.
void OperationWorker(Window* window);

// Handlers of the buttons that start a reading operation.
void ConnectHandler(Window& window, HandleSlot& slot);             // 1011
void ReadConfigurationHandler(Window& window, HandleSlot& slot);   // 1021
void ReadVersionHandler(Window& window, HandleSlot& slot);         // 1030
void ReadColdJunctionHandler(Window& window, HandleSlot& slot);    // 1037
