#include <iostream>
#include <string>
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

// The arguments as UTF-8: argv holds them in the ANSI code page, which cannot carry every
// character of a file name.
std::vector<std::string> Arguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + argc);
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) {
        args.push_back(Utf8FromUtf16(reinterpret_cast<const char16_t*>(wide[i])));
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
