#pragma once

#include <windows.h>

// Shows the main window (template 103) modally, centred, without an owner, and returns once
// the modal loop has ended. The command handlers must be installed first.
void RunMainWindow(HINSTANCE instance);
