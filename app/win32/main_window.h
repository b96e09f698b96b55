#pragma once

#include <windows.h>

// Shows the main window (template 103) modally, centred, without an owner, until it is closed,
// then ends the program with exit code 0. The command handlers must be installed first.
[[noreturn]] void RunMainWindow(HINSTANCE instance);

// Ends the program with exit code 0 at once, whatever operation still runs.
[[noreturn]] void EndProgram();
