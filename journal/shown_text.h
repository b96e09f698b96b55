#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Text that came from outside (an operator, a batch, a profile, another program's row) as it is
// taken in and as a terminal shows it. UTF-8 throughout.
namespace journal {

// Why `text` cannot be taken as an entry: "is not UTF-8" or "holds a control character"; none
// when it can. A line break or an escape sequence in a name would redraw the terminal it is
// shown on, and bytes that are no UTF-8 are refused by the central journal's server.
std::optional<std::string> TextRefusal(std::string_view text);

// The text with every control character written out (\n, \t, \e, \x7f, \u0085) and every byte
// that is no UTF-8 as \xff, so that a terminal shows it and does not obey it.
std::string Escaped(std::string_view text);

// How many terminal columns `text` takes: a character one, an East Asian wide one two, a
// combining mark none. For text that holds no control character (Escaped).
std::size_t DisplayWidth(std::string_view text);

// The text cut to at most `columns` columns, never inside a character.
std::string CutToWidth(std::string_view text, std::size_t columns);

// The text cut, then filled with blanks to exactly `columns` columns.
std::string PaddedToWidth(std::string_view text, std::size_t columns);

}  // namespace journal
