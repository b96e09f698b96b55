// configurator-soak [N]: N operations (default 1000) clicked in the real main window, offscreen,
// against a simulated transmitter inside the process, then what the process gained meanwhile in
// resident memory, open descriptors and threads. Fails on any descriptor or thread more, on
// memory growth of 1 MB or more per 1,000 operations, and on any operation that does not end
// in its success text.

#include <QApplication>
#include <QEventLoop>
#include <chrono>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

#include "tests/soak/soak_figures.h"
#include "tests/soak/window_driver.h"
#include "tests/support/process_resources.h"

namespace {

using namespace std::chrono_literals;

// Every kind once at the start, then the one-second readings, so that a short run still meets
// every operation and a long one averages about 1.5 s an operation.
const Operation* const kCycle[] = {
    &kConnect,      &kRead,         &kConfigure,    &kColdJunction, &kAdjust,
    &kVersion,      &kColdJunction, &kVersion,      &kColdJunction, &kVersion,
    &kColdJunction, &kVersion,      &kColdJunction, &kVersion,      &kColdJunction,
    &kVersion,      &kColdJunction, &kVersion,      &kColdJunction, &kVersion,
};
constexpr int kCycleLength = static_cast<int>(std::size(kCycle));
// A whole cycle before the figures are taken: fonts, caches, the allocator's per-thread arenas
// and Qt's own threads settle.
constexpr int kWarmUp = kCycleLength;

int Soak(WindowDriver& driver, int operations) {
    int failed = 0;
    const auto run = [&](int i) {
        failed += driver.Run(*kCycle[i % kCycleLength]) ? 0 : 1;
        // The simulated transmitter records every byte and message for tests; kept, that record
        // would count as the configurator's growth.
        driver.Device().ClearRecords();
    };
    for (int i = 0; i < kWarmUp; ++i) run(i);
    // The last worker thread is still on its way out when the window takes commands again.
    const auto settle = std::chrono::steady_clock::now() + 500ms;
    while (std::chrono::steady_clock::now() < settle) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    const ProcessResources before = CurrentProcessResources();
    const std::vector<std::string> handles_before = ProcessHandles();
    std::printf("soak: warmed up; %d operations on %s\n", operations, driver.PortPath().c_str());

    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < operations; ++i) {
        run(i);
        if ((i + 1) % 100 == 0 && i + 1 < operations) {
            const ProcessResources now = CurrentProcessResources();
            std::printf("soak: %d of %d operations, resident memory %+.2f MB\n", i + 1, operations,
                        static_cast<double>(now.resident_kb - before.resident_kb) / 1024.0);
        }
    }
    const auto minutes =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started) / 60s;
    const ProcessResources after = SettledProcessResources(before, 2s);
    const std::string new_handles = NewHandles(handles_before, ProcessHandles());

    const SoakVerdict verdict = JudgeSoak(operations, before, after);
    std::printf("soak: %.1f minutes, %d operations failed, %d message boxes\n", minutes, failed,
                driver.MessageBoxes());
    for (const std::string& failure : verdict.failures) {
        std::printf("soak: FAILED: %s\n", failure.c_str());
    }
    if (!verdict.passed && !new_handles.empty()) {
        std::printf("soak: threads and descriptors that were not there before:\n%s",
                    new_handles.c_str());
    }
    if (failed > 0) std::printf("soak: FAILED: %d operations did not succeed\n", failed);
    std::printf("%s\n", verdict.figure.c_str());
    return verdict.passed && failed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    return RunDriverProgram(argc, argv, {"soak", "OPERATIONS", 1000, Soak});
}
