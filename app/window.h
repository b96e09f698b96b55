#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// What the rest of the program may do with the main window. The calls mirror the dialog-item
// calls of the original platform. They may be made from any thread: the implementation carries
// them to the interface thread in the order they were made, and a call that must wait for the
// user (a message box, the access-code dialog) holds its caller until the user is done.
class Window {
public:
    virtual ~Window() = default;

    // Replaces the whole text of a box (or a line).
    virtual void SetItemText(int identity, std::u16string_view text) = 0;
    // The text of a box, at most `capacity` UTF-16 units of it.
    virtual std::u16string GetItemText(int identity, std::size_t capacity) = 0;
    // The selected index of a list, -1 when nothing is selected.
    virtual int GetListSelection(int identity) = 0;
    // A message box owned by the window: caption "Подсказка", one OK button. Returns once the
    // user has dismissed it.
    virtual void ShowMessage(std::u16string_view text) = 0;
    // Shows the access-code dialog modally, owned by the window; it sets AccessGranted itself.
    virtual void RunAccessCodeDialog() = 0;
};
