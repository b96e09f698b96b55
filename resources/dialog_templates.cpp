#include "resources/dialog_templates.h"

#include <array>

#include "resources/control_ids.h"
#include "resources/texts.h"

namespace {

using K = ControlKind;

// Template order. Group frames come before the controls they surround, captions just before
// the box or list they name.
constexpr std::array kMainWindowControls{
    DialogControl{kNoIdentity, K::kGroupFrame, u"Настройка(Тип)", 262, 20, 248, 179, kNoFlags, {}},
    DialogControl{kIdConfigure, K::kDefaultButton, u"Настройка", 435, 74, 52, 38, kNoFlags, {}},
    DialogControl{kNoIdentity, K::kLabel, u"тип чувств элемента", 270, 40, 78, 19, kNoFlags, {}},
    DialogControl{kIdSensorTypeList, K::kList, {}, 356, 41, 58, 70, kNoFlags,
                  u"Тип чувствительного элемента"},
    DialogControl{kNoIdentity, K::kLabel, u"Тип экспорта", 273, 66, 72, 10, kNoFlags, {}},
    DialogControl{kIdOutputTypeList, K::kList, {}, 357, 65, 59, 70, kNoFlags, u"Тип экспорта"},
    DialogControl{kNoIdentity, K::kLabel, u"Ошибка вывода", 278, 91, 64, 9, kNoFlags, {}},
    DialogControl{kIdFaultLevelList, K::kList, {}, 357, 89, 60, 70, kNoFlags, u"Ошибка вывода"},
    DialogControl{kNoIdentity, K::kLabel, u" Последовательный порт", 24, 22, 85, 8, kLeftAligned, {}},
    DialogControl{kIdConnect, K::kButton, u" Подключение", 167, 22, 53, 14, kNoFlags, {}},
    DialogControl{kNoIdentity, K::kLabel, u"введите макс значение", 266, 113, 85, 21, kNoFlags, {}},
    DialogControl{kIdUpperLimitEntry, K::kEdit, {}, 357, 114, 60, 13, kNoFlags,
                  u"Максимальное значение"},
    DialogControl{kNoIdentity, K::kLabel, u"введите мин значение", 268, 137, 80, 21, kNoFlags, {}},
    DialogControl{kIdLowerLimitEntry, K::kEdit, {}, 390, 139, 39, 13, kNoFlags,
                  u"Минимальное значение"},
    DialogControl{kIdLowerSignList, K::kList, {}, 358, 139, 26, 48, kNoFlags,
                  u"Знак минимального значения"},
    DialogControl{kNoIdentity, K::kGroupFrame, u"посмотреть значение тока", 21, 45, 199, 95, kNoFlags, {}},
    DialogControl{kNoIdentity, K::kLabel, u"тип чувств элемента", 36, 63, 68, 10, kLeftAligned, {}},
    DialogControl{kIdSensorTypeReadback, K::kReadOnlyEdit, {}, 105, 60, 103, 15, kMultiLine | kCentred,
                  u"Тип чувствительного элемента, прочитанный из прибора"},
    DialogControl{kNoIdentity, K::kLabel, u"сообщение", 90, 185, 42, 8, kNoFlags, {}},
    DialogControl{kIdStatusLine, K::kReadOnlyEdit, {}, 21, 209, 200, 14, kMultiLine, u"Сообщение"},
    DialogControl{kIdDetailLine, K::kReadOnlyEdit, {}, 21, 194, 200, 14, kMultiLine,
                  u"Сообщение, подробности"},
    DialogControl{kIdReadConfiguration, K::kDefaultButton, u"Читать", 85, 113, 75, 19, kNoFlags, {}},
    DialogControl{kNoIdentity, K::kLabel, u"мин", 137, 92, 13, 8, kLeftAligned, {}},
    DialogControl{kIdLowerLimitReadback, K::kReadOnlyEdit, {}, 178, 83, 30, 23, kMultiLine,
                  u"Минимальное значение, прочитанное из прибора"},
    DialogControl{kNoIdentity, K::kLabel, u"макс", 40, 91, 21, 8, kLeftAligned, {}},
    DialogControl{kIdUpperLimitReadback, K::kReadOnlyEdit, {}, 90, 83, 31, 23, kMultiLine,
                  u"Максимальное значение, прочитанное из прибора"},
    DialogControl{kIdPortNameBox, K::kReadOnlyEdit, {}, 112, 22, 50, 14, kNoFlags,
                  u"Последовательный порт"},
    DialogControl{kIdUpperSignReadback, K::kReadOnlyEdit, {}, 68, 83, 20, 23, kMultiLine,
                  u"Знак максимального значения, прочитанный из прибора"},
    DialogControl{kIdLowerSignReadback, K::kReadOnlyEdit, {}, 156, 83, 20, 23, kMultiLine,
                  u"Знак минимального значения, прочитанный из прибора"},
    DialogControl{kNoIdentity, K::kLabel, u"температура\r свободного  конца", 261, 230, 67, 17, kNoFlags, {}},
    DialogControl{kIdColdJunctionTemperature, K::kEdit, {}, 331, 232, 26, 14, kNoFlags,
                  u"Температура свободного конца"},
    DialogControl{kIdReadColdJunction, K::kDefaultButton, u"посмотреть", 360, 228, 47, 21, kNoFlags, {}},
    DialogControl{kIdAdjust, K::kDefaultButton, u"юстировать", 411, 228, 58, 21, kNoFlags, {}},
    DialogControl{kIdReadVersion, K::kDefaultButton, u"посмотреть версию ПО", 113, 151, 85, 23, kNoFlags, {}},
    DialogControl{kIdVersionByte0, K::kReadOnlyEdit, {}, 47, 155, 10, 14, kNoBorder,
                  u"Номер версии ПО, первый байт"},
    DialogControl{kNoIdentity, K::kLabel, u".", 60, 160, 8, 8, kNoFlags, {}},
    DialogControl{kIdVersionByte1, K::kReadOnlyEdit, {}, 70, 155, 11, 15, kNoBorder,
                  u"Номер версии ПО, второй байт"},
    DialogControl{kNoIdentity, K::kLabel, u".", 85, 159, 8, 8, kNoFlags, {}},
    DialogControl{kIdVersionByte2, K::kReadOnlyEdit, {}, 95, 155, 12, 14, kNoBorder,
                  u"Номер версии ПО, третий байт"},
    DialogControl{kNoIdentity, K::kLabel, u"Холодный порт", 284, 169, 55, 10, kNoFlags, {}},
    DialogControl{kIdColdJunctionCompensationList, K::kList, {}, 356, 168, 61, 48, kNoFlags,
                  u"Компенсация холодного спая"},
    DialogControl{kIdUnlock, K::kDefaultButton, u"Разблокировать UART", 429, 32, 61, 31, kNoFlags, {}},
    DialogControl{kNoIdentity, K::kLabel, {}, 100, 5, 124, 11, kNoFlags, {}},
};

constexpr std::array kAccessCodeControls{
    DialogControl{kNoIdentity, K::kLabel, u"Password", 53, 16, 37, 13, kNoFlags, {}},
    DialogControl{kIdAccessCodeEntry, K::kPasswordEdit, {}, 94, 14, 64, 16, kNoFlags, u"Password"},
    DialogControl{kIdAccessCodeEnter, K::kDefaultButton, u"Enter", 164, 7, 40, 25, kNoFlags, {}},
};

// The index of an entry is what the rest of the program reads, so the order is fixed.
constexpr std::array<std::u16string_view, 9> kSensorTypes{
    u"Wre5-26 ТП ", u"pt100 ТС", u"S ТП ",   u"K ТП ", u"T ТП ",
    u"      ",      u"Cu50 ТС",  u"N ТП ", u"J ТП ",
};
constexpr std::array<std::u16string_view, 2> kColdJunctionCompensation{u"Да.", u"Нет!"};
constexpr std::array<std::u16string_view, 2> kOutputTypes{u"4-20mA", u"0-20mA"};
constexpr std::array<std::u16string_view, 2> kFaultLevels{u"Высокий", u"Низкий"};
constexpr std::array<std::u16string_view, 2> kLowerLimitSigns{u"+", u"-"};

constexpr std::array kMainWindowListContents{
    ListContents{kIdSensorTypeList, kSensorTypes},
    ListContents{kIdColdJunctionCompensationList, kColdJunctionCompensation},
    ListContents{kIdOutputTypeList, kOutputTypes},
    ListContents{kIdFaultLevelList, kFaultLevels},
    ListContents{kIdLowerSignList, kLowerLimitSigns},
};

}  // namespace

constinit const DialogTemplate MainWindowTemplate{
    kMainWindowTemplateId, 520, 301, texts::kMainWindowTitle, u"Calibri", u"Carlito", 12,
    kMainWindowControls,
};

constinit const DialogTemplate AccessCodeTemplate{
    kAccessCodeTemplateId, 238, 64, u"Dialog", u"Microsoft Sans Serif", u"Liberation Sans", 10,
    kAccessCodeControls,
};

constinit const std::span<const ListContents> MainWindowLists{kMainWindowListContents};
