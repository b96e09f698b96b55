#pragma once

#include <functional>

#include "serial/port_discovery.h"

class MainWindow;

// What the program and the demo share: installs the command handlers, takes the serial port
// list from `ports` (the platform's own when empty), creates the main window and runs it
// modally, centred on the screen. `prepare`, when given, gets the window just before it runs.
// Needs a QApplication. Returns 0, the program's exit code, once the window has been closed.
int RunConfigurator(PortListSource ports = {},
                    const std::function<void(MainWindow&)>& prepare = {});
