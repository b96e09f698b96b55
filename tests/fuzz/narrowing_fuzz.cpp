// TextToByteNarrowing and the two decimal conversions that read its bytes (the wanted
// temperature of the adjustment check, and the strict reading of box 1047).

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "device/text_conversion.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

bool IsWhiteSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// strtod reads hexadecimal numbers, infinities and NaNs, which these conversions do not know;
// without those letters, the C library and the program must agree on every text.
bool StrtodIsAReference(const std::string& text) {
    return text.find_first_of("xXiInN") == std::string::npos;
}

bool SameValue(double a, double b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::u16string text = FuzzText(data, size);
    const NarrowedText narrowed = TextToByteNarrowing(text);

    // Twenty units at most, each one as it is, up to the first one outside ASCII; zeros after.
    const std::size_t counted = std::min(text.size(), narrowed.size());
    const std::size_t kept = static_cast<std::size_t>(
        std::find_if(text.begin(), text.begin() + static_cast<long>(counted),
                     [](char16_t c) { return c >= 0x80; }) -
        text.begin());
    for (std::size_t i = 0; i < narrowed.size(); ++i) {
        FUZZ_CHECK(narrowed[i] == (i < kept ? static_cast<char>(text[i]) : '\0'));
    }

    const double leading = ParseLeadingDecimal(narrowed);
    const std::optional<double> whole = ParseWholeDecimal(narrowed);
    FUZZ_CHECK(!std::isnan(leading));
    if (whole) FUZZ_CHECK(SameValue(*whole, leading));

    const std::string bytes(narrowed.data(), std::find(narrowed.begin(), narrowed.end(), '\0'));
    if (!StrtodIsAReference(bytes)) return 0;
    char* end = nullptr;
    const double reference = std::strtod(bytes.c_str(), &end);
    FUZZ_CHECK(SameValue(leading, reference));

    const std::size_t number_end = static_cast<std::size_t>(end - bytes.c_str());
    const std::string number = bytes.substr(0, number_end);
    const bool only_blanks_after =
        std::all_of(bytes.begin() + static_cast<long>(number_end), bytes.end(), IsWhiteSpace);
    const bool is_whole =
        number_end > 0 && only_blanks_after && number.find_first_of("eE") == std::string::npos;
    FUZZ_CHECK(whole.has_value() == is_whole);
    return 0;
}
