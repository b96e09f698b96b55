#include <windows.h>

#include <istream>
#include <ostream>

#include "cli/access_code_prompt.h"

namespace {

// Puts the console's echo back however the reading ends.
class EchoOff {
  public:
    explicit EchoOff(HANDLE console) : console_(console) {
        if (GetConsoleMode(console_, &saved_) == 0) {
            console_ = nullptr;
            return;
        }
        SetConsoleMode(console_, saved_ & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    }
    ~EchoOff() {
        if (console_ != nullptr) SetConsoleMode(console_, saved_);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

  private:
    HANDLE console_;
    DWORD saved_ = 0;
};

}  // namespace

std::optional<std::string> PromptAccessCode(std::istream& in, std::ostream& err) {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    // A pipe or a file has no console mode.
    if (input == INVALID_HANDLE_VALUE || input == nullptr || GetConsoleMode(input, &mode) == 0) {
        return std::nullopt;
    }
    err << "Access code: " << std::flush;
    std::string line;
    {
        const EchoOff quiet(input);
        if (!std::getline(in, line)) return std::nullopt;
    }
    // Without echo the console does not show the Enter either.
    err << '\n' << std::flush;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}
