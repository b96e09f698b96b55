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
    // Set by the run: the system's error number of the first output that failed to go out.
    int output_error = 0;
};

// Runs `transmitter-cli` with its arguments (without the program's own name) and gives its
// exit code: 0 success; 1 the transmitter did not answer, answered short, a check of what it
// answered failed, or the output could not be written; 2 a usage error or a refused entry; 3 a
// wrong access code; 4 the port cannot be opened or went away; 128 and the signal's number when
// a signal stopped it (StopSignal); 141 when standard output's reader went away, quietly.
int RunCommandLine(const std::vector<std::string>& args, CliStreams& io);
