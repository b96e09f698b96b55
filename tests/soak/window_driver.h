#pragma once

#include <QApplication>
#include <QTimer>
#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "app/qt/main_window.h"
#include "sim/simulated_transmitter.h"

// The real main window, on a simulated transmitter inside the process, clicked as a technician
// would: what the soak and the window benchmark both drive.

struct Operation {
    const char* name;
    int identity;
    void (*start)(MainWindow&);  // null: a plain click on `identity`
    std::u16string_view success;
};

extern const Operation kConnect;
extern const Operation kRead;
extern const Operation kConfigure;
extern const Operation kColdJunction;
extern const Operation kAdjust;
extern const Operation kVersion;
extern const Operation kUnlock;

class WindowDriver {
  public:
    // The process's QApplication too, so there must be only one. `program` starts every line
    // the driver prints; it says so when there is no simulated transmitter to drive against.
    WindowDriver(const char* program, char** argv);
    WindowDriver(const WindowDriver&) = delete;
    WindowDriver& operator=(const WindowDriver&) = delete;

    bool IsRunning() const { return device_.IsRunning(); }
    const std::string& PortPath() const { return port_path_; }
    sim::SimulatedTransmitter& Device() { return device_; }
    int MessageBoxes() const { return message_boxes_; }

    // Runs one operation: when it ended in its success text, the moment it gave the window
    // back; nothing (and a line saying why) otherwise.
    std::optional<std::chrono::steady_clock::time_point> Run(const Operation& operation);

  private:
    // The window looks for ports as it is built, so the list must name the device before.
    struct PortList {
        explicit PortList(const std::string& path);
        ~PortList();
    };

    static int PrepareApplication();
    void AnswerModal();

    const char* program_;
    int qt_argc_ = PrepareApplication();  // QApplication keeps a reference to it
    QApplication application_;
    sim::SimulatedTransmitter device_;
    const std::string port_path_;
    PortList port_list_;
    MainWindow window_;
    QTimer answering_;
    int message_boxes_ = 0;
};

// A program that drives the window, taking one count as its argument: `body` gets the driver
// and the count, and its result is the exit code; 2 for a bad argument, 1 without a simulated
// transmitter.
struct DriverProgram {
    const char* name;        // also starts every line the driver prints
    const char* count_name;  // for the usage
    int default_count;
    int (*body)(WindowDriver& driver, int count);
};
int RunDriverProgram(int argc, char** argv, const DriverProgram& program);
