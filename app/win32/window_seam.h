#pragma once

#include <windows.h>

class Window;

// The Window that command handlers and operation threads are given. Every call is sent to the
// main window as kCarriedCallMessage and runs on the interface thread inside its window
// procedure, so calls from one thread keep their order and a message box or the access-code
// dialog holds its caller until the user is done. Once the window is gone every call returns
// at once: writes do nothing, reads give an empty text and -1.
Window& MainWindowSeam();

inline constexpr UINT kCarriedCallMessage = WM_APP + 1;

// Interface thread: the window the seam carries calls to, from its creation to its end.
void AttachMainWindow(HWND dialog);
void DetachMainWindow();

// Interface thread, from the window procedure: runs the call that kCarriedCallMessage carries.
void RunCarriedCall(HWND dialog, LPARAM call);
