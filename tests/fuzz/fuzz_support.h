#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

// A property that does not hold is a finding: say which, then abort so that libFuzzer keeps the
// input as a crash.
#define FUZZ_CHECK(condition)                                                             \
    do {                                                                                  \
        if (!(condition)) {                                                               \
            std::fprintf(stderr, "property violated: %s (%s:%d)\n", #condition, __FILE__, \
                         __LINE__);                                                       \
            std::abort();                                                                 \
        }                                                                                 \
    } while (false)

// Box texts made from fuzz bytes. A byte below 0x80 is that ASCII character (NUL included);
// any other byte stands for one of the non-ASCII units a technician's keyboard or a pasted text
// can bring in, chosen for being close to what the conversions look for: letters whose low
// byte is a digit, a point or NUL, full-width and Arabic-Indic digits, typographic minus and
// spaces, the ideographic full stop, a degree sign, a lone surrogate.
inline char16_t FuzzUnit(std::uint8_t byte) {
    static constexpr char16_t kOthers[] = {
        u'\u0432', u'\u0430', u'\u0435', u'\uFF10',
        u'\uFF11', u'\u0660', u'\u2212', u'\u00A0',
        u'\u2009', u'\u3002', u'\u00B0', u'\u0100',
        u'\u0131', u'\u212A', u'\uFEFF', static_cast<char16_t>(0xD800),
        u'\u0130', u'\u042E', u'\uFFFF',
    };
    if (byte < 0x80) return static_cast<char16_t>(byte);
    return kOthers[(byte - 0x80u) % (sizeof kOthers / sizeof kOthers[0])];
}

inline std::u16string FuzzText(const std::uint8_t* data, std::size_t size) {
    std::u16string text;
    text.reserve(size);
    for (std::size_t i = 0; i < size; ++i) text.push_back(FuzzUnit(data[i]));
    return text;
}

// The text with every unit outside ASCII (and NUL) replaced by a letter that no C-library
// conversion takes for part of a number, so that the C library can serve as the reference.
inline std::string AsciiForReference(std::u16string_view text) {
    std::string ascii;
    for (char16_t unit : text)
        ascii.push_back(unit > 0 && unit < 0x80 ? static_cast<char>(unit) : 'z');
    return ascii;
}
