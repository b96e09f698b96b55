#include "app/win32/dialog_template_builder.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "app/win32/dialog_font.h"
#include "resources/control_ids.h"

namespace {

// What the dialog manager reads back out of a built template.
struct ReadItem {
    std::uint32_t style = 0;
    int x = 0, y = 0, width = 0, height = 0;
    int identity = 0;
    std::uint16_t class_ordinal = 0;
    std::u16string text;
};

struct ReadTemplate {
    std::uint32_t style = 0;
    int width = 0, height = 0;
    std::u16string title;
    int point_size = 0;
    std::u16string face;
    std::vector<ReadItem> items;
};

class TemplateReader {
  public:
    explicit TemplateReader(const std::vector<std::uint16_t>& words) : words_(words) {}

    ReadTemplate Read() {
        ReadTemplate result;
        EXPECT_EQ(Word(), 1);
        EXPECT_EQ(Word(), 0xFFFF);
        DoubleWord();  // help identity
        DoubleWord();  // extended style
        result.style = DoubleWord();
        const int count = Word();
        Short();
        Short();
        result.width = Short();
        result.height = Short();
        EXPECT_EQ(Word(), 0) << "menu";
        EXPECT_EQ(Word(), 0) << "class";
        result.title = Text();
        result.point_size = Word();
        Word();  // weight
        Word();  // italic and character set
        result.face = Text();
        for (int i = 0; i < count; ++i) {
            if (at_ % 2 != 0) ++at_;
            ReadItem item;
            DoubleWord();
            DoubleWord();
            item.style = DoubleWord();
            item.x = Short();
            item.y = Short();
            item.width = Short();
            item.height = Short();
            item.identity = static_cast<int>(DoubleWord());
            EXPECT_EQ(Word(), 0xFFFF) << "class by ordinal";
            item.class_ordinal = Word();
            item.text = Text();
            EXPECT_EQ(Word(), 0) << "creation data";
            result.items.push_back(item);
        }
        EXPECT_EQ(at_, words_.size()) << "nothing after the last item";
        return result;
    }

  private:
    std::uint16_t Word() { return at_ < words_.size() ? words_[at_++] : 0; }
    int Short() { return static_cast<std::int16_t>(Word()); }
    std::uint32_t DoubleWord() {
        const std::uint32_t low = Word();
        return low | (static_cast<std::uint32_t>(Word()) << 16);
    }
    std::u16string Text() {
        std::u16string text;
        for (std::uint16_t unit = Word(); unit != 0; unit = Word())
            text += static_cast<char16_t>(unit);
        return text;
    }

    const std::vector<std::uint16_t>& words_;
    std::size_t at_ = 0;
};

ReadTemplate ReadMainWindow() {
    return TemplateReader(BuildDialogTemplate(MainWindowTemplate, u"Calibri")).Read();
}

const ReadItem* FindItem(const ReadTemplate& read, int identity) {
    for (const ReadItem& item : read.items) {
        if (item.identity == identity) return &item;
    }
    return nullptr;
}

TEST(DialogTemplateBuilder, TheMainWindowKeepsTheTableItsTitleItsFontAndEveryControlInOrder) {
    const ReadTemplate read = ReadMainWindow();
    EXPECT_EQ(read.style, static_cast<std::uint32_t>(DS_SETFONT | DS_MODALFRAME | DS_CENTER |
                                                     WS_POPUP | WS_CAPTION | WS_SYSMENU));
    EXPECT_EQ(read.width, 520);
    EXPECT_EQ(read.height, 301);
    EXPECT_EQ(read.title, u" Конфигуратор ТЕРМОКОННПК <Вельтаро>");
    EXPECT_EQ(read.point_size, 12);
    EXPECT_EQ(read.face, u"Calibri");
    ASSERT_EQ(read.items.size(), MainWindowTemplate.controls.size());
    for (std::size_t i = 0; i < read.items.size(); ++i) {
        const DialogControl& control = MainWindowTemplate.controls[i];
        const ReadItem& item = read.items[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(item.identity, control.identity);
        EXPECT_EQ(item.text, control.text);
        EXPECT_EQ(item.x, control.x);
        EXPECT_EQ(item.y, control.y);
        EXPECT_EQ(item.width, control.width);
        EXPECT_EQ(item.height, control.height);
    }
}

TEST(DialogTemplateBuilder, TheAccessDialogIsSmallInItsOwnFontAndTitledDialog) {
    const ReadTemplate read =
        TemplateReader(BuildDialogTemplate(AccessCodeTemplate, u"Microsoft Sans Serif")).Read();
    EXPECT_EQ(read.title, u"Dialog");
    EXPECT_EQ(read.width, 238);
    EXPECT_EQ(read.height, 64);
    EXPECT_EQ(read.point_size, 10);
    EXPECT_EQ(read.face, u"Microsoft Sans Serif");
    ASSERT_EQ(read.items.size(), 3u);
    EXPECT_EQ(read.items[1].style & (ES_PASSWORD | WS_TABSTOP | WS_BORDER),
              static_cast<std::uint32_t>(ES_PASSWORD | WS_TABSTOP | WS_BORDER));
    EXPECT_EQ(read.items[2].style & BS_TYPEMASK, static_cast<std::uint32_t>(BS_DEFPUSHBUTTON));
}

TEST(DialogTemplateBuilder, TheKeyboardStopsFollowTheTemplateAndSkipLabelsAndFrames) {
    const std::vector<int> expected{1,    1000, 1005, 1006, 1011, 1004, 1007, 1015, 1017,
                                    1018, 1019, 1021, 1020, 1022, 1026, 1025, 1027, 1047,
                                    1037, 1040, 1030, 1048, 1050, 1049, 1016, 2};
    std::vector<int> stops;
    for (const ReadItem& item : ReadMainWindow().items) {
        if (item.style & WS_TABSTOP) stops.push_back(item.identity);
    }
    EXPECT_EQ(stops, expected);
}

struct StyleCase {
    const char* what;
    int identity;
    std::uint16_t class_ordinal;
    std::uint32_t mask;
    std::uint32_t bits;
};

void PrintTo(const StyleCase& c, std::ostream* out) {
    *out << c.what;
}

class ControlStyle : public ::testing::TestWithParam<StyleCase> {};

TEST_P(ControlStyle, IsWhatTheTableAsksFor) {
    const ReadTemplate read = ReadMainWindow();
    const ReadItem* item = FindItem(read, GetParam().identity);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->class_ordinal, GetParam().class_ordinal);
    EXPECT_EQ(item->style & GetParam().mask, GetParam().bits) << std::hex << item->style;
}

constexpr std::uint32_t kEditBits =
    ES_READONLY | ES_MULTILINE | ES_CENTER | ES_PASSWORD | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;
constexpr std::uint32_t kButtonBits = BS_TYPEMASK | BS_MULTILINE | WS_TABSTOP;

INSTANTIATE_TEST_SUITE_P(
    MainWindow, ControlStyle,
    ::testing::Values(
        StyleCase{"the sensor type read back is a read-only, multi-line, centred box with a border",
                  kIdSensorTypeReadback, kEditClass, kEditBits,
                  ES_READONLY | ES_MULTILINE | ES_CENTER | WS_BORDER | WS_TABSTOP},
        StyleCase{"the status line is a read-only multi-line box, left-aligned", kIdStatusLine,
                  kEditClass, kEditBits, ES_READONLY | ES_MULTILINE | WS_BORDER | WS_TABSTOP},
        StyleCase{"the port name is a read-only one-line box", kIdPortNameBox, kEditClass,
                  kEditBits, ES_READONLY | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP},
        StyleCase{"a firmware version byte is a read-only box without a border", kIdVersionByte1,
                  kEditClass, kEditBits, ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP},
        StyleCase{"the upper limit is a box to type into", kIdUpperLimitEntry, kEditClass,
                  kEditBits, ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP},
        StyleCase{"the sensor type is a drop-down list without typing, scrolled when opened",
                  kIdSensorTypeList, kComboBoxClass, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP,
                  CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP},
        StyleCase{"Connect is a plain one-line button", kIdConnect, kButtonClass, kButtonBits,
                  BS_PUSHBUTTON | WS_TABSTOP},
        StyleCase{"Read is a default-look one-line button", kIdReadConfiguration, kButtonClass,
                  kButtonBits, BS_DEFPUSHBUTTON | WS_TABSTOP},
        StyleCase{"Unlock is a default-look button that wraps its caption", kIdUnlock, kButtonClass,
                  kButtonBits, BS_DEFPUSHBUTTON | BS_MULTILINE | WS_TABSTOP},
        StyleCase{"the firmware version button wraps its caption", kIdReadVersion, kButtonClass,
                  kButtonBits, BS_DEFPUSHBUTTON | BS_MULTILINE | WS_TABSTOP}));

struct LabelCase {
    const char* what;
    std::u16string_view text;
    std::uint16_t class_ordinal;
    std::uint32_t bits;
};

void PrintTo(const LabelCase& c, std::ostream* out) {
    *out << c.what;
}

class LabelStyle : public ::testing::TestWithParam<LabelCase> {};

TEST_P(LabelStyle, AlignsAsTheTableSaysAndTakesNoFocus) {
    const ReadTemplate read = ReadMainWindow();
    // Where two labels read the same, the later one in template order is meant.
    const ReadItem* found = nullptr;
    for (const ReadItem& item : read.items) {
        if (item.text == GetParam().text) found = &item;
    }
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->identity, -1);
    EXPECT_EQ(found->class_ordinal, GetParam().class_ordinal);
    EXPECT_EQ(found->style & (SS_TYPEMASK | WS_TABSTOP), GetParam().bits);
}

INSTANTIATE_TEST_SUITE_P(
    MainWindow, LabelStyle,
    ::testing::Values(LabelCase{"the port caption is left-aligned", u" Последовательный порт",
                                kStaticClass, SS_LEFT},
                      LabelCase{"the message caption is centred", u"сообщение", kStaticClass,
                                SS_CENTER},
                      LabelCase{"the left-hand sensor caption is left-aligned",
                                u"тип чувств элемента", kStaticClass, SS_LEFT},
                      LabelCase{"the read-back frame is a group box", u"посмотреть значение тока",
                                kButtonClass, BS_GROUPBOX}));

bool OnlyCarlito(std::u16string_view face) {
    return face == u"Carlito";
}
bool Nothing(std::u16string_view) {
    return false;
}
bool Everything(std::u16string_view) {
    return true;
}

TEST(DialogFont, TheTemplatesFaceWinsThenItsStandInThenTheTemplatesFaceForTheMapper) {
    EXPECT_EQ(ChooseFaceName(MainWindowTemplate, Everything), u"Calibri");
    EXPECT_EQ(ChooseFaceName(MainWindowTemplate, OnlyCarlito), u"Carlito");
    EXPECT_EQ(ChooseFaceName(MainWindowTemplate, Nothing), u"Calibri");
    EXPECT_EQ(ChooseFaceName(AccessCodeTemplate, Nothing), u"Microsoft Sans Serif");
}

}  // namespace
