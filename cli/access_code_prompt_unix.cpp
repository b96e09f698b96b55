#include <termios.h>
#include <unistd.h>

#include <istream>
#include <ostream>

#include "cli/access_code_prompt.h"

namespace {

// Puts the terminal's echo back however the reading ends.
class EchoOff {
  public:
    EchoOff() : saved_ok_(::tcgetattr(STDIN_FILENO, &saved_) == 0) {
        if (!saved_ok_) return;
        termios quiet = saved_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        // Enter is still shown, so that the next line does not start after the prompt.
        quiet.c_lflag |= ECHONL;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    ~EchoOff() {
        if (saved_ok_) ::tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

  private:
    termios saved_{};
    bool saved_ok_;
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
