#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

// Where the command line reads and writes, and what it asks of its surroundings. A test
// supplies its own; an empty function stands for the process's own.
struct CliStreams {
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    // The value of an environment variable; none when it is not set.
    std::function<std::optional<std::string>(const std::string& name)> environment;
    // Asks for the access code without echo; none when there is no terminal to ask on.
    std::function<std::optional<std::string>(std::istream& in, std::ostream& err)> ask_access_code;
};

// Runs `transmitter-cli` with its arguments (without the program's own name) and gives its
// exit code: 0 success; 1 the transmitter did not answer, answered short, or a check of what it
// answered failed; 2 a usage error or a refused entry; 3 a wrong access code; 4 the port cannot
// be opened.
int RunCommandLine(const std::vector<std::string>& args, CliStreams& io);
