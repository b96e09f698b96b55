#include "tests/support/recording_window.h"

#include <thread>

#include "app/operation_state.h"
#include "device/access_code.h"
#include "serial/device_path.h"

void RecordingWindow::SetItemText(int identity, std::u16string_view text) {
    std::lock_guard lock(mutex_);
    texts_[identity] = std::u16string(text);
    events_.push_back({EventKind::kSetText, identity, std::u16string(text),
                       std::chrono::steady_clock::now()});
}

std::u16string RecordingWindow::GetItemText(int identity, std::size_t capacity) {
    std::lock_guard lock(mutex_);
    auto it = texts_.find(identity);
    if (it == texts_.end()) return {};
    return it->second.substr(0, capacity);
}

int RecordingWindow::GetListSelection(int identity) {
    std::lock_guard lock(mutex_);
    auto it = selections_.find(identity);
    return it == selections_.end() ? -1 : it->second;
}

void RecordingWindow::ShowMessage(std::u16string_view text) {
    std::lock_guard lock(mutex_);
    events_.push_back(
        {EventKind::kMessage, 0, std::u16string(text), std::chrono::steady_clock::now()});
}

void RecordingWindow::RunAccessCodeDialog() {
    std::optional<std::u16string> entry;
    {
        std::lock_guard lock(mutex_);
        if (!access_entries_.empty()) {
            entry = access_entries_.front();
            access_entries_.pop_front();
        }
        events_.push_back({EventKind::kAccessDialog, 0, entry.value_or(u""),
                           std::chrono::steady_clock::now()});
    }
    if (entry) EnterAccessCode(*entry);
}

void RecordingWindow::Type(int identity, std::u16string_view text) {
    std::lock_guard lock(mutex_);
    texts_[identity] = std::u16string(text);
}

void RecordingWindow::Select(int identity, int index) {
    std::lock_guard lock(mutex_);
    selections_[identity] = index;
}

void RecordingWindow::QueueAccessEntry(std::optional<std::u16string> typed) {
    std::lock_guard lock(mutex_);
    access_entries_.push_back(std::move(typed));
}

std::u16string RecordingWindow::Text(int identity) const {
    std::lock_guard lock(mutex_);
    auto it = texts_.find(identity);
    return it == texts_.end() ? std::u16string() : it->second;
}

std::vector<RecordingWindow::Event> RecordingWindow::Events() const {
    std::lock_guard lock(mutex_);
    return events_;
}

std::vector<std::u16string> RecordingWindow::Messages() const {
    std::lock_guard lock(mutex_);
    std::vector<std::u16string> messages;
    for (const Event& event : events_) {
        if (event.kind == EventKind::kMessage) messages.push_back(event.text);
    }
    return messages;
}

std::vector<std::u16string> RecordingWindow::TextsOf(int identity) const {
    std::lock_guard lock(mutex_);
    std::vector<std::u16string> result;
    for (const Event& event : events_) {
        if (event.kind == EventKind::kSetText && event.identity == identity) {
            result.push_back(event.text);
        }
    }
    return result;
}

void RecordingWindow::ClearEvents() {
    std::lock_guard lock(mutex_);
    events_.clear();
}

bool WaitUntilReady(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (ReadyFlag.load() != 1) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::string Utf8(std::u16string_view text) {
    return Utf8FromUtf16(text);
}
