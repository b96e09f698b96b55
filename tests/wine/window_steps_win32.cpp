#include "tests/wine/window_steps_win32.h"

#include <gtest/gtest.h>

#include <thread>

#include "resources/control_ids.h"
#include "resources/texts.h"

namespace e2e {
namespace {

constexpr std::u16string_view kAccessDialogTitle = u"Dialog";
constexpr milliseconds kAfterLastText{500};

std::wstring WithPort(std::u16string_view text, std::wstring_view port) {
    std::wstring wide = Wide(text);
    const std::wstring marker = Wide(kThePort);
    if (const std::size_t at = wide.find(marker); at != std::wstring::npos) {
        wide.replace(at, marker.size(), port);
    }
    return wide;
}

// What the main window shows while a step waits in vain, for the failure report.
std::string Situation(HWND window) {
    std::string text = "status line \"" + Utf8(ItemText(window, StatusLine)) +
                       "\", detail line \"" + Utf8(ItemText(window, DetailLine)) + "\"";
    if (HWND box = OwnedWindow(window, Wide(texts::kMessageCaption))) {
        text += ", an open message box \"" + Utf8(ItemText(box, 0xFFFF)) + "\"";
    }
    if (OwnedWindow(window, Wide(kAccessDialogTitle)) != nullptr) {
        text += ", the access dialog open";
    }
    return text;
}

bool EnterAccessCode(ProgramRun& run, std::u16string_view code, bool by_key) {
    HWND dialog = WaitForOwnedWindow(run.Window(), Wide(kAccessDialogTitle));
    if (dialog == nullptr) {
        ADD_FAILURE() << "no access dialog came; " << Situation(run.Window());
        return false;
    }
    SetItemText(dialog, kIdAccessCodeEntry, Wide(code));
    if (by_key) {
        ::PostMessageW(::GetDlgItem(dialog, kIdAccessCodeEntry), WM_KEYDOWN, VK_RETURN, 0x001C0001);
    } else {
        Click(dialog, kIdAccessCodeEnter);
    }
    if (!PollUntil([&] { return !::IsWindow(dialog) || !::IsWindowVisible(dialog); })) {
        ADD_FAILURE() << "the access dialog stayed open after \"Enter\"";
        return false;
    }
    return true;
}

UINT VirtualKey(CaseKey key) {
    switch (key) {
        case CaseKey::kEscape:
            return VK_ESCAPE;
        case CaseKey::kTab:
            return VK_TAB;
        case CaseKey::kEnter:
            return VK_RETURN;
    }
    return 0;
}

bool RunStep(ProgramRun& run, const Step& step, std::wstring_view port) {
    HWND window = run.Window();
    switch (step.act) {
        case Act::kType:
            SetItemText(window, step.identity, Wide(step.text));
            return true;
        case Act::kPick:
            Pick(window, step.identity, step.number);
            return true;
        case Act::kClick:
            Click(window, step.identity);
            return true;
        case Act::kKey:
            PressKey(run.ThreadId(), VirtualKey(static_cast<CaseKey>(step.number)));
            return true;
        case Act::kCloseWindow:
            ::PostMessageW(window, WM_CLOSE, 0, 0);
            return true;
        case Act::kMessage: {
            const std::optional<std::wstring> seen = AnswerMessageBox(window);
            if (!seen) {
                ADD_FAILURE() << "no message box came; " << Situation(window);
                return false;
            }
            EXPECT_EQ(Utf8(*seen), Utf8(WithPort(step.text, port)));
            return true;
        }
        case Act::kAccessCode:
            return EnterAccessCode(run, step.text, false);
        case Act::kAccessCodeByKey:
            return EnterAccessCode(run, step.text, true);
        case Act::kCloseAccessDialog: {
            HWND dialog = WaitForOwnedWindow(window, Wide(kAccessDialogTitle));
            if (dialog == nullptr) {
                ADD_FAILURE() << "no access dialog came; " << Situation(window);
                return false;
            }
            ::PostMessageW(dialog, WM_CLOSE, 0, 0);
            if (!PollUntil([&] { return !::IsWindow(dialog) || !::IsWindowVisible(dialog); })) {
                ADD_FAILURE() << "the access dialog did not close";
                return false;
            }
            return true;
        }
        case Act::kStatus: {
            const std::wstring wanted = WithPort(step.text, port);
            if (!PollUntil([&] { return ItemText(window, StatusLine) == wanted; })) {
                ADD_FAILURE() << "the status line never showed \"" << Utf8(wanted) << "\"; "
                              << Situation(window);
                return false;
            }
            // An operation's worker writes its last text just before it lets the window take
            // commands again; a click in between would be dropped.
            std::this_thread::sleep_for(kAfterLastText);
            return true;
        }
        case Act::kShows:
            EXPECT_EQ(Utf8(ItemText(window, step.identity)), Utf8(WithPort(step.text, port)))
                << "box " << step.identity;
            return true;
        case Act::kNoDialog:
            EXPECT_EQ(OwnedWindow(window, Wide(texts::kMessageCaption)), nullptr)
                << Situation(window);
            EXPECT_EQ(OwnedWindow(window, Wide(kAccessDialogTitle)), nullptr);
            return true;
        case Act::kEnds:
        case Act::kEndsWithin: {
            const milliseconds patience =
                step.act == Act::kEnds ? kPatience : milliseconds(step.number);
            const std::optional<DWORD> code = run.WaitForExit(patience);
            if (!code) {
                ADD_FAILURE() << "the program still runs after " << patience.count() << " ms; "
                              << Situation(window);
                return false;
            }
            EXPECT_EQ(*code, 0u);
            return true;
        }
    }
    return false;
}

}  // namespace

bool RunSteps(ProgramRun& run, const std::vector<Step>& steps, std::wstring_view port) {
    for (std::size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE("step " + std::to_string(i + 1));
        if (!RunStep(run, steps[i], port)) return false;
    }
    return true;
}

}  // namespace e2e
