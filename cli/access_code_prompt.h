#pragma once

#include <iosfwd>
#include <optional>
#include <string>

// Asks for the access code on the terminal: the prompt on `err`, the typed line from `in`
// with the terminal's echo off. None when standard input is not a terminal, so that a script
// fails at once instead of waiting for a line nobody will type.
std::optional<std::string> PromptAccessCode(std::istream& in, std::ostream& err);
