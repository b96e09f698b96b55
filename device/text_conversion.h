#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Conversions between box texts and numbers, independent of the platform's locale.

// Integer conversion of a box text: leading white space, optional sign, decimal digits up to
// the first other character; no digits gives 0; beyond the 32-bit range it saturates.
std::int32_t ParseLeadingInteger(std::u16string_view text);
// Decimal rendering: a minus for negatives, no leading zeros or blanks.
std::u16string RenderInteger(std::int64_t value);

// The first 20 UTF-16 units of a text as bytes, zero-filled. A unit outside ASCII ends the
// text, so that no other character can pass for a digit by its low byte.
using NarrowedText = std::array<char, 20>;
NarrowedText TextToByteNarrowing(std::u16string_view text);
// Decimal floating-point conversion of narrowed text: leading white space skipped, point as the
// separator, stops at the first character that cannot belong to the number; nothing numeric
// gives 0.
double ParseLeadingDecimal(const NarrowedText& text);
// The same text taken strictly: one decimal number with nothing but blanks after it (a trailing
// point is fine), or nothing.
std::optional<double> ParseWholeDecimal(const NarrowedText& text);

// A cold-junction temperature as box 1047 shows it: at most four significant digits; below
// 1000 in magnitude with its tenths digit, a tenths digit of 0 dropped but the point kept
// ("25.", "-20.", "0.", "23.4"); from 1000 on, rounded half away from zero with no point.
std::u16string FormatColdJunction(double celsius);
