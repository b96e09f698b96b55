#include "app/qt/configurator_shell.h"

#include <QGuiApplication>
#include <QScreen>

#include "app/command_dispatcher.h"
#include "app/qt/main_window.h"

int RunConfigurator(PortListSource ports, const std::function<void(MainWindow&)>& prepare) {
    InstallCommandHandlers();
    // Before the window exists: creating it runs port discovery.
    SetPortListSource(std::move(ports));
    MainWindow window;
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        window.move(screen->availableGeometry().center() - window.rect().center());
    }
    if (prepare) prepare(window);
    window.exec();
    return 0;
}
