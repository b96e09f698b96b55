// Every text of the program, written out here once more by hand, character for character, and
// compared with the one the program uses: a look-alike letter or a lost blank in the program's
// texts shows here even where the other tests compare through the program's own constants.
// Characters that are easy to mistake are written as escapes: U+3002 (the progress dots),
// U+FF0C (the full-width comma) and the Latin y (0x79) that ends one refusal.

#include "resources/texts.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <string_view>

namespace {

struct TextRow {
    const char* constant;
    std::u16string_view program;
    std::u16string_view written_out;
    friend void PrintTo(const TextRow& row, std::ostream* os) { *os << row.constant; }
};

#define TEXT_ROW(constant, written_out)         \
    TextRow {                                   \
#constant, texts::constant, written_out \
    }

const TextRow kTexts[] = {
    TEXT_ROW(kMainWindowTitle, u" Конфигуратор ТЕРМОКОННПК <Вельтаро>"),
    TEXT_ROW(kMessageCaption, u"Подсказка"),
    TEXT_ROW(
        kOpenFailed,
        u"Открыть последовательный порт%s Неудача\uFF0CПроверьте, занят ли последовательный порт"),
    TEXT_ROW(kPortOpened, u"Успешно открыть последовательный порт"),
    TEXT_ROW(kCannotReadSettings, u"Невозможно получить свойства последовательного порта"),
    TEXT_ROW(kCannotApplySettings, u"Не удалось установить параметры последовательного порта"),
    TEXT_ROW(kCannotApplyTimeouts, u"Не удалось установить время последовательного порта"),
    TEXT_ROW(kPortNotOpen, u"Последовательный порт не открыт"),
    TEXT_ROW(kSendFailed, u"Ошибка отправки данных"),
    TEXT_ROW(kDots2, u"\u3002\u3002"),
    TEXT_ROW(kDots3, u"\u3002\u3002\u3002"),
    TEXT_ROW(kDots4, u"\u3002\u3002\u3002\u3002"),
    TEXT_ROW(kDots5, u"\u3002\u3002\u3002\u3002\u3002"),
    TEXT_ROW(kDots8, u"\u3002\u3002\u3002\u3002\u3002\u3002\u3002\u3002"),
    TEXT_ROW(kSignPlus, u"+"),
    TEXT_ROW(kSignMinus, u"-"),
    TEXT_ROW(kFaultHigh, u"Ошибка высокого вывода"),
    TEXT_ROW(kFaultLow, u"Ошибка вывода низкая"),
    TEXT_ROW(kSensorRead420, u" 4-20mA  Датчик успешно считывает данные"),
    TEXT_ROW(kSensorRead020, u" 0-20mA  Датчик успешно считывает данные"),
    TEXT_ROW(kSensorReadNoOutputType, u"       Датчик успешно считывает данные"),
    TEXT_ROW(kSensorReadError, u"       Ошибка чтения данных датчика"),
    TEXT_ROW(kWriteDone, u"       Набор данных датчиков завершен"),
    TEXT_ROW(kWriteFailed, u"       Ошибка записи данных датчиков"),
    TEXT_ROW(kColdJunctionRead, u"       Данные холодного порта успешно прочитаны"),
    TEXT_ROW(kColdJunctionReadError, u"          Ошибка чтения данных из холодного порта"),
    TEXT_ROW(kAdjustFailedAbove, u" Ошибка калибровки данных холодного порта"),
    TEXT_ROW(kAdjustFailedBelow, u"Ошибка калибровки данных холодного порта"),
    TEXT_ROW(kAdjustSucceeded, u"Удачная калибровка данных холодного порта"),
    TEXT_ROW(kBadColdJunctionValue, u"Неверное значение температуры свободного конца"),
    TEXT_ROW(kVersionRead, u"       Версия успешно прочитана"),
    TEXT_ROW(kVersionReadError, u"Ошибка чтения без версии или версии"),
    TEXT_ROW(kUpperLimitRefused, u"Максимальная незаконность ввоза"),
    TEXT_ROW(kLowerLimitRefused, u"Минимальная незаконность ввоза"),
    TEXT_ROW(kLowerLimitRefusedPt100, u"Минимальная незаконность ввоза\x79"),
    TEXT_ROW(kNoSensorTypeSelected, u"Выберите тип чувствительного элемента"),
};

// Code points in hex, so that two texts that look alike can be told apart in a failure.
std::string CodeUnits(std::u16string_view text) {
    std::string out;
    for (char16_t unit : text) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%04X ", static_cast<unsigned>(unit));
        out += hex;
    }
    return out;
}

class TextsTest : public ::testing::TestWithParam<TextRow> {};

TEST_P(TextsTest, TheProgramUsesTheTextAsWrittenOut) {
    EXPECT_EQ(GetParam().program, GetParam().written_out)
        << "program:     " << CodeUnits(GetParam().program) << "\n"
        << "written out: " << CodeUnits(GetParam().written_out);
}

bool IsLatinLetter(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z');
}
bool IsCyrillicLetter(char16_t c) {
    return c >= 0x0400 && c <= 0x04FF;
}

// A Latin letter inside a Russian word looks the same and reads differently; the one word of
// the program that ends in a Latin y has it on purpose.
TEST_P(TextsTest, NoWordMixesLatinAndCyrillicLettersButTheOneThatShould) {
    int mixed_words = 0;
    bool latin = false;
    bool cyrillic = false;
    for (std::size_t i = 0; i <= GetParam().program.size(); ++i) {
        const char16_t c = i < GetParam().program.size() ? GetParam().program[i] : u' ';
        if (IsLatinLetter(c)) {
            latin = true;
        } else if (IsCyrillicLetter(c)) {
            cyrillic = true;
        } else {
            if (latin && cyrillic) ++mixed_words;
            latin = cyrillic = false;
        }
    }
    const bool should_mix = std::string_view(GetParam().constant) == "kLowerLimitRefusedPt100";
    EXPECT_EQ(mixed_words, should_mix ? 1 : 0) << CodeUnits(GetParam().program);
}

INSTANTIATE_TEST_SUITE_P(Every, TextsTest, ::testing::ValuesIn(kTexts),
                         [](const auto& info) { return std::string(info.param.constant); });

// A text added to the program without a row here would escape the comparison above.
TEST(TextsTable, HasARowForEveryTextOfTheProgram) {
    std::ifstream header(TEXTS_HEADER);
    ASSERT_TRUE(header) << TEXTS_HEADER;
    const std::string source{std::istreambuf_iterator<char>(header),
                             std::istreambuf_iterator<char>()};
    const std::regex declaration(R"(std::u16string_view\s+(\w+)\s*=)");
    std::set<std::string> declared;
    for (std::sregex_iterator it(source.begin(), source.end(), declaration), end; it != end; ++it)
        declared.insert((*it)[1]);

    std::set<std::string> rows;
    for (const TextRow& row : kTexts) rows.insert(row.constant);
    EXPECT_FALSE(declared.empty());
    EXPECT_EQ(declared, rows);
}

}  // namespace
