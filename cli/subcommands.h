#pragma once

#include <cstdint>
#include <string>

#include "cli/command_line.h"
#include "cli/session.h"

namespace CLI {
class App;
}

// What the command line asked for, filled in by the parser.
struct Request {
    std::string port;
    bool port_given = false;
    bool json = false;
    bool trace = false;

    // write
    std::string sensor;
    std::int32_t upper = 0;
    std::int32_t lower = 0;
    std::string output;
    std::string fault;
    std::string compensation;
    std::string from;
    bool verify = false;

    // cold-junction
    int watch_seconds = 0;
    int count = 0;

    // adjust
    std::string temperature;
};

// Each gives its exit code.
int RunPorts(CliStreams& io, bool json);
int RunVersion(const Session& session);
int RunRead(const Session& session);
int RunUnlock(const Session& session);
// `command` tells which options were given, so that they override the --from file's fields.
int RunWrite(const Session& session, const Request& request, const CLI::App& command);
int RunColdJunction(const Session& session, const Request& request);
int RunAdjust(const Session& session, const Request& request);
