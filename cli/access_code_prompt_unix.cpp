#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cstddef>
#include <istream>
#include <iterator>
#include <ostream>

#include "cli/access_code_prompt.h"

namespace {

// The terminal's settings before the echo went off, for the interrupt handler too.
termios saved_settings{};

void RestoreAndInterrupt(int signal_number) {
    ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_settings);
    ::signal(signal_number, SIG_DFL);
    ::raise(signal_number);
}

// Every signal that ends the program while it waits for the code, by the user's hand
// (Ctrl+C, Ctrl+\ ), another program's or the terminal's going away.
constexpr int kEndingSignals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};

// Puts the terminal's echo back however the reading ends: a shell left without echo looks
// broken to whoever typed the code.
class EchoOff {
  public:
    EchoOff() : saved_ok_(::tcgetattr(STDIN_FILENO, &saved_settings) == 0) {
        if (!saved_ok_) return;
        struct sigaction handler {};
        handler.sa_handler = RestoreAndInterrupt;
        sigemptyset(&handler.sa_mask);
        for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
            ::sigaction(kEndingSignals[i], &handler, &previous_[i]);
        }
        termios quiet = saved_settings;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        // Enter is still shown, so that the next line does not start after the prompt.
        quiet.c_lflag |= ECHONL;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    ~EchoOff() {
        if (!saved_ok_) return;
        ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_settings);
        for (std::size_t i = 0; i < std::size(kEndingSignals); ++i) {
            ::sigaction(kEndingSignals[i], &previous_[i], nullptr);
        }
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

  private:
    bool saved_ok_;
    struct sigaction previous_[std::size(kEndingSignals)]{};
};

}  // namespace

std::optional<std::string> PromptAccessCode(std::istream& in, std::ostream& err) {
    if (::isatty(STDIN_FILENO) == 0) return std::nullopt;
    err << "Access code: " << std::flush;
    const EchoOff quiet;
    std::string line;
    if (!std::getline(in, line)) return std::nullopt;
    return line;
}
