// Configure and Adjust driven through the real main window, offscreen, against the simulated
// transmitter: the lists, boxes, message boxes and the access dialog as the technician uses them.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/command_dispatcher.h"
#include "app/qt/dialog_builder.h"
#include "app/qt/main_window.h"
#include "app/operation_state.h"
#include "app/qt/access_code_dialog.h"
#include "device/protocol.h"
#include "resources/control_ids.h"
#include "resources/texts.h"
#include "serial/port_discovery.h"
#include "tests/entry/entry_fixture.h"
#include "tests/support/test_application.h"

namespace {

// A modal window blocks the click that raised it, so it is answered from a timer that runs in
// the modal's own event loop; `answer` says whether the window was the one it was waiting for.
void AnswerNextModal(std::function<bool(QWidget&)> answer) {
    auto* timer = new QTimer(&TestApplication());
    timer->setInterval(20);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, answer = std::move(answer)] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !answer(*modal)) return;
        timer->stop();
        timer->deleteLater();
    });
    timer->start();
}

void EnterAccessCodeWhenAsked(const QString& code) {
    AnswerNextModal([code](QWidget& modal) {
        auto* dialog = qobject_cast<AccessCodeDialog*>(&modal);
        if (dialog == nullptr) return false;
        auto* box = qobject_cast<QLineEdit*>(FindControl(*dialog, kIdAccessCodeEntry));
        QTest::keyClicks(box, code);
        QTest::mouseClick(FindControl(*dialog, kIdAccessCodeEnter), Qt::LeftButton);
        return true;
    });
}

struct SeenMessage {
    std::u16string caption;
    std::u16string text;
};

void DismissMessageWhenShown(std::optional<SeenMessage>& seen) {
    AnswerNextModal([&seen](QWidget& modal) {
        auto* box = qobject_cast<QMessageBox*>(&modal);
        if (box == nullptr) return false;
        seen = SeenMessage{ToU16(box->windowTitle()), ToU16(box->text())};
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
        return true;
    });
}

constexpr std::array<std::uint8_t, 14> kUnrelatedConfiguration{0x44, 0x5A, 0x5A, 0x5A, 0x5A,
                                                                0x5A, 0x5A, 0x5A, 0x5A, 0x5A,
                                                                0x5A, 0x5A, 0x5A, 0x5A};

class EntryInTheMainWindow : public ::testing::Test {
protected:
    static void SetUpTestSuite() { TestApplication(); }

    void SetUp() override {
        ASSERT_TRUE(device.IsRunning());
        device.SetConfiguration(kUnrelatedConfiguration);
        ResetProgramState();
        SetPortName(u"");
        const std::string path = device.PortPath();
        const std::u16string port(path.begin(), path.end());
        SetPortListSource([port] { return std::optional(std::vector<std::u16string>{port}); });
        InstallCommandHandlers();
        // Creating the window finds the port.
        window = std::make_unique<MainWindow>();
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }

    void TearDown() override {
        EXPECT_TRUE(PumpUntilReady());
        window.reset();
        SetPortListSource({});
    }

    // The worker's window calls are carried to this thread, so waiting means running events.
    bool PumpUntilReady() {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (ReadyFlag.load() != 1) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        return true;
    }

    void Click(int identity) { QTest::mouseClick(window->Control(identity), Qt::LeftButton); }

    void Pick(int list, int index) {
        qobject_cast<QComboBox*>(window->Control(list))->setCurrentIndex(index);
    }

    void TypeInto(int box, const QString& text) {
        auto* edit = qobject_cast<QLineEdit*>(window->Control(box));
        edit->clear();
        QTest::keyClicks(edit, text);
    }

    std::string Text(int identity) { return Utf8(window->GetItemText(identity, 255)); }

    sim::SimulatedTransmitter device;
    std::unique_ptr<MainWindow> window;
};

TEST_F(EntryInTheMainWindow, ConfigureWritesKFromMinus50To300AndReadingShowsItBack) {
    // Connecting first reads the version, which tells how long the configuration reply is.
    Click(kIdConnect);
    ASSERT_TRUE(PumpUntilReady());

    Pick(kIdSensorTypeList, 3);  // "K ТП "
    TypeInto(kIdUpperLimitEntry, QStringLiteral("300"));
    Pick(kIdLowerSignList, 1);  // "-"
    TypeInto(kIdLowerLimitEntry, QStringLiteral("50"));
    Pick(kIdOutputTypeList, 1);               // "0-20mA"
    Pick(kIdFaultLevelList, 0);               // "Высокий"
    Pick(kIdColdJunctionCompensationList, 1);  // "Нет!"
    device.ClearRecords();

    Click(kIdConfigure);
    EXPECT_EQ(Text(DetailLine), Utf8(SensorTypes[3].confirmation));
    ASSERT_TRUE(PumpUntilReady());

    EXPECT_EQ(Text(StatusLine), Utf8(texts::kWriteDone));
    const std::array<std::uint8_t, 14> written{0x44, 0x03, 0x01, 0x5E, 0x80, 0x32, 0x01,
                                               0x00, 0x00, 0x00, 0x00, 0x01, 0x01, 0x01};
    EXPECT_EQ(device.Configuration(), written);
    std::vector<std::uint8_t> sent = kPreambleOnly;
    sent.insert(sent.end(), written.begin(), written.end());
    EXPECT_EQ(ReceivedAfterQuiet(device, sent.size()), sent);

    Click(kIdReadConfiguration);
    ASSERT_TRUE(PumpUntilReady());
    EXPECT_EQ(Text(kIdSensorTypeReadback), Utf8(*ReadbackTextForCode(3)));
    EXPECT_EQ(Text(kIdUpperSignReadback), "+");
    EXPECT_EQ(Text(kIdUpperLimitReadback), "300");
    EXPECT_EQ(Text(kIdLowerSignReadback), "-");
    EXPECT_EQ(Text(kIdLowerLimitReadback), "50");
    EXPECT_EQ(Text(StatusLine), Utf8(texts::kSensorRead020));
    EXPECT_EQ(Text(DetailLine), Utf8(texts::kFaultHigh));
}

struct RefusalRow {
    const char* name;
    int type;  // -1: the list left as the window opened it
    std::u16string_view message;
    std::vector<std::uint8_t> sent;
};
void PrintTo(const RefusalRow& row, std::ostream* out) { *out << row.name; }

const RefusalRow kRefusalRows[] = {
    {"NoSensorTypePicked", -1, texts::kNoSensorTypeSelected, {}},
    {"UpperLimitBeyondTypeK", 3, texts::kUpperLimitRefused, {0xAA, 0xAA}},
};

class RefusedInTheMainWindow : public EntryInTheMainWindow,
                               public ::testing::WithParamInterface<RefusalRow> {};

TEST_P(RefusedInTheMainWindow, ShowsItsMessageBoxAndWritesNothing) {
    const RefusalRow& row = GetParam();
    if (row.type >= 0) Pick(kIdSensorTypeList, row.type);
    TypeInto(kIdUpperLimitEntry, QStringLiteral("1371"));
    Pick(kIdLowerSignList, 0);
    TypeInto(kIdLowerLimitEntry, QStringLiteral("0"));

    std::optional<SeenMessage> seen;
    DismissMessageWhenShown(seen);
    Click(kIdConfigure);

    ASSERT_TRUE(seen.has_value());
    EXPECT_EQ(Utf8(seen->caption), Utf8(texts::kMessageCaption));
    EXPECT_EQ(Utf8(seen->text), Utf8(row.message));
    EXPECT_EQ(ReadyFlag.load(), 1);
    EXPECT_EQ(ReceivedAfterQuiet(device, row.sent.size()), row.sent);
    EXPECT_EQ(device.Configuration(), kUnrelatedConfiguration);
}

INSTANTIATE_TEST_SUITE_P(Table, RefusedInTheMainWindow, ::testing::ValuesIn(kRefusalRows),
                         [](const auto& info) { return std::string(info.param.name); });

struct VerdictRow {
    const char* name;
    std::int16_t adjustment_error_tenths;
    sim::Fault fault;
    std::u16string_view status;
};
void PrintTo(const VerdictRow& row, std::ostream* out) { *out << row.name; }

// 23.57 is sent as 23.5; the device then reads back 23.5 plus its error.
const VerdictRow kVerdictRows[] = {
    {"ReadBackWithinOneDegree", 0, sim::Fault::kNone, texts::kAdjustSucceeded},
    {"ReadBackMoreThanADegreeHigh", 15, sim::Fault::kNone, texts::kAdjustFailedBelow},
    {"ReadBackMoreThanADegreeLow", -15, sim::Fault::kNone, texts::kAdjustFailedAbove},
    {"NoReadBack", 0, sim::Fault::kSilence, texts::kColdJunctionReadError},
};

class AdjustInTheMainWindow : public EntryInTheMainWindow,
                              public ::testing::WithParamInterface<VerdictRow> {};

TEST_P(AdjustInTheMainWindow, SendsTheTemperatureAndJudgesTheReadBack) {
    const VerdictRow& row = GetParam();
    device.SetAdjustmentErrorTenths(row.adjustment_error_tenths);
    device.InjectFault(row.fault);
    TypeInto(kIdColdJunctionTemperature, QStringLiteral("23.57"));

    EnterAccessCodeWhenAsked(QStringLiteral("8163"));
    Click(kIdAdjust);
    EXPECT_EQ(ReadyFlag.load(), 0) << "the verification was not started";
    EXPECT_EQ(FirstReceived(device, 6),
              (std::vector<std::uint8_t>{0xAA, 0xAA, 0x46, 0x00, 0xEB, 0x00}));

    ASSERT_TRUE(PumpUntilReady());
    EXPECT_EQ(Text(StatusLine), Utf8(row.status));
}

INSTANTIATE_TEST_SUITE_P(Table, AdjustInTheMainWindow, ::testing::ValuesIn(kVerdictRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
