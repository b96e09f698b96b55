#pragma once

#include <string>

namespace journal {

// Makes the folder that the journal at `path` (UTF-8) goes in, if missing, and returns why the
// journal cannot live there: the folder could not be made, or it lies on a network file
// system. Empty when the folder can hold the journal. Throws std::exception when out of
// memory or, on Windows, when `path` is not UTF-8.
std::string PrepareJournalFolder(const std::string& path);

// Why the file at `path` (UTF-8) cannot be a journal, to be said before anything opens it; empty
// when it can. A journal is a regular file or not there yet: a name Windows keeps for a device
// (CON, PRN, AUX, NUL, COM1-COM9, LPT1-LPT9, with any extension, in any folder) would open that
// device there, a serial port among them, and is refused on every platform so that a journal
// travels; a device, a folder or a pipe that exists under the name is refused too.
std::string JournalFileRefusal(const std::string& path);

}  // namespace journal
