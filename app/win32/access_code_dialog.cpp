#include "app/win32/access_code_dialog.h"

#include <array>

#include "app/win32/dialog_template_builder.h"
#include "app/win32/label_fit.h"
#include "app/win32/wide_text.h"
#include "device/access_code.h"
#include "resources/control_ids.h"
#include "resources/dialog_templates.h"

namespace {

// The box is read into a buffer of 256 units, its terminator included.
constexpr int kAccessCodeBufferUnits = 256;

INT_PTR CALLBACK AccessCodeProcedure(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            FitOneLineLabels(dialog, AccessCodeTemplate);
            // The dialog manager puts the focus on the first tab stop, the code box.
            return TRUE;
        case WM_COMMAND:
            // Escape arrives here as the cancel command and, like everything but "Enter",
            // does nothing.
            if (LOWORD(wparam) == kIdAccessCodeEnter) {
                std::array<wchar_t, kAccessCodeBufferUnits> typed{};
                const UINT length = GetDlgItemTextW(dialog, kIdAccessCodeEntry, typed.data(),
                                                    static_cast<int>(typed.size()));
                EndDialog(dialog,
                          EnterAccessCode(FromWide(std::wstring_view(typed.data(), length))));
            }
            return TRUE;
        case WM_CLOSE:
            EndDialog(dialog, AccessGranted.load());
            return TRUE;
        default:
            return FALSE;
    }
}

}  // namespace

void RunAccessCodeDialog(HWND owner) {
    RunDialogFromTemplate(AccessCodeTemplate,
                          reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(owner, GWLP_HINSTANCE)),
                          owner, AccessCodeProcedure);
}
