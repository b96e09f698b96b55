#include <iostream>
#include <string>
#include <vector>

#include "cli/command_line.h"

#ifdef _WIN32
#include <windows.h>
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
    // The words are ASCII, but port names and system messages need not be.
    SetConsoleOutputCP(CP_UTF8);
#endif
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    CliStreams io{std::cin, std::cout, std::cerr, {}, {}};
    const int code = RunCommandLine(args, io);
    std::cout.flush();
    return code;
}
