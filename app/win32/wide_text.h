#pragma once

#include <string>
#include <string_view>

// The program keeps its texts in char16_t; the wide Windows calls take wchar_t, which is the
// same UTF-16 unit on this platform but a distinct type.

inline std::wstring ToWide(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}

inline std::u16string FromWide(std::wstring_view text) {
    return std::u16string(text.begin(), text.end());
}
