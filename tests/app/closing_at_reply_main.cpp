// The configurator as its entry runs it, on a simulated transmitter, closed by the simulated
// user at the moment the transmitter answers "Читать": the window goes while the reply is still
// on its way, and the process ends while the reader stores it. The first argument is how long
// the transmitter takes to answer after it got the command, in milliseconds.

#include <QApplication>
#include <QMetaObject>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "app/qt/configurator_shell.h"
#include "app/qt/main_window.h"
#include "device/protocol.h"
#include "resources/control_ids.h"
#include "serial/response_reader.h"
#include "sim/simulated_transmitter.h"

namespace {
// Process-wide like the transmitter that uses it, which outlives main.
std::atomic<MainWindow*> window_to_close{nullptr};
}  // namespace

int main(int argc, char* argv[]) {
    sim::Options options;
    options.processing_delay = std::chrono::milliseconds(argc > 1 ? std::atoi(argv[1]) : 0);
    options.on_message = [](const sim::TraceEntry& entry) {
        if (entry.received.empty() || entry.received.front() != kCommandReadConfiguration) return;
        if (MainWindow* target = window_to_close.exchange(nullptr)) {
            QMetaObject::invokeMethod(
                target, [target] { target->close(); }, Qt::QueuedConnection);
        }
    };
    // The transmitter outlives the process's end, as a real one would: its reply still arrives
    // while the process ends.
    static sim::SimulatedTransmitter* const device = new sim::SimulatedTransmitter(options);
    if (!device->IsRunning()) return 2;

    // Texts too long for the string's inline room live on the heap, so that a write into a
    // destroyed one is a write into freed memory, which AddressSanitizer reports.
    UpperLimitText = std::u16string(40, u'#');
    LowerLimitText = std::u16string(40, u'#');

    int toolkit_argc = 1;
    QApplication application(toolkit_argc, argv);
    const std::string path = device->PortPath();
    return RunConfigurator(
        [path] { return std::optional(std::vector{std::u16string(path.begin(), path.end())}); },
        [](MainWindow& shown) {
            window_to_close = &shown;
            QTimer::singleShot(0, &shown, [&shown] {
                qobject_cast<QPushButton*>(shown.Control(kIdReadConfiguration))->click();
            });
        });
}
