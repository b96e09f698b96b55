#pragma once

#include <mutex>
#include <thread>

#include "app/window.h"

class QObject;

// The Window that command handlers and operation threads are given. Calls made on the
// interface thread go straight to the attached window; calls from any other thread are carried
// to the interface thread one at a time and wait there until done, so they keep their order
// and a message box holds its caller until it is dismissed. With no window attached (it was
// closed while an operation ran) every call does nothing and reads give empty texts and -1.
class WindowBridge final : public Window {
  public:
    // The process's bridge. It is never destroyed: an operation thread may still hold it while
    // the process ends.
    static WindowBridge& Instance();

    // Interface thread only. `context` is the QObject that receives the carried calls; it must
    // live on the interface thread and stay alive until Detach.
    void Attach(Window& target, QObject& context);
    // Interface thread only. Calls still waiting are let go with empty results once `context`
    // is destroyed.
    void Detach(const Window& target);

    void SetItemText(int identity, std::u16string_view text) override;
    std::u16string GetItemText(int identity, std::size_t capacity) override;
    int GetListSelection(int identity) override;
    void ShowMessage(std::u16string_view text) override;
    void RunAccessCodeDialog() override;

  private:
    WindowBridge() = default;

    template <typename Result, typename Call>
    Result Carry(Result empty, Call call);

    std::mutex mutex_;
    // Written on the interface thread under the mutex; read there freely, elsewhere under it.
    Window* target_ = nullptr;
    QObject* context_ = nullptr;
    std::thread::id interface_thread_;
};
