#pragma once

// One end-to-end case: what the technician does in the window, what the window then shows, and
// what the transmitter received and replied meanwhile. The same table runs against the Windows
// program under Wine and against the Qt window on Linux, so the two must agree on every text
// and every byte on the wire.

#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace e2e {

enum class Act {
    kType,               // WM_SETTEXT into box `identity`
    kPick,               // list `identity`, entry `number`
    kClick,              // BM_CLICK on button `identity`
    kKey,                // key `number`, a CaseKey, to the focused control
    kCloseWindow,        // WM_CLOSE to the main window
    kMessage,            // a message box with `text` comes and is answered with OK
    kAccessCode,         // the access dialog comes; `text` is typed and "Enter" clicked
    kAccessCodeByKey,    // the same, but the Enter key presses "Enter"
    kCloseAccessDialog,  // the access dialog comes and is closed with its close box
    kStatus,             // the status line comes to show `text`
    kShows,              // box `identity` shows `text` now
    kNoDialog,           // neither a message box nor the access dialog is open
    kEnds,               // the program ends with exit code 0
    kEndsWithin,         // the same within `number` milliseconds
};

enum class CaseKey { kEscape, kTab, kEnter };

struct Step {
    Act act;
    int identity = 0;
    std::u16string_view text{};
    int number = 0;
};

// In a text, this stands for the COM port the case's transmitter is on.
inline constexpr std::u16string_view kThePort = u"%s";

inline Step Type(int box, std::u16string_view text) {
    return {Act::kType, box, text};
}
inline Step Pick(int list, int index) {
    return {Act::kPick, list, {}, index};
}
inline Step Click(int button) {
    return {Act::kClick, button};
}
inline Step Key(CaseKey key) {
    return {Act::kKey, 0, {}, static_cast<int>(key)};
}
inline Step CloseWindow() {
    return {Act::kCloseWindow};
}
inline Step Message(std::u16string_view text) {
    return {Act::kMessage, 0, text};
}
inline Step AccessCode(std::u16string_view code) {
    return {Act::kAccessCode, 0, code};
}
inline Step AccessCodeByKey(std::u16string_view code) {
    return {Act::kAccessCodeByKey, 0, code};
}
inline Step CloseAccessDialog() {
    return {Act::kCloseAccessDialog};
}
inline Step Status(std::u16string_view text) {
    return {Act::kStatus, 0, text};
}
inline Step Shows(int box, std::u16string_view text) {
    return {Act::kShows, box, text};
}
inline Step NoDialog() {
    return {Act::kNoDialog};
}
inline Step Ends() {
    return {Act::kEnds};
}
inline Step EndsWithin(int milliseconds) {
    return {Act::kEndsWithin, 0, {}, milliseconds};
}

struct WindowCase {
    const char* name;
    // Options of transmitter-sim for the case's own transmitter; nullptr: the port is listed
    // but nothing can be opened there.
    const char* transmitter;
    std::vector<Step> steps;
    // The transmitter's messages without time stamps, in order.
    std::vector<std::string_view> wire;
};

inline void PrintTo(const WindowCase& row, std::ostream* out) {
    *out << row.name;
}

// The cases both platforms run: the Windows program under Wine and the Qt window on Linux.
std::span<const WindowCase> WindowCases();

}  // namespace e2e
