#include "app/qt/window_bridge.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QTimer>
#include <atomic>
#include <memory>
#include <thread>

#include "app/qt/dialog_builder.h"
#include "app/qt/main_window.h"
#include "app/qt/access_code_dialog.h"
#include "resources/control_ids.h"
#include "resources/texts.h"
#include "tests/app/widget_fixture.h"

namespace {

// A thread standing in for an operation worker: it runs `body` against the bridge while the
// interface thread keeps taking events.
class OperationThread {
  public:
    template <typename Body>
    explicit OperationThread(Body body)
        : thread_([this, body] {
              body(WindowBridge::Instance());
              finished_ = true;
          }) {}
    ~OperationThread() { thread_.join(); }

    bool Finished() const { return finished_; }

  private:
    std::atomic<bool> finished_{false};
    std::thread thread_;
};

// Watches the interface thread for a modal window (a nested event loop runs meanwhile, so a
// timer is the way in) and hands it to `act` once.
class ModalWatcher {
  public:
    explicit ModalWatcher(std::function<void(QWidget&)> act) : act_(std::move(act)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                timer_.stop();
                act_(*modal);
            }
        });
        timer_.start(20);
    }

  private:
    std::function<void(QWidget&)> act_;
    QTimer timer_;
};

using WindowBridgeTest = WidgetFixture;

TEST_F(WindowBridgeTest, CallsFromAnotherThreadReachTheWindowInTheOrderMade) {
    MainWindow window;
    window.show();
    RecordCommandsOf<kIdUpperLimitEntry>();
    qobject_cast<QComboBox*>(window.Control(kIdFaultLevelList))->setCurrentIndex(1);

    std::u16string read_back;
    int selection = -2;
    {
        OperationThread operation([&](Window& bridge) {
            for (std::u16string_view text : {u"1", u"12", u"5"}) {
                bridge.SetItemText(kIdUpperLimitEntry, text);
            }
            bridge.SetItemText(kIdStatusLine, u"готово");
            read_back = bridge.GetItemText(kIdStatusLine, 256);
            selection = bridge.GetListSelection(kIdFaultLevelList);
        });
        ASSERT_TRUE(PumpUntil([&] { return operation.Finished(); }));
    }
    const std::vector<DispatchedCommand> expected{
        {kIdUpperLimitEntry, u"1"}, {kIdUpperLimitEntry, u"12"}, {kIdUpperLimitEntry, u"5"}};
    EXPECT_EQ(DispatchedCommands(), expected);
    EXPECT_EQ(read_back, u"готово");
    EXPECT_EQ(selection, 1);
}

TEST_F(WindowBridgeTest, AMessageBoxHoldsItsCallerUntilDismissed) {
    MainWindow window;
    window.show();
    std::atomic<bool> returned{false};
    bool held_while_shown = false;
    QString caption, text;
    QList<QAbstractButton*> buttons;
    QWidget* owner = nullptr;
    ModalWatcher watcher([&](QWidget& modal) {
        auto* box = qobject_cast<QMessageBox*>(&modal);
        ASSERT_NE(box, nullptr);
        caption = box->windowTitle();
        text = box->text();
        buttons = box->buttons();
        owner = box->parentWidget();
        held_while_shown = !returned;
        box->button(QMessageBox::Ok)->click();
    });
    {
        OperationThread operation([&](Window& bridge) {
            bridge.ShowMessage(texts::kPortNotOpen);
            returned = true;
        });
        ASSERT_TRUE(PumpUntil([&] { return operation.Finished(); }));
    }
    EXPECT_TRUE(held_while_shown);
    EXPECT_EQ(ToU16(caption), texts::kMessageCaption);
    EXPECT_EQ(ToU16(text), texts::kPortNotOpen);
    EXPECT_EQ(buttons.size(), 1);
    EXPECT_EQ(owner, &window);
}

TEST_F(WindowBridgeTest, TheAccessDialogRunsFromAnotherThreadOwnedByTheWindow) {
    MainWindow window;
    window.show();
    QWidget* owner = nullptr;
    bool modal_run = false;
    ModalWatcher watcher([&](QWidget& modal) {
        ASSERT_NE(qobject_cast<AccessCodeDialog*>(&modal), nullptr);
        owner = modal.parentWidget();
        modal_run = modal.isModal();
        QTest::keyClicks(FindControl(modal, kIdAccessCodeEntry), QStringLiteral("8163"));
        QTest::keyClick(FindControl(modal, kIdAccessCodeEntry), Qt::Key_Return);
    });
    {
        OperationThread operation([](Window& bridge) { bridge.RunAccessCodeDialog(); });
        ASSERT_TRUE(PumpUntil([&] { return operation.Finished(); }));
    }
    EXPECT_EQ(owner, &window);
    EXPECT_TRUE(modal_run);
    EXPECT_EQ(AccessGranted.load(), 1);
}

struct NoWindowResults {
    std::u16string text{u"?"};
    int selection = 7;
};

// Every call of the Window with nothing to carry it to; none may wait for anybody.
NoWindowResults CallEverything(Window& bridge) {
    NoWindowResults results;
    bridge.SetItemText(kIdStatusLine, u"никому");
    bridge.ShowMessage(texts::kSendFailed);
    bridge.RunAccessCodeDialog();
    results.text = bridge.GetItemText(kIdStatusLine, 256);
    results.selection = bridge.GetListSelection(kIdSensorTypeList);
    return results;
}

TEST_F(WindowBridgeTest, OnceTheWindowIsGoneEveryCallDoesNothing) {
    { MainWindow window; }
    const NoWindowResults here = CallEverything(WindowBridge::Instance());
    EXPECT_EQ(here.text, u"");
    EXPECT_EQ(here.selection, -1);

    NoWindowResults elsewhere;
    std::thread([&] { elsewhere = CallEverything(WindowBridge::Instance()); }).join();
    EXPECT_EQ(elsewhere.text, u"");
    EXPECT_EQ(elsewhere.selection, -1);
}

TEST_F(WindowBridgeTest, ACallWaitingWhenTheWindowGoesIsLetGoEmptyHanded) {
    auto window = std::make_unique<MainWindow>();
    window->SetItemText(kIdStatusLine, u"было");
    std::atomic<bool> calling{false};
    std::u16string text = u"?";
    OperationThread operation([&](Window& bridge) {
        calling = true;
        text = bridge.GetItemText(kIdStatusLine, 256);
    });
    while (!calling) std::this_thread::yield();
    // Give the call time to be posted; the interface thread takes no events meanwhile.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    window.reset();
    EXPECT_TRUE(PumpUntil([&] { return operation.Finished(); }));
    EXPECT_EQ(text, u"");
}

// The close box while an operation runs: the modal run ends at once, without the cancel
// command, and the operation's later calls find no window and return.
TEST_F(WindowBridgeTest, ClosingDuringAnOperationEndsTheRunAndTheOperationGoesOnWithoutIt) {
    RecordCommandsOf<kIdUnlock>();
    std::unique_ptr<OperationThread> operation;
    std::atomic<bool> closed{false};
    std::u16string read_after_close = u"?";
    {
        MainWindow window;
        window.show();
        ReadyFlag = 0;
        operation = std::make_unique<OperationThread>([&](Window& bridge) {
            while (!closed) {
                bridge.SetItemText(kIdStatusLine, texts::kDots3);
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            bridge.SetItemText(kIdStatusLine, texts::kDots4);
            read_after_close = bridge.GetItemText(kIdStatusLine, 256);
            ReadyFlag = 1;
        });
        QTimer::singleShot(100, &window, [&window] { window.close(); });
        window.exec();
    }
    closed = true;
    EXPECT_TRUE(PumpUntil([&] { return operation->Finished(); }));
    operation.reset();
    EXPECT_EQ(read_after_close, u"");
    EXPECT_TRUE(DispatchedCommands().empty());
}

}  // namespace
