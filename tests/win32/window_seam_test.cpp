#include "app/win32/window_seam.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "app/win32/dialog_template_builder.h"
#include "app/window.h"
#include "resources/control_ids.h"
#include "resources/dialog_templates.h"

namespace {

INT_PTR CALLBACK SeamOnlyProcedure(HWND dialog, UINT message, WPARAM, LPARAM lparam) {
    if (message != kCarriedCallMessage) return FALSE;
    RunCarriedCall(dialog, lparam);
    return TRUE;
}

// The main window's template, modeless and hidden, answering only the seam's calls. Null where
// Wine has no display to create windows on.
HWND CreateMainWindowForSeam() {
    const std::vector<std::uint16_t> words = BuildDialogTemplate(MainWindowTemplate, u"Calibri");
    return CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                      reinterpret_cast<LPCDLGTEMPLATEW>(words.data()), nullptr,
                                      SeamOnlyProcedure, 0);
}

void ExpectWindowIsGone(Window& seam) {
    seam.SetItemText(kIdStatusLine, u"written to nothing");
    EXPECT_EQ(seam.GetItemText(kIdStatusLine, 255), u"");
    EXPECT_EQ(seam.GetListSelection(kIdSensorTypeList), -1);
    seam.ShowMessage(u"shown to nobody");  // would hold the test if it reached a box
}

TEST(WindowSeam, BeforeAndAfterTheWindowEveryCallReturnsAtOnceWithAnEmptyResult) {
    ExpectWindowIsGone(MainWindowSeam());
}

TEST(WindowSeam, CarriesCallsOfThisThreadAndOfAnOperationThreadToTheWindowInOrder) {
    const HWND dialog = CreateMainWindowForSeam();
    if (dialog == nullptr) GTEST_SKIP() << "no display to create a window on";
    AttachMainWindow(dialog);
    Window& seam = MainWindowSeam();

    seam.SetItemText(kIdStatusLine, u" 4-20mA  Датчик успешно считывает данные");
    EXPECT_EQ(seam.GetItemText(kIdStatusLine, 255), u" 4-20mA  Датчик успешно считывает данные");
    EXPECT_EQ(seam.GetItemText(kIdStatusLine, 7), u" 4-20mA") << "cut to the capacity";
    EXPECT_EQ(seam.GetListSelection(kIdSensorTypeList), -1);

    // The operation thread writes three texts and reads each back; this thread pumps meanwhile.
    std::vector<std::u16string> read_back;
    std::atomic<bool> finished{false};
    std::thread operation([&] {
        for (std::u16string_view text : {u"。。", u"。。。", u"       Версия успешно прочитана"}) {
            seam.SetItemText(kIdStatusLine, text);
            read_back.push_back(seam.GetItemText(kIdStatusLine, 255));
        }
        finished = true;
    });
    MSG message;
    while (!finished) {
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    operation.join();
    EXPECT_EQ(read_back, (std::vector<std::u16string>{u"。。", u"。。。",
                                                      u"       Версия успешно прочитана"}));

    DestroyWindow(dialog);
    DetachMainWindow();
    ExpectWindowIsGone(seam);
}

}  // namespace
