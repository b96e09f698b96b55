#pragma once

class Window;
struct HandleSlot;

// Boxes 1004 and 1007: every notification puts the box's value into the frame's range slots,
// so the frame follows the typing even before Configure is pressed.
void UpperLimitTrackingHandler(Window& window, HandleSlot& slot);
void LowerLimitTrackingHandler(Window& window, HandleSlot& slot);
// Identity 1, "Настройка": checks the entry and writes the configuration.
void ConfigureHandler(Window& window, HandleSlot& slot);
