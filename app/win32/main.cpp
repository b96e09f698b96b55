#include <windows.h>
// Needs the types of windows.h declared before it.
#include <commctrl.h>

#include "app/command_dispatcher.h"
#include "app/win32/main_window.h"

// The command line carries nothing for the program.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    InstallCommandHandlers();
    RunMainWindow(instance);
}
