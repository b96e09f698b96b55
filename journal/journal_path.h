#pragma once

#include <string>

namespace journal {

// Makes the folder that the journal at `path` (UTF-8) goes in, if missing, and returns why the
// journal cannot live there: the folder could not be made, or it lies on a network file
// system. Empty when the folder can hold the journal. Throws std::exception when out of
// memory or, on Windows, when `path` is not UTF-8.
std::string PrepareJournalFolder(const std::string& path);

}  // namespace journal
