#include "tests/wine/window_transmitters.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

namespace e2e {
namespace {

// Long enough for a message that the program sends by mistake right after the expected ones:
// every send of the program follows its previous one within this time.
constexpr milliseconds kQuiet{1500};

}  // namespace

std::optional<CaseTransmitter> TransmitterFor(std::string_view case_name) {
    const char* list = std::getenv("CONFIGURATOR_WINDOW_CASES");
    if (list == nullptr) return std::nullopt;
    std::ifstream in(list);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string name, port, trace;
        if (!(fields >> name >> port >> trace) || name != case_name) continue;
        return CaseTransmitter{std::wstring(port.begin(), port.end()), trace};
    }
    return std::nullopt;
}

std::string WithoutTimeStamp(std::string_view line) {
    std::size_t start = line.find_first_not_of(' ');
    if (start == std::string_view::npos) return {};
    const std::size_t after_stamp = line.find(' ', start);
    if (after_stamp == std::string_view::npos) return std::string(line.substr(start));
    start = line.find_first_not_of(' ', after_stamp);
    return start == std::string_view::npos ? std::string() : std::string(line.substr(start));
}

std::vector<std::string> MessagesIn(const std::string& trace) {
    std::ifstream in(trace);
    std::vector<std::string> messages;
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("Port: ", 0) == 0) continue;
        // A line still being written has no line end yet.
        if (in.eof()) break;
        messages.push_back(WithoutTimeStamp(line));
    }
    return messages;
}

std::vector<std::string> SettledMessages(const std::string& trace, std::size_t count) {
    PollUntil([&] { return MessagesIn(trace).size() >= count; });
    std::this_thread::sleep_for(kQuiet);
    return MessagesIn(trace);
}

}  // namespace e2e
