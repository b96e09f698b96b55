#pragma once

class Window;
struct HandleSlot;

// Identity 1040, "юстировать": behind the access code, sends box 1047 as the true cold-junction
// temperature and starts the verification.
void AdjustHandler(Window& window, HandleSlot& slot);
