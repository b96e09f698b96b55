#include "tests/wine/window_driver.h"

#include <thread>

#include "resources/texts.h"

namespace e2e {
namespace {

// A program that stops answering its messages must fail the case, not hang the driver.
constexpr UINT kSendTimeoutMs = 10000;

LRESULT Send(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    DWORD_PTR result = 0;
    if (!::SendMessageTimeoutW(window, message, wparam, lparam, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                               &result)) {
        return -1;
    }
    return static_cast<LRESULT>(result);
}

struct OwnedSearch {
    HWND owner;
    std::wstring_view title;
    HWND found;
};

BOOL CALLBACK MatchOwnedWindow(HWND window, LPARAM context) {
    auto& search = *reinterpret_cast<OwnedSearch*>(context);
    if (::GetWindow(window, GW_OWNER) != search.owner || !::IsWindowVisible(window)) return TRUE;
    if (WindowText(window) != search.title) return TRUE;
    search.found = window;
    return FALSE;
}

struct MainWindowSearch {
    DWORD process_id;
    std::wstring title;
    HWND found;
};

BOOL CALLBACK MatchMainWindow(HWND window, LPARAM context) {
    auto& search = *reinterpret_cast<MainWindowSearch*>(context);
    DWORD process_id = 0;
    ::GetWindowThreadProcessId(window, &process_id);
    if (process_id != search.process_id || !::IsWindowVisible(window)) return TRUE;
    if (WindowText(window) != search.title) return TRUE;
    search.found = window;
    return FALSE;
}

}  // namespace

std::wstring Wide(std::u16string_view text) {
    return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

std::string Utf8(std::wstring_view text) {
    if (text.empty()) return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                          nullptr, nullptr);
    return out;
}

std::string Utf8(std::u16string_view text) {
    return Utf8(std::wstring_view(Wide(text)));
}

bool PollUntil(const std::function<bool()>& done, milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(milliseconds(20));
    }
    return true;
}

bool ListOnlySerialPort(std::wstring_view port) {
    constexpr wchar_t kSerialComm[] = L"Hardware\\DeviceMap\\SerialComm";
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, kSerialComm);
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kSerialComm, 0, nullptr, REG_OPTION_VOLATILE,
                          KEY_WRITE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const std::wstring data(port);
    const LONG set = ::RegSetValueExW(key, L"\\Device\\Serial0", 0, REG_SZ,
                                      reinterpret_cast<const BYTE*>(data.c_str()),
                                      static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
    return set == ERROR_SUCCESS;
}

ProgramRun::ProgramRun(const std::wstring& exe) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    std::wstring command_line = L"\"" + exe + L"\"";
    if (!::CreateProcessW(exe.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &process_)) {
        process_ = {};
        return;
    }
    MainWindowSearch search{process_.dwProcessId, Wide(texts::kMainWindowTitle), nullptr};
    PollUntil([&] {
        ::EnumWindows(MatchMainWindow, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr || HasEnded();
    });
    window_ = search.found;
    if (window_ != nullptr) thread_id_ = ::GetWindowThreadProcessId(window_, nullptr);
}

ProgramRun::~ProgramRun() {
    if (process_.hProcess == nullptr) return;
    if (!HasEnded()) {
        ::TerminateProcess(process_.hProcess, 99);
        ::WaitForSingleObject(process_.hProcess, 10000);
    }
    ::CloseHandle(process_.hThread);
    ::CloseHandle(process_.hProcess);
}

bool ProgramRun::HasEnded() const {
    return process_.hProcess == nullptr ||
           ::WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0;
}

std::optional<DWORD> ProgramRun::WaitForExit(milliseconds timeout) {
    if (process_.hProcess == nullptr) return std::nullopt;
    if (::WaitForSingleObject(process_.hProcess, static_cast<DWORD>(timeout.count())) !=
        WAIT_OBJECT_0) {
        return std::nullopt;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process_.hProcess, &code);
    return code;
}

std::wstring WindowText(HWND window) {
    const LRESULT length = Send(window, WM_GETTEXTLENGTH, 0, 0);
    if (length <= 0) return {};
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const LRESULT copied =
        Send(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(copied > 0 ? static_cast<std::size_t>(copied) : 0);
    return text;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = {};
    const int length = ::GetClassNameW(window, name, 256);
    std::wstring text(name, static_cast<std::size_t>(length > 0 ? length : 0));
    const std::size_t bang = text.rfind(L'!');
    return bang == std::wstring::npos ? text : text.substr(bang + 1);
}

std::wstring ItemText(HWND dialog, int identity) {
    return WindowText(::GetDlgItem(dialog, identity));
}

void SetItemText(HWND dialog, int identity, std::wstring_view text) {
    const std::wstring terminated(text);
    Send(::GetDlgItem(dialog, identity), WM_SETTEXT, 0,
         reinterpret_cast<LPARAM>(terminated.c_str()));
}

void Click(HWND dialog, int identity) {
    ::PostMessageW(::GetDlgItem(dialog, identity), BM_CLICK, 0, 0);
}

void Pick(HWND dialog, int identity, int index) {
    HWND list = ::GetDlgItem(dialog, identity);
    Send(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(identity, CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(list));
}

HWND FocusOf(DWORD thread_id) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!::GetGUIThreadInfo(thread_id, &info)) return nullptr;
    return info.hwndFocus;
}

void PressKey(DWORD thread_id, UINT key) {
    HWND target = FocusOf(thread_id);
    const UINT scan = ::MapVirtualKeyW(key, MAPVK_VK_TO_VSC);
    const LPARAM down = 1 | static_cast<LPARAM>(scan) << 16;
    const LPARAM up = down | static_cast<LPARAM>(0xC0000000u);
    ::PostMessageW(target, WM_KEYDOWN, key, down);
    ::PostMessageW(target, WM_KEYUP, key, up);
}

HWND OwnedWindow(HWND owner, std::wstring_view title) {
    OwnedSearch search{owner, title, nullptr};
    ::EnumWindows(MatchOwnedWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForOwnedWindow(HWND owner, std::wstring_view title, milliseconds timeout) {
    HWND found = nullptr;
    PollUntil([&] { return (found = OwnedWindow(owner, title)) != nullptr; }, timeout);
    return found;
}

std::optional<std::wstring> AnswerMessageBox(HWND owner, milliseconds timeout) {
    HWND box = WaitForOwnedWindow(owner, Wide(texts::kMessageCaption), timeout);
    if (box == nullptr) return std::nullopt;
    // The message box's text is the static control with the identity 0xFFFF.
    std::wstring text = ItemText(box, 0xFFFF);
    ::PostMessageW(::GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
    PollUntil([&] { return !::IsWindow(box) || !::IsWindowVisible(box); });
    return text;
}

std::vector<HWND> ChildrenOf(HWND dialog) {
    std::vector<HWND> children;
    for (HWND child = ::GetWindow(dialog, GW_CHILD); child != nullptr;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
    }
    return children;
}

}  // namespace e2e
