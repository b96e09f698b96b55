#pragma once

#include <string_view>

// Every text the program writes into its windows, exactly as the technician sees it.
// Leading blanks, the full-width comma and the ideographic full stops are deliberate.

namespace texts {

inline constexpr std::u16string_view kMainWindowTitle = u" Конфигуратор ТЕРМОКОННПК <Вельтаро>";
inline constexpr std::u16string_view kMessageCaption = u"Подсказка";

// Opening and sending. The open failure's "%s" is replaced by the port name.
inline constexpr std::u16string_view kOpenFailed =
    u"Открыть последовательный порт%s Неудача，Проверьте, занят ли последовательный порт";
inline constexpr std::u16string_view kPortOpened = u"Успешно открыть последовательный порт";
inline constexpr std::u16string_view kCannotReadSettings =
    u"Невозможно получить свойства последовательного порта";
inline constexpr std::u16string_view kCannotApplySettings =
    u"Не удалось установить параметры последовательного порта";
inline constexpr std::u16string_view kCannotApplyTimeouts =
    u"Не удалось установить время последовательного порта";
inline constexpr std::u16string_view kPortNotOpen = u"Последовательный порт не открыт";
inline constexpr std::u16string_view kSendFailed = u"Ошибка отправки данных";

// Progress dots shown in the status line while an operation waits.
inline constexpr std::u16string_view kDots2 = u"。。";
inline constexpr std::u16string_view kDots3 = u"。。。";
inline constexpr std::u16string_view kDots4 = u"。。。。";
inline constexpr std::u16string_view kDots5 = u"。。。。。";
inline constexpr std::u16string_view kDots8 = u"。。。。。。。。";

// Read configuration
inline constexpr std::u16string_view kSignPlus = u"+";
inline constexpr std::u16string_view kSignMinus = u"-";
inline constexpr std::u16string_view kFaultHigh = u"Ошибка высокого вывода";
inline constexpr std::u16string_view kFaultLow = u"Ошибка вывода низкая";
inline constexpr std::u16string_view kSensorRead420 = u" 4-20mA  Датчик успешно считывает данные";
inline constexpr std::u16string_view kSensorRead020 = u" 0-20mA  Датчик успешно считывает данные";
// Shown for a short (11-byte) reply, which carries no output type.
inline constexpr std::u16string_view kSensorReadNoOutputType = u"       Датчик успешно считывает данные";
inline constexpr std::u16string_view kSensorReadError = u"       Ошибка чтения данных датчика";

// Write configuration
inline constexpr std::u16string_view kWriteDone = u"       Набор данных датчиков завершен";
inline constexpr std::u16string_view kWriteFailed = u"       Ошибка записи данных датчиков";

// Cold junction
inline constexpr std::u16string_view kColdJunctionRead = u"       Данные холодного порта успешно прочитаны";
inline constexpr std::u16string_view kColdJunctionReadError =
    u"          Ошибка чтения данных из холодного порта";
inline constexpr std::u16string_view kAdjustFailedAbove = u" Ошибка калибровки данных холодного порта";
inline constexpr std::u16string_view kAdjustFailedBelow = u"Ошибка калибровки данных холодного порта";
inline constexpr std::u16string_view kAdjustSucceeded = u"Удачная калибровка данных холодного порта";
inline constexpr std::u16string_view kBadColdJunctionValue =
    u"Неверное значение температуры свободного конца";

// Firmware version
inline constexpr std::u16string_view kVersionRead = u"       Версия успешно прочитана";
inline constexpr std::u16string_view kVersionReadError = u"Ошибка чтения без версии или версии";

// Configuration entry
inline constexpr std::u16string_view kUpperLimitRefused = u"Максимальная незаконность ввоза";
inline constexpr std::u16string_view kLowerLimitRefused = u"Минимальная незаконность ввоза";
inline constexpr std::u16string_view kLowerLimitRefusedPt100 = u"Минимальная незаконность ввозаy";
inline constexpr std::u16string_view kNoSensorTypeSelected = u"Выберите тип чувствительного элемента";

}  // namespace texts
