#include "app/win32/label_fit.h"

#include <string>

namespace {

// Two lines of text are 16 dialog units high.
constexpr int kTwoLineLabelHeight = 16;

int TextWidth(HWND label) {
    const int length = GetWindowTextLengthW(label);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    GetWindowTextW(label, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(length));
    HDC context = GetDC(label);
    if (context == nullptr) return 0;
    const HGDIOBJ previous =
        SelectObject(context, reinterpret_cast<HGDIOBJ>(SendMessageW(label, WM_GETFONT, 0, 0)));
    RECT measured{};
    DrawTextW(context, text.c_str(), length, &measured, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(context, previous);
    ReleaseDC(label, context);
    return measured.right - measured.left;
}

}  // namespace

RECT GrownLabelRect(const RECT& placed, int needed, unsigned flags) {
    const int missing = needed - (placed.right - placed.left);
    if (missing <= 0) return placed;
    RECT grown = placed;
    if (flags & kLeftAligned) {
        grown.right += missing;
    } else {
        grown.left -= missing / 2;
        grown.right += missing - missing / 2;
    }
    return grown;
}

void FitOneLineLabels(HWND dialog, const DialogTemplate& dialog_template) {
    HWND child = GetWindow(dialog, GW_CHILD);
    for (const DialogControl& control : dialog_template.controls) {
        if (child == nullptr) break;
        if (control.kind == ControlKind::kLabel && control.height < kTwoLineLabelHeight &&
            !control.text.empty()) {
            RECT placed{};
            GetWindowRect(child, &placed);
            MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&placed), 2);
            const RECT grown = GrownLabelRect(placed, TextWidth(child), control.flags);
            SetWindowPos(child, nullptr, grown.left, grown.top, grown.right - grown.left,
                         grown.bottom - grown.top, SWP_NOZORDER | SWP_NOACTIVATE);
        }
        child = GetWindow(child, GW_HWNDNEXT);
    }
}
