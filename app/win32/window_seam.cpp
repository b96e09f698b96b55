#include "app/win32/window_seam.h"

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "app/win32/access_code_dialog.h"
#include "app/win32/wide_text.h"
#include "app/window.h"
#include "resources/texts.h"

namespace {

using CarriedCall = std::function<void(HWND dialog)>;

// The main window while it exists; null before and after. Set and cleared on the interface
// thread, read by every caller before it sends.
std::atomic<HWND> MainWindowHandle{nullptr};

// SendMessageW from another thread waits until the interface thread has run the call, which
// also orders the call's writes before the caller reads them. A window that dies between the
// check and the send is no longer a window: the send fails at once and touches nothing.
void Carry(const CarriedCall& call) {
    const HWND dialog = MainWindowHandle.load();
    if (dialog == nullptr) return;
    SendMessageW(dialog, kCarriedCallMessage, 0, reinterpret_cast<LPARAM>(&call));
}

class CarriedWindow final : public Window {
  public:
    void SetItemText(int identity, std::u16string_view text) override {
        const std::wstring shown = ToWide(text);
        Carry([&](HWND dialog) { SetDlgItemTextW(dialog, identity, shown.c_str()); });
    }

    std::u16string GetItemText(int identity, std::size_t capacity) override {
        std::u16string result;
        Carry([&](HWND dialog) {
            // One unit more for the terminator that GetDlgItemTextW always writes.
            std::vector<wchar_t> buffer(capacity + 1, L'\0');
            const UINT length =
                GetDlgItemTextW(dialog, identity, buffer.data(), static_cast<int>(buffer.size()));
            result = FromWide(std::wstring_view(buffer.data(), length));
        });
        return result;
    }

    int GetListSelection(int identity) override {
        int selection = -1;
        Carry([&](HWND dialog) {
            selection = static_cast<int>(SendDlgItemMessageW(dialog, identity, CB_GETCURSEL, 0, 0));
        });
        return selection;
    }

    void ShowMessage(std::u16string_view text) override {
        const std::wstring shown = ToWide(text);
        Carry([&](HWND dialog) {
            MessageBoxW(dialog, shown.c_str(), ToWide(texts::kMessageCaption).c_str(), MB_OK);
        });
    }

    void RunAccessCodeDialog() override {
        Carry([](HWND dialog) { ::RunAccessCodeDialog(dialog); });
    }
};

}  // namespace

Window& MainWindowSeam() {
    // Never destroyed: an operation thread may still hold it while the process ends.
    static Window* const seam = new CarriedWindow;
    return *seam;
}

void AttachMainWindow(HWND dialog) {
    MainWindowHandle.store(dialog);
}

void DetachMainWindow() {
    MainWindowHandle.store(nullptr);
}

void RunCarriedCall(HWND dialog, LPARAM call) {
    // A send that was already queued when the window began to close finds it detached.
    if (MainWindowHandle.load() != dialog) return;
    (*reinterpret_cast<const CarriedCall*>(call))(dialog);
}
