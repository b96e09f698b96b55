#include <QApplication>

#include "app/qt/configurator_shell.h"

// The program takes no options. The toolkit is shown the program's name only, so that its own
// options (-style, -stylesheet, -platform, -qwindowgeometry ...) on the command line change
// nothing; the environment (QT_QPA_PLATFORM) still chooses the platform.
int main(int, char* argv[]) {
    int toolkit_argc = 1;
    QApplication application(toolkit_argc, argv);
    return RunConfigurator();
}
