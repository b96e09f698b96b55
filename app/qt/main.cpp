#include <QApplication>

#include "app/qt/configurator_shell.h"

// The command line carries nothing for the program itself.
int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    RunConfigurator();
    return 0;
}
