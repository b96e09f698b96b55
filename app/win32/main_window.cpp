#include "app/win32/main_window.h"

#include <commctrl.h>

#include <string>
#include <tuple>

#include "app/command_dispatcher.h"
#include "app/win32/dialog_template_builder.h"
#include "app/win32/label_fit.h"
#include "app/win32/resource_ids.h"
#include "app/win32/wide_text.h"
#include "app/win32/window_seam.h"
#include "resources/dialog_templates.h"
#include "serial/port_discovery.h"

namespace {

// Interface thread only: the close box (or WM_CLOSE) was used, so the next cancel command is
// the window's last.
bool CloseRequested = false;

// Appended at the end, never sorted, and nothing selected: an unselected list reads as -1.
void FillLists(HWND dialog) {
    for (const ListContents& contents : MainWindowLists) {
        for (std::u16string_view entry : contents.entries) {
            const std::wstring text = ToWide(entry);
            SendDlgItemMessageW(dialog, contents.identity, CB_INSERTSTRING, static_cast<WPARAM>(-1),
                                reinterpret_cast<LPARAM>(text.c_str()));
        }
    }
}

// A multi-line box asks for every key, and on Escape closes the window it sits in, which
// would end the program. It leaves Escape to the dialog manager instead, so that Escape is the
// cancel command (Unlock) wherever the focus is, and the window stays.
LRESULT CALLBACK LeaveEscapeToDialog(HWND box, UINT message, WPARAM wparam, LPARAM lparam, UINT_PTR,
                                     DWORD_PTR) {
    LRESULT result = DefSubclassProc(box, message, wparam, lparam);
    if (message == WM_GETDLGCODE && wparam == VK_ESCAPE) result &= ~DLGC_WANTALLKEYS;
    return result;
}

void LeaveEscapeToDialogInMultiLineBoxes(HWND dialog) {
    for (const DialogControl& control : MainWindowTemplate.controls) {
        if (control.identity == kNoIdentity || !(control.flags & kMultiLine)) continue;
        if (HWND box = GetDlgItem(dialog, control.identity)) {
            SetWindowSubclass(box, LeaveEscapeToDialog, 0, 0);
        }
    }
}

void GiveProgramIcon(HWND dialog) {
    const HINSTANCE instance =
        reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(dialog, GWLP_HINSTANCE));
    for (const auto& [which, width, height] : {std::tuple{ICON_BIG, SM_CXICON, SM_CYICON},
                                               std::tuple{ICON_SMALL, SM_CXSMICON, SM_CYSMICON}}) {
        // A shared icon belongs to the system, which frees it with the module.
        const HANDLE icon =
            LoadImageW(instance, MAKEINTRESOURCEW(IDI_TRANSMITTER_CONFIGURATOR), IMAGE_ICON,
                       GetSystemMetrics(width), GetSystemMetrics(height), LR_SHARED);
        if (icon != nullptr)
            SendMessageW(dialog, WM_SETICON, which, reinterpret_cast<LPARAM>(icon));
    }
}

INT_PTR CALLBACK MainWindowProcedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_INITDIALOG:
            GiveProgramIcon(dialog);
            FitOneLineLabels(dialog, MainWindowTemplate);
            LeaveEscapeToDialogInMultiLineBoxes(dialog);
            FillLists(dialog);
            AttachMainWindow(dialog);
            PortDiscovery();
            // The dialog manager focuses the first tab stop, "Настройка".
            return TRUE;
        case WM_COMMAND: {
            // Clicks, text changes, focus changes and selection changes alike: only the
            // control's identity counts. Escape and the close box arrive as identity 2.
            const int identity = LOWORD(wparam);
            CommandDispatcher(MainWindowSeam(), identity);
            // The quit request alone does not always end the program: a message box open at
            // the time (a port failure shown by the command running then) may run its own loop
            // and swallow it. The cancel command that follows the close is posted, so it is
            // delivered whichever loop runs, and ends the program once Unlock has run.
            if (identity == IDCANCEL && CloseRequested) EndProgram();
            return TRUE;
        }
        case WM_CLOSE:
            // Not handled, so that the dialog manager posts the cancel command (Unlock) after
            // this quit request; the quit is only taken once the queue holds no other posted
            // message, so Unlock runs first and the modal loop ends after it.
            CloseRequested = true;
            PostQuitMessage(0);
            return FALSE;
        case kCarriedCallMessage:
            RunCarriedCall(dialog, lparam);
            return TRUE;
        case WM_DESTROY:
            DetachMainWindow();
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

void RunMainWindow(HINSTANCE instance) {
    RunDialogFromTemplate(MainWindowTemplate, instance, nullptr, MainWindowProcedure);
    EndProgram();
}

void EndProgram() {
    // An operation may still run, its thread blocked in a call to the window, in a wait on the
    // port, or anywhere in the runtime. Returning from wWinMain would run the static
    // destructors under its feet, and ExitProcess the libraries' detach code, which can wait
    // for a lock that thread held; terminating runs neither and stops it where it stands.
    // Nothing is written to files, so nothing is lost.
    TerminateProcess(GetCurrentProcess(), 0);
    // Not reached: the process ends in the call above.
    ExitProcess(0);
}
