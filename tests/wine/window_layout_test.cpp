// The main window and the access-code dialog of the real program as the window system sees them:
// every control's identity, class, text, style and place against the dialog templates the
// program is built from, the keyboard order, the starting focus and the lists.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/control_ids.h"
#include "resources/dialog_templates.h"
#include "resources/texts.h"
#include "tests/wine/window_driver.h"

namespace e2e {

std::wstring ProgramPath();

namespace {

constexpr wchar_t kEmptyPort[] = L"COM7";

bool TakesFocus(const DialogControl& control) {
    return control.identity != kNoIdentity;
}

std::wstring ClassFor(ControlKind kind) {
    switch (kind) {
        case ControlKind::kLabel:
            return L"Static";
        case ControlKind::kGroupFrame:
        case ControlKind::kButton:
        case ControlKind::kDefaultButton:
            return L"Button";
        case ControlKind::kEdit:
        case ControlKind::kReadOnlyEdit:
        case ControlKind::kPasswordEdit:
            return L"Edit";
        case ControlKind::kList:
            return L"ComboBox";
    }
    return {};
}

bool SameClass(std::wstring a, std::wstring b) {
    return ::CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// The dialog's scale as the dialog manager used it: MapDialogRect where the window system
// answers it for another process's dialog, else the base units that give the client area its
// size from the template's size.
struct DialogScale {
    int x = 0;  // pixels per four horizontal dialog units
    int y = 0;  // pixels per eight vertical dialog units
};

std::optional<DialogScale> ScaleOf(HWND dialog, const DialogTemplate& form) {
    RECT probe{0, 0, 4, 8};
    if (::MapDialogRect(dialog, &probe)) return DialogScale{probe.right, probe.bottom};
    RECT client{};
    ::GetClientRect(dialog, &client);
    DialogScale scale;
    for (int base = 1; base < 400 && (scale.x == 0 || scale.y == 0); ++base) {
        if (scale.x == 0 && ::MulDiv(form.width, base, 4) == client.right) scale.x = base;
        if (scale.y == 0 && ::MulDiv(form.height, base, 8) == client.bottom) scale.y = base;
    }
    if (scale.x == 0 || scale.y == 0) return std::nullopt;
    return scale;
}

// Where the dialog manager puts a template rectangle: each of x, y, width and height scaled on
// its own, as MapDialogRect does with a RECT of {x, y, width, height}.
RECT Mapped(const DialogControl& control, DialogScale scale) {
    return RECT{::MulDiv(control.x, scale.x, 4), ::MulDiv(control.y, scale.y, 8),
                ::MulDiv(control.width, scale.x, 4), ::MulDiv(control.height, scale.y, 8)};
}

RECT InClient(HWND dialog, HWND control) {
    RECT rect{};
    ::GetWindowRect(control, &rect);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

void ExpectStyle(HWND control, const DialogControl& expected) {
    const LONG style = ::GetWindowLongW(control, GWL_STYLE);
    const LONG extended = ::GetWindowLongW(control, GWL_EXSTYLE);
    const bool bordered = (style & WS_BORDER) != 0 || (extended & WS_EX_CLIENTEDGE) != 0;
    EXPECT_EQ((style & WS_TABSTOP) != 0, TakesFocus(expected)) << "tab stop";
    switch (expected.kind) {
        case ControlKind::kLabel:
            EXPECT_EQ(style & SS_TYPEMASK, (expected.flags & kLeftAligned) ? SS_LEFT : SS_CENTER);
            break;
        case ControlKind::kGroupFrame:
            EXPECT_EQ(style & BS_TYPEMASK, BS_GROUPBOX);
            break;
        case ControlKind::kButton:
            EXPECT_EQ(style & BS_TYPEMASK, BS_PUSHBUTTON);
            break;
        case ControlKind::kDefaultButton:
            // The dialog manager leaves the default look on one button only; which one is
            // counted over the whole dialog.
            EXPECT_TRUE((style & BS_TYPEMASK) == BS_DEFPUSHBUTTON ||
                        (style & BS_TYPEMASK) == BS_PUSHBUTTON);
            break;
        case ControlKind::kEdit:
            EXPECT_EQ(style & (ES_READONLY | ES_PASSWORD), 0);
            EXPECT_TRUE(bordered);
            break;
        case ControlKind::kPasswordEdit:
            EXPECT_EQ(style & (ES_READONLY | ES_PASSWORD), ES_PASSWORD);
            EXPECT_TRUE(bordered);
            break;
        case ControlKind::kReadOnlyEdit:
            EXPECT_NE(style & ES_READONLY, 0);
            EXPECT_EQ((style & ES_MULTILINE) != 0, (expected.flags & kMultiLine) != 0)
                << "multi-line";
            EXPECT_EQ((style & ES_CENTER) != 0, (expected.flags & kCentred) != 0) << "centred";
            EXPECT_EQ(bordered, (expected.flags & kNoBorder) == 0) << "border";
            break;
        case ControlKind::kList:
            EXPECT_EQ(style & 3, CBS_DROPDOWNLIST);
            EXPECT_EQ(style & CBS_SORT, 0);
            break;
    }
}

void ExpectPlace(HWND dialog, HWND control, const DialogControl& expected, DialogScale scale) {
    const RECT want = Mapped(expected, scale);
    const RECT got = InClient(dialog, control);
    if (expected.kind == ControlKind::kLabel) {
        // A label may grow to show its whole text in a wider font; it never shrinks or moves
        // off its line.
        EXPECT_EQ(got.top, want.top) << "top";
        EXPECT_GE(got.right - got.left, want.right) << "width";
        return;
    }
    EXPECT_EQ(got.left, want.left) << "left";
    EXPECT_EQ(got.top, want.top) << "top";
    EXPECT_EQ(got.right - got.left, want.right) << "width";
    if (expected.kind != ControlKind::kList) {
        EXPECT_EQ(got.bottom - got.top, want.bottom) << "height";
        return;
    }
    // A closed list is one line high; the template's height is that of the opened list.
    EXPECT_LT(got.bottom - got.top, want.bottom) << "closed height";
    RECT dropped{};
    DWORD_PTR ok = 0;
    ASSERT_TRUE(::SendMessageTimeoutW(control, CB_GETDROPPEDCONTROLRECT, 0,
                                      reinterpret_cast<LPARAM>(&dropped), SMTO_ABORTIFHUNG, 10000,
                                      &ok));
    // Windows counts the closed box into the opened list's rectangle; Wine gives the list below
    // the box's text alone, so the opened list lies between the two.
    const LONG opened = dropped.bottom - dropped.top;
    const LONG closed = got.bottom - got.top;
    EXPECT_LE(opened, want.bottom) << "opened height";
    EXPECT_GE(opened + closed, want.bottom)
        << "opened height " << opened << " below a box of " << closed;
}

void ExpectControls(HWND dialog, const DialogTemplate& form) {
    const std::optional<DialogScale> scale = ScaleOf(dialog, form);
    ASSERT_TRUE(scale) << "the client area is no whole multiple of the template's size";
    const std::vector<HWND> children = ChildrenOf(dialog);
    ASSERT_EQ(children.size(), form.controls.size());
    int default_looks = 0;
    for (std::size_t i = 0; i < children.size(); ++i) {
        const DialogControl& expected = form.controls[i];
        HWND control = children[i];
        SCOPED_TRACE("control " + std::to_string(i) + " (" + std::to_string(expected.identity) +
                     " \"" + Utf8(expected.text) + "\")");
        const int identity = ::GetDlgCtrlID(control);
        if (expected.identity == kNoIdentity) {
            EXPECT_TRUE(identity == 0xFFFF || identity == -1) << identity;
        } else {
            EXPECT_EQ(identity, expected.identity);
        }
        EXPECT_TRUE(SameClass(ClassOf(control), ClassFor(expected.kind))) << Utf8(ClassOf(control));
        EXPECT_EQ(Utf8(WindowText(control)), Utf8(expected.text));
        ExpectStyle(control, expected);
        ExpectPlace(dialog, control, expected, *scale);
        const LONG style = ::GetWindowLongW(control, GWL_STYLE);
        if ((style & BS_TYPEMASK) == BS_DEFPUSHBUTTON && SameClass(ClassOf(control), L"Button")) {
            EXPECT_EQ(expected.kind, ControlKind::kDefaultButton) << "has the default look";
            ++default_looks;
        }
    }
    EXPECT_EQ(default_looks, 1) << "buttons with the default look";
}

std::vector<int> KeyboardOrderFrom(HWND dialog, HWND first, std::size_t count) {
    std::vector<int> order;
    HWND control = first;
    for (std::size_t i = 0; i < count && control != nullptr; ++i) {
        order.push_back(::GetDlgCtrlID(control));
        control = ::GetNextDlgTabItem(dialog, control, FALSE);
    }
    return order;
}

class TheWindow : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(ListOnlySerialPort(kEmptyPort));
        run = std::make_unique<ProgramRun>(ProgramPath());
        ASSERT_NE(run->Window(), nullptr) << "the main window never opened";
    }

    std::unique_ptr<ProgramRun> run;
};

TEST_F(TheWindow, IsFoundByItsTitle) {
    EXPECT_EQ(::FindWindowW(nullptr, Wide(texts::kMainWindowTitle).c_str()), run->Window());
    EXPECT_NE(::GetWindowLongW(run->Window(), GWL_STYLE) & WS_SYSMENU, 0);
    EXPECT_NE(::GetWindowLongW(run->Window(), GWL_STYLE) & WS_CAPTION, 0);
}

TEST_F(TheWindow, HoldsTheMainTemplatesControls) {
    ExpectControls(run->Window(), MainWindowTemplate);
}

TEST_F(TheWindow, StartsWithTheFocusOnConfigureAndTabsInTemplateOrder) {
    HWND window = run->Window();
    std::vector<int> expected;
    for (const DialogControl& control : MainWindowTemplate.controls) {
        if (TakesFocus(control)) expected.push_back(control.identity);
    }
    ASSERT_EQ(expected.front(), kIdConfigure);
    ASSERT_TRUE(PollUntil([&] { return FocusOf(run->ThreadId()) != nullptr; }));
    EXPECT_EQ(::GetDlgCtrlID(FocusOf(run->ThreadId())), kIdConfigure);
    // Round the whole order and back to the start.
    std::vector<int> round = expected;
    round.push_back(expected.front());
    EXPECT_EQ(KeyboardOrderFrom(window, FocusOf(run->ThreadId()), round.size()), round);

    PressKey(run->ThreadId(), VK_TAB);
    EXPECT_TRUE(PollUntil([&] { return ::GetDlgCtrlID(FocusOf(run->ThreadId())) == expected[1]; }))
        << "Tab left the focus on " << ::GetDlgCtrlID(FocusOf(run->ThreadId()));
}

TEST_F(TheWindow, ListsHoldTheirEntriesWithNoneSelected) {
    for (const ListContents& list : MainWindowLists) {
        SCOPED_TRACE("list " + std::to_string(list.identity));
        HWND box = ::GetDlgItem(run->Window(), list.identity);
        std::vector<std::string> entries;
        const LRESULT count = ::SendMessageW(box, CB_GETCOUNT, 0, 0);
        for (LRESULT i = 0; i < count; ++i) {
            wchar_t text[256] = {};
            ::SendMessageW(box, CB_GETLBTEXT, static_cast<WPARAM>(i),
                           reinterpret_cast<LPARAM>(text));
            entries.push_back(Utf8(std::wstring_view(text)));
        }
        std::vector<std::string> expected;
        for (std::u16string_view entry : list.entries) expected.push_back(Utf8(entry));
        EXPECT_EQ(entries, expected);
        EXPECT_EQ(::SendMessageW(box, CB_GETCURSEL, 0, 0), CB_ERR);
        EXPECT_EQ(WindowText(box), L"");
    }
}

TEST_F(TheWindow, AccessDialogHoldsItsTemplatesControlsAndIgnoresEscape) {
    Click(run->Window(), kIdAdjust);
    HWND dialog = WaitForOwnedWindow(run->Window(), L"Dialog");
    ASSERT_NE(dialog, nullptr) << "no access dialog came";
    EXPECT_NE(::GetWindowLongW(dialog, GWL_STYLE) & WS_SYSMENU, 0) << "a close box";
    ExpectControls(dialog, AccessCodeTemplate);

    PressKey(run->ThreadId(), VK_ESCAPE);
    // Escape has nothing to do: the close box, after it, is what ends the dialog.
    ::Sleep(1000);
    EXPECT_TRUE(::IsWindowVisible(dialog)) << "Escape closed the access dialog";
    ::PostMessageW(dialog, WM_CLOSE, 0, 0);
    EXPECT_TRUE(PollUntil([&] { return !::IsWindow(dialog); }));
}

}  // namespace
}  // namespace e2e
