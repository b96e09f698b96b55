#include "device/text_conversion.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace {

bool IsWhiteSpace(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}
bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// The narrowed text up to its terminating zero, or all 20 bytes when it has none.
std::string_view NarrowedView(const NarrowedText& text) {
    std::size_t length = 0;
    while (length < text.size() && text[length] != '\0') ++length;
    return {text.data(), length};
}

std::size_t SkipWhiteSpace(std::string_view text, std::size_t pos) {
    while (pos < text.size() && IsWhiteSpace(static_cast<unsigned char>(text[pos]))) ++pos;
    return pos;
}

std::size_t SkipDigits(std::string_view text, std::size_t pos) {
    while (pos < text.size() && IsDigit(static_cast<unsigned char>(text[pos]))) ++pos;
    return pos;
}

struct DecimalSpan {
    bool negative = false;
    std::size_t begin = 0;  // first character after the sign
    std::size_t end = 0;    // one past the number; equal to begin when there is none
};

// Finds the longest number at pos: sign, digits with an optional point (at least one digit),
// then, when exponent_allowed, an exponent that counts only if it has digits.
DecimalSpan ScanDecimal(std::string_view text, std::size_t pos, bool exponent_allowed) {
    DecimalSpan span;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        span.negative = text[pos] == '-';
        ++pos;
    }
    span.begin = span.end = pos;
    const std::size_t integer_end = SkipDigits(text, pos);
    std::size_t end = integer_end;
    bool has_digits = integer_end > pos;
    if (end < text.size() && text[end] == '.') {
        const std::size_t fraction_end = SkipDigits(text, end + 1);
        has_digits = has_digits || fraction_end > end + 1;
        end = fraction_end;
    }
    if (!has_digits) return span;
    if (exponent_allowed && end < text.size() && (text[end] == 'e' || text[end] == 'E')) {
        std::size_t exponent = end + 1;
        if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-')) ++exponent;
        const std::size_t exponent_end = SkipDigits(text, exponent);
        if (exponent_end > exponent) end = exponent_end;
    }
    span.end = end;
    return span;
}

// from_chars reads the point whatever the locale; out of range it leaves the value alone, so
// overflow and underflow are settled here the way strtod settles them.
double ConvertDecimal(std::string_view text, const DecimalSpan& span) {
    const std::string_view digits = text.substr(span.begin, span.end - span.begin);
    double value = 0.0;
    const auto [ptr, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error == std::errc::result_out_of_range) {
        // Twenty characters cannot underflow without a negative exponent, nor overflow with one.
        const bool tiny = digits.find("e-") != std::string_view::npos ||
                          digits.find("E-") != std::string_view::npos;
        value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    }
    return span.negative ? -value : value;
}

}  // namespace

std::int32_t ParseLeadingInteger(std::u16string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && IsWhiteSpace(text[pos])) ++pos;
    bool negative = false;
    if (pos < text.size() && (text[pos] == u'+' || text[pos] == u'-')) {
        negative = text[pos] == u'-';
        ++pos;
    }
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (; pos < text.size() && IsDigit(text[pos]); ++pos) {
        magnitude = std::min(magnitude * 10 + (text[pos] - u'0'), kLimit);
    }
    if (negative) return static_cast<std::int32_t>(-magnitude);
    return static_cast<std::int32_t>(std::min(magnitude, kLimit - 1));
}

std::u16string RenderInteger(std::int64_t value) {
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::u16string(buffer, result.ptr);
}

NarrowedText TextToByteNarrowing(std::u16string_view text) {
    NarrowedText narrowed{};
    for (std::size_t i = 0; i < narrowed.size() && i < text.size(); ++i) {
        // A unit's low byte alone could pass for a digit (U+0432 for '2'), so anything beyond
        // ASCII ends the text instead.
        if (text[i] >= 0x80) break;
        narrowed[i] = static_cast<char>(text[i]);
    }
    return narrowed;
}

double ParseLeadingDecimal(const NarrowedText& text) {
    const std::string_view view = NarrowedView(text);
    const DecimalSpan span = ScanDecimal(view, SkipWhiteSpace(view, 0), true);
    if (span.end == span.begin) return 0.0;
    return ConvertDecimal(view, span);
}

std::optional<double> ParseWholeDecimal(const NarrowedText& text) {
    const std::string_view view = NarrowedView(text);
    const DecimalSpan span = ScanDecimal(view, SkipWhiteSpace(view, 0), false);
    if (span.end == span.begin || SkipWhiteSpace(view, span.end) != view.size())
        return std::nullopt;
    return ConvertDecimal(view, span);
}

std::u16string FormatColdJunction(double celsius) {
    // The value is a whole number of tenths; rounding first keeps 23.4 from showing as 23.39.
    const long long tenths = std::llround(celsius * 10.0);
    const long long magnitude = tenths < 0 ? -tenths : tenths;
    const std::u16string sign = tenths < 0 ? u"-" : u"";
    if (magnitude >= 10000) return sign + RenderInteger((magnitude + 5) / 10);
    std::u16string text = sign + RenderInteger(magnitude / 10) + u".";
    if (magnitude % 10 != 0) text += static_cast<char16_t>(u'0' + magnitude % 10);
    return text;
}
