#include "app/win32/dialog_font.h"

#include <windows.h>

#include <algorithm>

namespace {

int CALLBACK NoteFamily(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

bool IsFontInstalled(std::u16string_view face) {
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    if (face.empty() || face.size() >= LF_FACESIZE) return false;
    std::copy(face.begin(), face.end(), wanted.lfFaceName);
    bool found = false;
    if (HDC screen = GetDC(nullptr)) {
        EnumFontFamiliesExW(screen, &wanted, NoteFamily, reinterpret_cast<LPARAM>(&found), 0);
        ReleaseDC(nullptr, screen);
    }
    return found;
}

}  // namespace

std::u16string_view ChooseFaceName(const DialogTemplate& dialog_template,
                                   bool (*installed)(std::u16string_view face)) {
    if (installed(dialog_template.font_family)) return dialog_template.font_family;
    if (installed(dialog_template.fallback_family)) return dialog_template.fallback_family;
    return dialog_template.font_family;
}

std::u16string_view DialogFaceName(const DialogTemplate& dialog_template) {
    return ChooseFaceName(dialog_template, IsFontInstalled);
}
