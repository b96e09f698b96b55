#pragma once

// Drives the real transmitter-configurator.exe from outside, only through the window system,
// the way a user's own automation would: windows found by title, controls by identity, texts
// by WM_GETTEXT/WM_SETTEXT, clicks by BM_CLICK, keys posted to the focused control.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace e2e {

using std::chrono::milliseconds;

// Every wait for the program polls up to this long: far beyond any of its designed waits, so
// that only a program that never gets there fails.
inline constexpr milliseconds kPatience{30000};

std::wstring Wide(std::u16string_view text);
std::string Utf8(std::wstring_view text);
std::string Utf8(std::u16string_view text);

// Polls `done` every 20 ms until it holds or `timeout` has passed; returns whether it held.
bool PollUntil(const std::function<bool()>& done, milliseconds timeout = kPatience);

// Which port the program finds: the serial-port list in the registry is made to hold only
// `port`, so that it is the last one listed.
bool ListOnlySerialPort(std::wstring_view port);

// One run of the program. Ending the object ends the process if it still runs.
class ProgramRun {
  public:
    // Starts the program and waits for its main window; check Window() != nullptr.
    explicit ProgramRun(const std::wstring& exe);
    ~ProgramRun();
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    HWND Window() const { return window_; }
    DWORD ThreadId() const { return thread_id_; }
    // The exit code once the process has ended within `timeout`.
    std::optional<DWORD> WaitForExit(milliseconds timeout = kPatience);
    bool HasEnded() const;

  private:
    PROCESS_INFORMATION process_{};
    HWND window_ = nullptr;
    DWORD thread_id_ = 0;
};

std::wstring WindowText(HWND window);
std::wstring ClassOf(HWND window);  // without a side-by-side version prefix ("6.0...!Edit")
std::wstring ItemText(HWND dialog, int identity);
void SetItemText(HWND dialog, int identity, std::wstring_view text);
// A click as the button itself takes it; posted, so that a modal window it opens does not hold
// the driver.
void Click(HWND dialog, int identity);
// Selects a list entry and tells the dialog, as the list does when the user picks one.
void Pick(HWND dialog, int identity, int index);
// The key goes to the control that has the focus, where the dialog manager looks for it.
void PressKey(DWORD thread_id, UINT key);
HWND FocusOf(DWORD thread_id);

// A top-level window of the program owned by `owner` with this title, or nullptr.
HWND OwnedWindow(HWND owner, std::wstring_view title);
HWND WaitForOwnedWindow(HWND owner, std::wstring_view title, milliseconds timeout = kPatience);

// The text of the message box that `owner` shows, after it was answered with OK; nothing when
// no message box came.
std::optional<std::wstring> AnswerMessageBox(HWND owner, milliseconds timeout = kPatience);

// The children of a dialog in creation order, which is template order.
std::vector<HWND> ChildrenOf(HWND dialog);

}  // namespace e2e
