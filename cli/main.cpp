#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/command_line.h"
#include "cli/stop_signal.h"

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "cli/console_output.h"
#include "serial/device_path.h"

namespace {

// An argument as UTF-8. A lone surrogate, which UTF-16 cannot pair into a character, becomes a
// byte that is no UTF-8 either, so that a name holding one is refused where names are checked,
// not stored with U+FFFD in its place.
std::string Utf8Argument(std::u16string_view text) {
    std::string argument;
    std::size_t from = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool high = text[i] >= 0xD800 && text[i] <= 0xDBFF;
        const bool low_next = i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
        if (high && low_next) {
            ++i;
        } else if (text[i] >= 0xD800 && text[i] <= 0xDFFF) {
            argument += Utf8FromUtf16(text.substr(from, i - from)) + '\xFF';
            from = i + 1;
        }
    }
    return argument + Utf8FromUtf16(text.substr(from));
}

// The arguments as UTF-8: argv holds them in the ANSI code page, which cannot carry every
// character of a file name.
std::vector<std::string> Arguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) {
        args.push_back(Utf8Argument(reinterpret_cast<const char16_t*>(wide[i])));
    }
    LocalFree(wide);
    return args;
}

}  // namespace
#else
namespace {

std::vector<std::string> Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
}

}  // namespace
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
    // The words are ASCII, but port names, file names and system messages need not be.
    WriteConsoleStreamsAsUtf16();
#endif
    InstallStopHandlers();
    CliStreams io{std::cin, std::cout, std::cerr, {}, {}};
    const int code = RunCommandLine(Arguments(argc, argv), io);
    std::cout.flush();
    return code;
}
