#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/window.h"

// A Window for tests of everything behind the main window: it records every call in order,
// answers box reads from texts the test typed in, and dismisses message boxes at once.
class RecordingWindow : public Window {
public:
    enum class EventKind { kSetText, kMessage, kAccessDialog };
    struct Event {
        EventKind kind;
        int identity;  // the box for kSetText, 0 otherwise
        std::u16string text;
        std::chrono::steady_clock::time_point when;
    };

    void SetItemText(int identity, std::u16string_view text) override;
    std::u16string GetItemText(int identity, std::size_t capacity) override;
    int GetListSelection(int identity) override;
    void ShowMessage(std::u16string_view text) override;
    void RunAccessCodeDialog() override;

    // What the technician typed or picked.
    void Type(int identity, std::u16string_view text);
    void Select(int identity, int index);
    // The next access dialog gets `typed` and "Enter"; std::nullopt closes it with the close box.
    void QueueAccessEntry(std::optional<std::u16string> typed);

    std::u16string Text(int identity) const;
    std::vector<Event> Events() const;
    std::vector<std::u16string> Messages() const;
    // Every text written into one box, in order.
    std::vector<std::u16string> TextsOf(int identity) const;
    void ClearEvents();

private:
    mutable std::mutex mutex_;
    std::map<int, std::u16string> texts_;
    std::map<int, int> selections_;
    std::deque<std::optional<std::u16string>> access_entries_;
    std::vector<Event> events_;
};

// Waits until no operation runs (ReadyFlag 1); false if that takes longer than `limit`.
bool WaitUntilReady(std::chrono::milliseconds limit = std::chrono::seconds(30));

// Test output of UTF-16 texts.
std::string Utf8(std::u16string_view text);
