#include "tests/support/process_resources.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <thread>

namespace {

int CountEntries(const char* folder) {
    std::error_code error;
    int count = 0;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        ++count;
    }
    return count;
}

long ResidentKilobytes() {
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kilobytes = 0;
            status >> kilobytes;
            return kilobytes;
        }
        status.ignore(4096, '\n');
    }
    return 0;
}

}  // namespace

ProcessResources CurrentProcessResources() {
    // The listing of /proc/self/fd holds a descriptor of its own while it runs; it is counted
    // in every reading alike, so differences stay exact.
    return {CountEntries("/proc/self/fd"), CountEntries("/proc/self/task"), ResidentKilobytes()};
}

ProcessResources SettledProcessResources(const ProcessResources& expected,
                                         std::chrono::milliseconds patience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    ProcessResources now = CurrentProcessResources();
    while ((now.descriptors != expected.descriptors || now.threads != expected.threads) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        now = CurrentProcessResources();
    }
    return now;
}
