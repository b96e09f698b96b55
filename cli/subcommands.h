#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/session.h"
#include "device/write_entry.h"

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

    // write, adjust and station: the journal (journal too)
    std::string journal;
    bool no_journal = false;
    std::string batch;
    std::string operator_name;
    std::string central;      // the central journal's connection string (journal too)
    std::string unit_prefix;  // upper case; empty: the station's own

    // station
    std::vector<std::string> slots;  // as given, each still a comma-separated list
    std::string adjust_to;
    int units = 0;
    std::string http;  // the operator page's [ADDRESS:]PORT

    // journal
    std::string since;
    std::string verdict;
    bool csv = false;
    bool summary = false;
    std::string import_file;
    bool set_aside = false;

    // certificate and label: the unit by its number or its record's id; the file; the printer
    // (station too: the folder for every unit's certificate, and the printer for its label)
    std::string unit_or_id;
    std::string output_file;
    std::string printer;
    std::string certificates;
};

// The entry that the options and --from give `write` and `station`, checked against the
// sensor's limits; the exit code instead when it is refused (said on standard error).
std::optional<int> CheckedEntryOf(const Session& session, const Request& request,
                                  const CLI::App& command, CheckedEntry& checked);
// The entry as `write --json` shows it and the journal keeps it: sensor, upper, lower, output,
// fault, compensation.
Json EntryJson(const CheckedEntry& checked);
// The access code from TRANSMITTER_ACCESS_CODE, else asked for on the terminal; none when
// neither is there.
std::optional<std::string> AccessCode(CliStreams& io);

// A cold-junction temperature as typed, in tenths: degrees with a point, as the window's box
// takes them; none for a text that is not one.
std::optional<std::int16_t> WantedTenths(const std::string& text);
// The exit code when the access code is missing or wrong (said on standard error); none when
// it is right.
std::optional<int> AccessRefused(const Session& session);

// Each gives its exit code.
int RunPorts(CliStreams& io, bool json);
int RunVersion(const Session& session);
int RunRead(const Session& session);
int RunUnlock(const Session& session);
// `command` tells which options were given, so that they override the --from file's fields.
int RunWrite(const Session& session, const Request& request, const CLI::App& command);
int RunColdJunction(const Session& session, const Request& request);
int RunAdjust(const Session& session, const Request& request);
int RunStation(const Session& session, const Request& request, const CLI::App& command);
int RunJournal(const Session& session, const Request& request);
int RunCertificate(const Session& session, const Request& request);
int RunLabel(const Session& session, const Request& request);
