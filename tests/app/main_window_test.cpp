#include "app/qt/main_window.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QTextEdit>
#include <QTimer>
#include <string>
#include <vector>

#include "app/qt/dialog_builder.h"
#include "resources/control_ids.h"
#include "resources/texts.h"
#include "serial/device_path.h"
#include "tests/app/widget_fixture.h"

namespace {

enum class Kind { kButton, kList, kEntryBox, kReadOnlyBox };

struct ControlRow {
    int identity;
    Kind kind;
    std::u16string_view text;
};

// In keyboard order: Tab from each row reaches the next, and from the last the first.
const ControlRow kFocusableControls[] = {
    {1, Kind::kButton, u"Настройка"},
    {1000, Kind::kList, u""},
    {1005, Kind::kList, u""},
    {1006, Kind::kList, u""},
    {1011, Kind::kButton, u" Подключение"},
    {1004, Kind::kEntryBox, u""},
    {1007, Kind::kEntryBox, u""},
    {1015, Kind::kList, u""},
    {1017, Kind::kReadOnlyBox, u""},
    {1018, Kind::kReadOnlyBox, u""},
    {1019, Kind::kReadOnlyBox, u""},
    {1021, Kind::kButton, u"Читать"},
    {1020, Kind::kReadOnlyBox, u""},
    {1022, Kind::kReadOnlyBox, u""},
    {1026, Kind::kReadOnlyBox, u""},
    {1025, Kind::kReadOnlyBox, u""},
    {1027, Kind::kReadOnlyBox, u""},
    {1047, Kind::kEntryBox, u""},
    {1037, Kind::kButton, u"посмотреть"},
    {1040, Kind::kButton, u"юстировать"},
    {1030, Kind::kButton, u"посмотреть версию ПО"},
    {1048, Kind::kReadOnlyBox, u""},
    {1050, Kind::kReadOnlyBox, u""},
    {1049, Kind::kReadOnlyBox, u""},
    {1016, Kind::kList, u""},
    {2, Kind::kButton, u"Разблокировать UART"},
};

bool IsKind(QWidget* widget, Kind kind) {
    switch (kind) {
        case Kind::kButton:
            return qobject_cast<QPushButton*>(widget) != nullptr;
        case Kind::kList: {
            auto* list = qobject_cast<QComboBox*>(widget);
            return list != nullptr && !list->isEditable();
        }
        case Kind::kEntryBox: {
            auto* box = qobject_cast<QLineEdit*>(widget);
            return box != nullptr && !box->isReadOnly();
        }
        case Kind::kReadOnlyBox: {
            if (auto* box = qobject_cast<QLineEdit*>(widget)) return box->isReadOnly();
            if (auto* box = qobject_cast<QTextEdit*>(widget)) return box->isReadOnly();
            return false;
        }
    }
    return false;
}

int IdentityOf(const QWidget* widget) {
    if (widget == nullptr || !widget->objectName().startsWith(QLatin1String("id_"))) return 0;
    return widget->objectName().mid(3).toInt();
}

class MainWindowTest : public WidgetFixture {
  protected:
    // Shown and active, as the technician finds it.
    void ShowActive() {
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }

    template <typename Widget>
    Widget* ControlAs(int identity) {
        return qobject_cast<Widget*>(window.Control(identity));
    }

    MainWindow window;
};

TEST_F(MainWindowTest, EveryControlHasItsKindTextAndPlaceInTheKeyboardOrder) {
    ShowActive();
    for (const ControlRow& row : kFocusableControls) {
        SCOPED_TRACE(row.identity);
        QWidget* control = window.Control(row.identity);
        ASSERT_NE(control, nullptr);
        EXPECT_TRUE(IsKind(control, row.kind));
        EXPECT_EQ(window.GetItemText(row.identity, 256), row.text);
    }

    std::vector<int> visited;
    for (std::size_t step = 0; step <= std::size(kFocusableControls); ++step) {
        visited.push_back(IdentityOf(QApplication::focusWidget()));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    std::vector<int> expected;
    for (const ControlRow& row : kFocusableControls) expected.push_back(row.identity);
    expected.push_back(kFocusableControls[0].identity);
    EXPECT_EQ(visited, expected);
}

TEST_F(MainWindowTest, TheWindowOpensWithItsTitleAndTheFocusOnConfigure) {
    EXPECT_EQ(ToU16(window.windowTitle()), texts::kMainWindowTitle);
    EXPECT_EQ(window.font().pointSize(), 12);
    ShowActive();
    EXPECT_EQ(IdentityOf(QApplication::focusWidget()), kIdConfigure);
}

struct LabelRow {
    QString text;
    bool on_the_left_half;  // tells apart the two "тип чувств элемента"
    Qt::Alignment alignment;
};

TEST_F(MainWindowTest, CaptionsAreCentredExceptThePortMaxMinAndLeftSensorType) {
    const LabelRow rows[] = {
        {QStringLiteral(" Последовательный порт"), true, Qt::AlignLeft},
        {QStringLiteral("макс"), true, Qt::AlignLeft},
        {QStringLiteral("мин"), true, Qt::AlignLeft},
        {QStringLiteral("тип чувств элемента"), true, Qt::AlignLeft},
        {QStringLiteral("тип чувств элемента"), false, Qt::AlignHCenter},
        {QStringLiteral("сообщение"), true, Qt::AlignHCenter},
        {QStringLiteral("Тип экспорта"), false, Qt::AlignHCenter},
        {QStringLiteral("Ошибка вывода"), false, Qt::AlignHCenter},
        {QStringLiteral("введите макс значение"), false, Qt::AlignHCenter},
        {QStringLiteral("введите мин значение"), false, Qt::AlignHCenter},
        {QStringLiteral("Холодный порт"), false, Qt::AlignHCenter},
        // The carriage return of the template text is drawn as a line break.
        {QStringLiteral("температура\n свободного  конца"), false, Qt::AlignHCenter},
    };
    const QList<QLabel*> labels = window.findChildren<QLabel*>();
    for (const LabelRow& row : rows) {
        SCOPED_TRACE(row.text.toStdString());
        int found = 0;
        for (const QLabel* label : labels) {
            const bool left_half = label->geometry().center().x() < window.width() / 2;
            if (label->text() != row.text || left_half != row.on_the_left_half) continue;
            ++found;
            EXPECT_EQ(label->alignment() & Qt::AlignHorizontal_Mask, row.alignment);
        }
        EXPECT_EQ(found, 1);
    }
    QStringList frames;
    for (const QGroupBox* frame : window.findChildren<QGroupBox*>()) frames << frame->title();
    frames.sort();
    EXPECT_EQ(frames, (QStringList{QStringLiteral("Настройка(Тип)"),
                                   QStringLiteral("посмотреть значение тока")}));
}

TEST_F(MainWindowTest, ClosedListsAreOneLineHighAndNoTwoControlsOverlap) {
    for (const ControlRow& row : kFocusableControls) {
        QWidget* control = window.Control(row.identity);
        SCOPED_TRACE(row.identity);
        if (row.kind == Kind::kList) {
            EXPECT_LT(control->height(), 2 * control->fontMetrics().height());
        }
        for (const ControlRow& other : kFocusableControls) {
            if (other.identity == row.identity) continue;
            EXPECT_FALSE(control->geometry().intersects(window.Control(other.identity)->geometry()))
                << "overlaps " << other.identity;
        }
    }
}

struct ListRow {
    int identity;
    std::vector<std::u16string> entries;
};

TEST_F(MainWindowTest, ListsHoldTheirEntriesInOrderAndNoneIsSelected) {
    const ListRow rows[] = {
        {1000,
         {u"Wre5-26 ТП ", u"pt100 ТС", u"S ТП ", u"K ТП ", u"T ТП ", u"      ", u"Cu50 ТС",
          u"N ТП ", u"J ТП "}},
        {1016, {u"Да.", u"Нет!"}},
        {1005, {u"4-20mA", u"0-20mA"}},
        {1006, {u"Высокий", u"Низкий"}},
        {1015, {u"+", u"-"}},
    };
    for (const ListRow& row : rows) {
        SCOPED_TRACE(row.identity);
        auto* list = ControlAs<QComboBox>(row.identity);
        ASSERT_NE(list, nullptr);
        std::vector<std::u16string> entries;
        for (int index = 0; index < list->count(); ++index) {
            entries.push_back(ToU16(list->itemText(index)));
        }
        EXPECT_EQ(entries, row.entries);
        EXPECT_EQ(window.GetListSelection(row.identity), -1);
        EXPECT_EQ(window.GetItemText(row.identity, 256), u"");
    }
}

TEST_F(MainWindowTest, EscapeGivesTheCancelCommandAndTheWindowStays) {
    RecordCommandsOf<kIdUnlock>();
    ShowActive();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_EQ(DispatchedIdentities(), std::vector<int>{kIdUnlock});
    EXPECT_TRUE(window.isVisible());
}

struct CloseRow {
    std::uint8_t ready;
    std::vector<int> dispatched;
};

TEST_F(MainWindowTest, ClosingGivesTheCancelCommandWhenIdleAndEndsTheRunEitherWay) {
    const CloseRow rows[] = {{1, {kIdUnlock}}, {0, {}}};
    for (const CloseRow& row : rows) {
        SCOPED_TRACE(row.ready);
        DispatchedCommands().clear();
        MainWindow closing;
        RecordCommandsOf<kIdUnlock>();
        ReadyFlag = row.ready;
        QTimer::singleShot(0, &closing, [&closing] { closing.close(); });
        closing.exec();
        ReadyFlag = 1;
        EXPECT_EQ(DispatchedIdentities(), row.dispatched);
        EXPECT_FALSE(closing.isVisible());
    }
}

TEST_F(MainWindowTest, AClickWhileAnOperationRunsIsLostNotReplayedLater) {
    RecordCommandsOf<1, 2, 1011, 1021, 1030, 1037, 1040>();
    ShowActive();
    for (int identity : {1, 2, 1011, 1021, 1030, 1037, 1040}) {
        SCOPED_TRACE(identity);
        DispatchedCommands().clear();
        ReadyFlag = 0;
        QTest::mouseClick(window.Control(identity), Qt::LeftButton);
        ReadyFlag = 1;
        QApplication::processEvents();
        EXPECT_TRUE(DispatchedCommands().empty());
        QTest::mouseClick(window.Control(identity), Qt::LeftButton);
        EXPECT_EQ(DispatchedIdentities(), std::vector<int>{identity});
    }
}

TEST_F(MainWindowTest, EveryTextChangeOfAnEntryBoxReachesTheDispatcher) {
    RecordCommandsOf<1004, 1007, 1047>();
    ShowActive();
    for (int identity : {1004, 1007, 1047}) {
        SCOPED_TRACE(identity);
        DispatchedCommands().clear();
        QTest::keyClicks(window.Control(identity), QStringLiteral("-12"));
        const std::vector<DispatchedCommand> expected{
            {identity, u"-"}, {identity, u"-1"}, {identity, u"-12"}};
        EXPECT_EQ(DispatchedCommands(), expected);
    }
}

TEST_F(MainWindowTest, APickInAListReachesTheDispatcherAndIsReadAsItsIndex) {
    RecordCommandsOf<1000, 1015>();
    ShowActive();
    auto* list = ControlAs<QComboBox>(1000);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Down);
    const std::vector<DispatchedCommand> expected{{1000, u"Wre5-26 ТП "}, {1000, u"pt100 ТС"}};
    EXPECT_EQ(DispatchedCommands(), expected);
    EXPECT_EQ(window.GetListSelection(1000), 1);
    EXPECT_EQ(window.GetListSelection(1015), -1);
}

struct TextRow {
    int identity;
    std::u16string written;
    std::size_t capacity;
    std::u16string read;
};

TEST_F(MainWindowTest, BoxesGiveBackWhatWasWrittenUpToTheCapacityAsked) {
    const TextRow rows[] = {
        {kIdStatusLine, u"первая\r\nвторая", 256, u"первая\r\nвторая"},
        {kIdDetailLine, std::u16string(texts::kFaultHigh), 256, std::u16string(texts::kFaultHigh)},
        {kIdSensorTypeReadback, u"K ТП ", 256, u"K ТП "},
        {kIdPortNameBox, u"/dev/ttyS0", 256, u"/dev/ttyS0"},
        {kIdColdJunctionTemperature, u"23.571234567890123456789", 20, u"23.57123456789012345"},
        {kIdVersionByte0, u"12", 1, u"1"},
        {kIdUpperLimitEntry, u"", 256, u""},
    };
    for (const TextRow& row : rows) {
        SCOPED_TRACE(row.identity);
        window.SetItemText(row.identity, row.written);
        EXPECT_EQ(window.GetItemText(row.identity, row.capacity), row.read);
    }
    // A write replaces the whole text, lines and all.
    window.SetItemText(kIdStatusLine, u"x");
    EXPECT_EQ(ControlAs<QTextEdit>(kIdStatusLine)->toPlainText(), QStringLiteral("x"));
}

// ---------------------------------------------------------------------------------------------
// Box 1026 is 50 dialog units wide: the port's name must show whole there, not scrolled.

struct PortNameRow {
    const char* name;
    std::string device_path;  // as the platform lists the port
    std::u16string shown;
    friend void PrintTo(const PortNameRow& row, std::ostream* os) { *os << row.name; }
};

class PortNameBoxTest : public MainWindowTest, public ::testing::WithParamInterface<PortNameRow> {
  protected:
    // The width a line edit gives its text: its contents less the text margins and the two
    // pixels the line edit keeps free on each side.
    static int TextRoom(const QLineEdit& box) {
        QStyleOptionFrame option;
        option.initFrom(&box);
        option.rect = box.rect();
        option.lineWidth =
            box.hasFrame() ? box.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, &box)
                           : 0;
        const QRect contents =
            box.style()->subElementRect(QStyle::SE_LineEditContents, &option, &box);
        const QMargins margins = box.textMargins();
        return contents.width() - margins.left() - margins.right() - 2 * 2;
    }
};

TEST_P(PortNameBoxTest, TheNameShowsWholeInTheBox) {
    ShowActive();
    SetPortName(PortNameFromDevicePath(GetParam().device_path));
    window.SetItemText(kIdPortNameBox, PortNameView());

    const QLineEdit* box = ControlAs<QLineEdit>(kIdPortNameBox);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(box->text().toStdString(), QString::fromStdU16String(GetParam().shown).toStdString());
    const int needed = box->fontMetrics().horizontalAdvance(box->text());
    EXPECT_LE(needed, TextRoom(*box)) << "the box is " << box->width() << " px wide";
}

INSTANTIATE_TEST_SUITE_P(
    Ports, PortNameBoxTest,
    ::testing::Values(PortNameRow{"UsbAdapterTen", "/dev/ttyUSB10", u"ttyUSB10"},
                      PortNameRow{"AcmAdapterTen", "/dev/ttyACM10", u"ttyACM10"},
                      PortNameRow{"BuiltInUartTen", "/dev/ttyS10", u"ttyS10"},
                      PortNameRow{"WindowsPort", "COM12", u"COM12"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
