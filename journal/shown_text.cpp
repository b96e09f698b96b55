#include "journal/shown_text.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <utility>

namespace journal {
namespace {

// One character of UTF-8 at the start of `text`: its code point and length; length 0 for a
// byte that starts no valid character (overlong forms and surrogates included).
std::pair<char32_t, std::size_t> Decode(std::string_view text) {
    const auto lead = static_cast<std::uint8_t>(text[0]);
    std::size_t length = 0;
    char32_t c = 0;
    char32_t minimum = 0;
    if (lead < 0x80) return {lead, 1};
    if ((lead & 0xE0) == 0xC0) {
        length = 2, c = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, c = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, c = lead & 0x07, minimum = 0x10000;
    } else {
        return {0, 0};
    }
    if (text.size() < length) return {0, 0};
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<std::uint8_t>(text[k]);
        if ((next & 0xC0) != 0x80) return {0, 0};
        c = (c << 6) | (next & 0x3F);
    }
    if (c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return {0, 0};
    return {c, length};
}

bool IsControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// Wide in a terminal: Hangul Jamo, CJK, Hangul syllables, compatibility ideographs, fullwidth
// forms, the common emoji, and the supplementary ideographic planes.
bool IsWide(char32_t c) {
    static constexpr std::array<std::pair<char32_t, char32_t>, 10> kWide{{
        {0x1100, 0x115F},
        {0x2E80, 0x303E},
        {0x3041, 0xA4CF},
        {0xAC00, 0xD7A3},
        {0xF900, 0xFAFF},
        {0xFE30, 0xFE4F},
        {0xFF00, 0xFF60},
        {0xFFE0, 0xFFE6},
        {0x1F300, 0x1F64F},
        {0x20000, 0x3FFFD},
    }};
    for (const auto& [first, last] : kWide) {
        if (c >= first && c <= last) return true;
    }
    return false;
}

bool IsCombining(char32_t c) {
    return (c >= 0x0300 && c <= 0x036F) || (c >= 0x200B && c <= 0x200F) ||
           (c >= 0xFE00 && c <= 0xFE0F);
}

std::size_t WidthOf(char32_t c) {
    return IsCombining(c) ? 0 : IsWide(c) ? 2 : 1;
}

std::string Hex(const char* format, unsigned value) {
    char text[12];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

std::optional<std::string> TextRefusal(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const auto [c, length] = Decode(text.substr(at));
        if (length == 0) return "is not UTF-8";
        if (IsControl(c)) return "holds a control character";
        at += length;
    }
    return std::nullopt;
}

std::string Escaped(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const auto [c, length] = Decode(text.substr(at));
        if (length == 0) {
            shown += Hex("\\x%02x", static_cast<std::uint8_t>(text[at]));
            ++at;
            continue;
        }
        if (c == '\n') {
            shown += "\\n";
        } else if (c == '\t') {
            shown += "\\t";
        } else if (c == '\r') {
            shown += "\\r";
        } else if (c == 0x1B) {
            shown += "\\e";
        } else if (IsControl(c)) {
            shown += Hex(c < 0x80 ? "\\x%02x" : "\\u%04x", static_cast<unsigned>(c));
        } else {
            shown.append(text.substr(at, length));
        }
        at += length;
    }
    return shown;
}

std::size_t DisplayWidth(std::string_view text) {
    std::size_t width = 0;
    for (std::size_t at = 0; at < text.size();) {
        const auto [c, length] = Decode(text.substr(at));
        width += length == 0 ? 1 : WidthOf(c);
        at += length == 0 ? 1 : length;
    }
    return width;
}

std::string CutToWidth(std::string_view text, std::size_t columns) {
    std::size_t width = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        const auto [c, length] = Decode(text.substr(at));
        const std::size_t step = length == 0 ? 1 : length;
        const std::size_t wide = length == 0 ? 1 : WidthOf(c);
        if (width + wide > columns) break;
        width += wide;
        at += step;
    }
    return std::string(text.substr(0, at));
}

std::string PaddedToWidth(std::string_view text, std::size_t columns) {
    std::string cut = CutToWidth(text, columns);
    cut.append(columns - DisplayWidth(cut), ' ');
    return cut;
}

}  // namespace journal
