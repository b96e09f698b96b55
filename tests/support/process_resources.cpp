#include "tests/support/process_resources.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
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

std::vector<std::string> ProcessHandles() {
    std::vector<std::string> handles;
    std::error_code error;
    for (std::filesystem::directory_iterator it("/proc/self/task", error), end; !error && it != end;
         it.increment(error)) {
        std::ifstream comm(it->path() / "comm");
        std::string name;
        std::getline(comm, name);
        handles.push_back("thread " + name);
    }
    for (std::filesystem::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
         it.increment(error)) {
        std::error_code unreadable;
        handles.push_back("descriptor " +
                          std::filesystem::read_symlink(it->path(), unreadable).string());
    }
    std::sort(handles.begin(), handles.end());
    return handles;
}

std::string NewHandles(const std::vector<std::string>& before,
                       const std::vector<std::string>& after) {
    std::vector<std::string> added;
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                        std::back_inserter(added));
    std::string lines;
    for (const std::string& line : added) lines += "  " + line + "\n";
    return lines;
}
