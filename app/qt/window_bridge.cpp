#include "app/qt/window_bridge.h"

#include <QMetaObject>
#include <QObject>
#include <future>
#include <memory>

WindowBridge& WindowBridge::Instance() {
    static WindowBridge* const bridge = new WindowBridge;
    return *bridge;
}

void WindowBridge::Attach(Window& target, QObject& context) {
    std::lock_guard lock(mutex_);
    target_ = &target;
    context_ = &context;
    interface_thread_ = std::this_thread::get_id();
}

void WindowBridge::Detach(const Window& target) {
    std::lock_guard lock(mutex_);
    if (target_ != &target) return;
    target_ = nullptr;
    context_ = nullptr;
}

// The call is posted while the mutex is held, so the context cannot be destroyed under it,
// and waited for after the mutex is released, so the interface thread can detach meanwhile.
// If the context dies first, its pending calls are deleted unrun; that breaks the promise and
// lets the caller go with the empty result.
template <typename Result, typename Call>
Result WindowBridge::Carry(Result empty, Call call) {
    Window* direct = nullptr;
    std::future<Result> answer;
    {
        std::lock_guard lock(mutex_);
        if (target_ == nullptr) return empty;
        if (std::this_thread::get_id() == interface_thread_) {
            direct = target_;
        } else {
            auto promise = std::make_shared<std::promise<Result>>();
            answer = promise->get_future();
            QMetaObject::invokeMethod(
                context_,
                [this, promise, empty, call]() mutable {
                    // Runs on the interface thread, the only one that writes target_.
                    promise->set_value(target_ == nullptr ? empty : call(*target_));
                },
                Qt::QueuedConnection);
        }
    }
    // Not under the mutex: the window may run a nested event loop (a message box, a dialog).
    if (direct != nullptr) return call(*direct);
    try {
        return answer.get();
    } catch (const std::future_error&) {
        return empty;
    }
}

namespace {
// Stands in for the result of calls that return nothing.
struct Done {};
}  // namespace

void WindowBridge::SetItemText(int identity, std::u16string_view text) {
    Carry(Done{}, [identity, text = std::u16string(text)](Window& window) {
        window.SetItemText(identity, text);
        return Done{};
    });
}

std::u16string WindowBridge::GetItemText(int identity, std::size_t capacity) {
    return Carry(std::u16string(), [identity, capacity](Window& window) {
        return window.GetItemText(identity, capacity);
    });
}

int WindowBridge::GetListSelection(int identity) {
    return Carry(-1, [identity](Window& window) { return window.GetListSelection(identity); });
}

void WindowBridge::ShowMessage(std::u16string_view text) {
    Carry(Done{}, [text = std::u16string(text)](Window& window) {
        window.ShowMessage(text);
        return Done{};
    });
}

void WindowBridge::RunAccessCodeDialog() {
    Carry(Done{}, [](Window& window) {
        window.RunAccessCodeDialog();
        return Done{};
    });
}
