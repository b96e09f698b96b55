// The end-to-end cases that the Windows program passes under Wine, run here against the Qt
// window, offscreen, with a simulated transmitter per case. Both runs check the same texts and
// the same wire lines, so a case whose traffic differed between the platforms fails on one.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/command_dispatcher.h"
#include "app/operation_state.h"
#include "app/qt/access_code_dialog.h"
#include "app/qt/dialog_builder.h"
#include "app/qt/main_window.h"
#include "resources/control_ids.h"
#include "serial/port_discovery.h"
#include "sim/option_values.h"
#include "sim/simulated_transmitter.h"
#include "sim/trace_format.h"
#include "tests/entry/entry_fixture.h"
#include "tests/support/test_application.h"
#include "tests/wine/window_case.h"

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPatience = std::chrono::seconds(30);
// An operation's worker writes its last text just before it takes commands again.
constexpr auto kAfterLastText = std::chrono::milliseconds(500);
// Long enough for a message sent by mistake right after the expected ones.
constexpr auto kQuiet = std::chrono::milliseconds(1500);

// Nothing can be opened here; the texts name it where the Windows run names COM7.
constexpr char16_t kEmptyPort[] = u"/dev/configurator-no-such-port";

std::string U8(std::u16string_view text) {
    return QString::fromStdU16String(std::u16string(text)).toStdString();
}

bool PumpUntil(const std::function<bool()>& done, Clock::duration patience = kPatience) {
    const auto deadline = Clock::now() + patience;
    while (!done()) {
        if (Clock::now() > deadline) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

void PumpFor(Clock::duration duration) {
    PumpUntil([] { return false; }, duration);
}

std::optional<sim::Options> OptionsFrom(const char* words, bool& first_reply_late) {
    sim::Options options;
    std::istringstream in(words);
    std::string flag, value;
    while (in >> flag >> value) {
        if (flag == "--version") {
            const auto version = sim::ParseVersionOption(value);
            if (!version) return std::nullopt;
            options.version = *version;
        } else if (flag == "--cold-junction" || flag == "--adjust-error") {
            const auto tenths = sim::ParseTenthsOption(value);
            if (!tenths) return std::nullopt;
            (flag == "--cold-junction" ? options.cold_junction_tenths
                                       : options.adjustment_error_tenths) = *tenths;
        } else if (flag == "--late-reply-ms") {
            const auto delay = sim::ParseMillisecondsOption(value);
            if (!delay) return std::nullopt;
            options.late_reply_delay = *delay;
            first_reply_late = true;
        } else {
            return std::nullopt;
        }
    }
    return options;
}

std::vector<std::string> WireOf(const sim::SimulatedTransmitter& device) {
    std::vector<std::string> lines;
    for (const sim::TraceEntry& entry : device.Trace()) {
        lines.push_back("in: " + sim::HexBytes(entry.received) +
                        "  out: " + sim::HexBytes(entry.replied) + "  " + entry.description);
    }
    return lines;
}

std::u16string WithPort(std::u16string_view text, std::u16string_view port) {
    std::u16string out(text);
    if (const std::size_t at = out.find(kThePort); at != std::u16string::npos) {
        out.replace(at, kThePort.size(), port);
    }
    return out;
}

// Modal windows hold the click that raised them, so they are answered from a timer that runs in
// their own event loop: message boxes with OK (their texts kept in order), the access dialog
// by the next of the case's access steps.
class ModalAnswers {
  public:
    explicit ModalAnswers(std::deque<Step> access_steps) : access_steps_(std::move(access_steps)) {
        timer_.setInterval(20);
        QObject::connect(&timer_, &QTimer::timeout, [this] { AnswerOne(); });
        timer_.start();
    }

    std::vector<std::u16string> messages;
    std::size_t access_answers = 0;

  private:
    void AnswerOne() {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            messages.push_back(box->text().toStdU16String());
            QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        } else if (auto* dialog = qobject_cast<AccessCodeDialog*>(modal)) {
            if (access_steps_.empty()) return;
            const Step step = access_steps_.front();
            access_steps_.pop_front();
            ++access_answers;
            if (step.act == Act::kCloseAccessDialog) {
                dialog->close();
                return;
            }
            auto* entry = qobject_cast<QLineEdit*>(FindControl(*dialog, kIdAccessCodeEntry));
            entry->setText(QString::fromStdU16String(std::u16string(step.text)));
            if (step.act == Act::kAccessCodeByKey) {
                QTest::keyClick(entry, Qt::Key_Return);
            } else {
                QTest::mouseClick(FindControl(*dialog, kIdAccessCodeEnter), Qt::LeftButton);
            }
        }
    }

    std::deque<Step> access_steps_;
    QTimer timer_;
};

Qt::Key QtKey(CaseKey key) {
    switch (key) {
        case CaseKey::kEscape:
            return Qt::Key_Escape;
        case CaseKey::kTab:
            return Qt::Key_Tab;
        case CaseKey::kEnter:
            return Qt::Key_Return;
    }
    return Qt::Key_unknown;
}

class InTheQtWindow : public testing::TestWithParam<WindowCase> {};

TEST_P(InTheQtWindow, ShowsAndSendsWhatTheWindowsProgramDoes) {
    const WindowCase& row = GetParam();
    TestApplication();
    bool first_reply_late = false;
    std::optional<sim::Options> options =
        OptionsFrom(row.transmitter ? row.transmitter : "", first_reply_late);
    ASSERT_TRUE(options) << row.transmitter;
    sim::SimulatedTransmitter device(*options);
    ASSERT_TRUE(device.IsRunning());
    if (first_reply_late) device.InjectFault(sim::Fault::kLateReply);
    const std::string path = device.PortPath();
    const std::u16string port =
        row.transmitter ? std::u16string(path.begin(), path.end()) : std::u16string(kEmptyPort);

    ResetProgramState();
    SetPortName(u"");
    SetPortListSource([port] { return std::optional(std::vector<std::u16string>{port}); });
    InstallCommandHandlers();

    std::deque<Step> access_steps;
    for (const Step& step : row.steps) {
        if (step.act == Act::kAccessCode || step.act == Act::kAccessCodeByKey ||
            step.act == Act::kCloseAccessDialog) {
            access_steps.push_back(step);
        }
    }
    ModalAnswers answers(std::move(access_steps));
    std::optional<std::vector<std::string>> wire_at_the_end;
    {
        MainWindow window;
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        const auto text = [&](int identity) { return window.GetItemText(identity, 255); };

        std::size_t messages_checked = 0;
        std::size_t access_checked = 0;
        for (std::size_t i = 0; i < row.steps.size(); ++i) {
            const Step& step = row.steps[i];
            SCOPED_TRACE("step " + std::to_string(i + 1));
            bool ok = true;
            switch (step.act) {
                case Act::kType:
                    qobject_cast<QLineEdit*>(window.Control(step.identity))
                        ->setText(QString::fromStdU16String(std::u16string(step.text)));
                    break;
                case Act::kPick:
                    qobject_cast<QComboBox*>(window.Control(step.identity))
                        ->setCurrentIndex(step.number);
                    break;
                case Act::kClick:
                    QTest::mouseClick(window.Control(step.identity), Qt::LeftButton);
                    break;
                case Act::kKey: {
                    QWidget* focus = window.focusWidget();
                    QTest::keyClick(focus ? focus : &window,
                                    QtKey(static_cast<CaseKey>(step.number)));
                    break;
                }
                case Act::kCloseWindow:
                    window.close();
                    break;
                case Act::kMessage:
                    ok = PumpUntil([&] { return answers.messages.size() > messages_checked; });
                    if (ok) {
                        EXPECT_EQ(U8(answers.messages[messages_checked]),
                                  U8(WithPort(step.text, port)));
                        ++messages_checked;
                    }
                    break;
                case Act::kAccessCode:
                case Act::kAccessCodeByKey:
                case Act::kCloseAccessDialog:
                    ok = PumpUntil([&] { return answers.access_answers > access_checked; });
                    ++access_checked;
                    PumpUntil([] { return QApplication::activeModalWidget() == nullptr; });
                    break;
                case Act::kStatus:
                    ok = PumpUntil([&] { return text(StatusLine) == WithPort(step.text, port); });
                    PumpFor(kAfterLastText);
                    break;
                case Act::kShows:
                    EXPECT_EQ(U8(text(step.identity)), U8(WithPort(step.text, port)))
                        << "box " << step.identity;
                    break;
                case Act::kNoDialog:
                    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
                    break;
                case Act::kEnds:
                case Act::kEndsWithin:
                    // The program's process goes with its window; here only the window does,
                    // and an operation it left behind would go on sending, so the wire is taken
                    // shortly after the close.
                    ok = PumpUntil([&] { return !window.isVisible(); });
                    PumpUntil([&] { return device.Trace().size() >= row.wire.size(); });
                    PumpFor(kQuiet);
                    wire_at_the_end = WireOf(device);
                    break;
            }
            if (!ok) {
                ADD_FAILURE() << "the step never came true; status line \"" << U8(text(StatusLine))
                              << "\"";
                break;
            }
        }
        // A worker still running would write into the window after it is gone.
        EXPECT_TRUE(PumpUntil([] { return ReadyFlag.load() == 1; }));
    }
    SetPortListSource({});

    if (row.transmitter == nullptr) return;
    if (!wire_at_the_end) {
        PumpUntil([&] { return device.Trace().size() >= row.wire.size(); });
        PumpFor(kQuiet);
        wire_at_the_end = WireOf(device);
    }
    EXPECT_EQ(*wire_at_the_end, std::vector<std::string>(row.wire.begin(), row.wire.end()));
}

INSTANTIATE_TEST_SUITE_P(Cases, InTheQtWindow, testing::ValuesIn(WindowCases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace e2e
