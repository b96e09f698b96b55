#pragma once

#include <cstdint>
#include <string>

// What Journal::Begin makes for a unit, besides its time and checksum.
namespace journal {

// A random (version 4) UUID in lower case, "8-4-4-4-12". Throws when the system has no source
// of randomness.
std::string NewUuid();
// The letters and digits of the host name without its domain, upper case, Russian letters in
// Latin ones: all of them up to eight, else the first four and the last four; "ST" when it has
// none. The prefix of a station that has no units yet in its journal.
std::string UnitPrefix(const std::string& station);
// At least four digits: "0042", "12345".
std::string RunningNumber(std::int64_t number);

}  // namespace journal
