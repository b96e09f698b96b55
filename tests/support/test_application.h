#pragma once

#include <QApplication>

// The one QApplication of a widget test process (the tests run on the offscreen platform). It
// is never destroyed: operation threads may still be finishing when the process ends.
inline QApplication& TestApplication() {
    static int argc = 1;
    static char name[] = "configurator_test";
    static char* argv[] = {name, nullptr};
    static QApplication* const application = new QApplication(argc, argv);
    return *application;
}
