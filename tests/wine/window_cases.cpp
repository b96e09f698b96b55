// The end-to-end cases of the main window. The wire lines are what the simulated transmitter
// logs per message, without its time stamp: the bytes it received, the bytes it replied, and
// what it made of them.

#include <string_view>
#include <vector>

#include "resources/control_ids.h"
#include "resources/texts.h"
#include "tests/wine/window_case.h"

namespace e2e {
namespace {

constexpr std::string_view kUnlock = "in: AA AA  out: -  unlock";
constexpr std::string_view kVersion103 = "in: 43  out: 01 00 03  read version -> 1.0.3";
constexpr std::string_view kVersion102 = "in: 43  out: 01 00 02  read version -> 1.0.2";
constexpr std::string_view kVersion100 = "in: 43  out: 01 00 00  read version -> 1.0.0";
constexpr std::string_view kVersion210 = "in: 43  out: 02 01 00  read version -> 2.1.0";
constexpr std::string_view kColdJunction234 = "in: 45  out: 00 EA  read cold junction -> 23.4";
constexpr std::string_view kAdjustTo235 = "in: 46 00 EB 00  out: -  adjust cold junction to 23.5";

// The transmitter's stored configuration: K, -50 ... 300, 4-20 mA, high fault level.
constexpr std::u16string_view kReadbackK = u"Датчик:K Тип ТП \r\n";

using V = std::vector<Step>;

const WindowCase kCases[] = {
    {"ConnectShowsThePortAndTheVersion",
     "--version 1.0.3",
     V{Click(kIdConnect), Status(texts::kVersionRead), Shows(kIdPortNameBox, kThePort),
       Shows(kIdVersionByte0, u"1"), Shows(kIdVersionByte1, u"0"), Shows(kIdVersionByte2, u"3"),
       Shows(DetailLine, texts::kPortOpened), NoDialog()},
     {kUnlock, kVersion103}},
    {"VersionButtonReadsTheVersion",
     "--version 2.1.0",
     V{Click(kIdReadVersion), Status(texts::kVersionRead), Shows(kIdVersionByte0, u"2"),
       Shows(kIdVersionByte1, u"1"), Shows(kIdVersionByte2, u"0")},
     {kUnlock, kVersion210}},
    {"ReadAfterConnectTakesTheFourteenByteReply",
     "--version 1.0.3",
     V{Click(kIdConnect), Status(texts::kVersionRead), Click(kIdReadConfiguration),
       Status(texts::kSensorRead420), Shows(kIdSensorTypeReadback, kReadbackK),
       Shows(kIdUpperSignReadback, u"+"), Shows(kIdUpperLimitReadback, u"300"),
       Shows(kIdLowerSignReadback, u"-"), Shows(kIdLowerLimitReadback, u"50"),
       Shows(DetailLine, texts::kFaultHigh)},
     {kUnlock, kVersion103, kUnlock,
      "in: 42  out: 44 03 01 5E 80 32 01 00 00 00 00 00 01 00  read configuration -> 14 bytes"}},
    {"ReadAfterConnectTakesTheThirteenByteReply",
     "--version 1.0.2",
     V{Click(kIdConnect), Status(texts::kVersionRead), Click(kIdReadConfiguration),
       Status(texts::kSensorRead420), Shows(kIdSensorTypeReadback, kReadbackK),
       Shows(kIdUpperLimitReadback, u"300"), Shows(kIdLowerSignReadback, u"-"),
       Shows(kIdLowerLimitReadback, u"50"), Shows(DetailLine, texts::kFaultHigh)},
     {kUnlock, kVersion102, kUnlock,
      "in: 42  out: 44 03 01 5E 80 32 01 00 00 00 00 00 01  read configuration -> 13 bytes"}},
    {"ReadAfterConnectTakesTheElevenByteReplyWithoutOutputType",
     "--version 1.0.0",
     V{Click(kIdConnect), Status(texts::kVersionRead), Click(kIdReadConfiguration),
       Status(texts::kSensorReadNoOutputType), Shows(kIdSensorTypeReadback, kReadbackK),
       Shows(kIdUpperLimitReadback, u"300"), Shows(kIdLowerSignReadback, u"-"),
       Shows(kIdLowerLimitReadback, u"50"), Shows(DetailLine, texts::kPortOpened)},
     {kUnlock, kVersion100, kUnlock,
      "in: 42  out: 44 03 01 5E 80 32 01 00 00 00 00  read configuration -> 11 bytes"}},
    {"ColdJunctionIsShownWithItsTenths",
     "",
     V{Click(kIdReadColdJunction), Status(texts::kColdJunctionRead),
       Shows(kIdColdJunctionTemperature, u"23.4")},
     {kUnlock, kColdJunction234}},
    {"ColdJunctionOfMinusTwentyKeepsItsPoint",
     "--cold-junction -20",
     V{Click(kIdReadColdJunction), Status(texts::kColdJunctionRead),
       Shows(kIdColdJunctionTemperature, u"-20.")},
     {kUnlock, "in: 45  out: FF 38  read cold junction -> -20.0"}},
    // After the program's 500 ms wait but inside its 540 ms read time-out.
    {"ColdJunctionReplyAfterTheWaitButInTimeIsShown",
     "--cold-junction 25.5 --late-reply-ms 505",
     V{Click(kIdReadColdJunction), Status(texts::kColdJunctionRead),
       Shows(kIdColdJunctionTemperature, u"25.5")},
     {kUnlock, "in: 45  out: 00 FF  read cold junction -> 25.5 (fault: late reply)"}},
    {"ConfigureWritesKFromMinus50To300",
     "",
     V{Pick(kIdSensorTypeList, 3), Type(kIdUpperLimitEntry, u"300"), Pick(kIdLowerSignList, 1),
       Type(kIdLowerLimitEntry, u"50"), Pick(kIdOutputTypeList, 1), Pick(kIdFaultLevelList, 0),
       Pick(kIdColdJunctionCompensationList, 1), Click(kIdConfigure), Status(texts::kWriteDone),
       Shows(DetailLine, texts::kPortOpened), NoDialog()},
     {kUnlock,
      "in: 44 03 01 5E 80 32 01 00 00 00 00 01 01 01  out: -  write configuration: sensor 3 "
      "upper 0x015E lower 0x8032 output 1 fault 1 cj 1"}},
    {"ConfigureRefusesAnUpperLimitWithLettersBeforeOpeningThePort",
     "",
     V{Pick(kIdSensorTypeList, 3), Type(kIdUpperLimitEntry, u"300a"), Pick(kIdLowerSignList, 0),
       Type(kIdLowerLimitEntry, u"0"), Click(kIdConfigure), Message(texts::kUpperLimitRefused),
       NoDialog()},
     {}},
    {"ConfigureRefusesALowerLimitAboveTheUpperWithPlus",
     "",
     V{Pick(kIdSensorTypeList, 3), Type(kIdUpperLimitEntry, u"100"), Pick(kIdLowerSignList, 0),
       Type(kIdLowerLimitEntry, u"150"), Click(kIdConfigure), Message(texts::kLowerLimitRefused),
       NoDialog()},
     {}},
    {"ConfigureRefusesWithoutASensorType",
     "",
     V{Type(kIdUpperLimitEntry, u"100"), Pick(kIdLowerSignList, 0), Type(kIdLowerLimitEntry, u"0"),
       Click(kIdConfigure), Message(texts::kNoSensorTypeSelected), NoDialog()},
     {}},
    {"ConfigureRefusesAnUpperLimitBeyondTypeKAfterThePreamble",
     "",
     V{Pick(kIdSensorTypeList, 3), Type(kIdUpperLimitEntry, u"1371"), Pick(kIdLowerSignList, 0),
       Type(kIdLowerLimitEntry, u"0"), Click(kIdConfigure), Message(texts::kUpperLimitRefused),
       NoDialog()},
     {kUnlock}},
    {"ConfigureRefusesMinus201ForPt100WithItsOwnMessage",
     "",
     V{Pick(kIdSensorTypeList, 1), Type(kIdUpperLimitEntry, u"100"), Pick(kIdLowerSignList, 1),
       Type(kIdLowerLimitEntry, u"201"), Click(kIdConfigure),
       Message(texts::kLowerLimitRefusedPt100), NoDialog()},
     {kUnlock}},
    {"AdjustWithTheRightCodeEnteredByKeySucceeds",
     "",
     V{Type(kIdColdJunctionTemperature, u"23.57"), Click(kIdAdjust), AccessCodeByKey(u"8163"),
       Status(texts::kAdjustSucceeded)},
     {kUnlock, kAdjustTo235, "in: 45  out: 00 EB  read cold junction -> 23.5"}},
    {"AdjustWithTheRightCodeJudgesAReadBackADegreeOff",
     "--adjust-error 1.5",
     V{Type(kIdColdJunctionTemperature, u"23.57"), Click(kIdAdjust), AccessCode(u"8163"),
       Status(texts::kAdjustFailedBelow)},
     {kUnlock, kAdjustTo235, "in: 45  out: 00 FA  read cold junction -> 25.0"}},
    // Unlock afterwards shows that the window still takes commands.
    {"AdjustWithAWrongCodeSendsNothing",
     "",
     V{Type(kIdColdJunctionTemperature, u"23.57"), Click(kIdAdjust), AccessCode(u"8164"),
       NoDialog(), Shows(StatusLine, u""), Click(kIdUnlock), Status(texts::kPortOpened)},
     {kUnlock}},
    {"AdjustWithTheDialogClosedSendsNothing",
     "",
     V{Type(kIdColdJunctionTemperature, u"23.57"), Click(kIdAdjust), CloseAccessDialog(),
       NoDialog(), Shows(StatusLine, u""), Click(kIdUnlock), Status(texts::kPortOpened)},
     {kUnlock}},
    {"UnlockButtonSendsOnePreamble",
     "",
     V{Click(kIdUnlock), Status(texts::kPortOpened), Shows(DetailLine, texts::kPortOpened),
       NoDialog()},
     {kUnlock}},
    {"EscapeSendsOnePreamble",
     "",
     V{Key(CaseKey::kEscape), Status(texts::kPortOpened), NoDialog()},
     {kUnlock}},
    {"CloseBoxSendsOnePreambleAndEndsWithZero", "", V{CloseWindow(), Ends()}, {kUnlock}},
    // The clicks come while the reading waits for its reply; none of them is replayed later.
    {"ClicksDuringAnOperationAreDropped",
     "",
     V{Click(kIdReadColdJunction), Click(kIdReadConfiguration), Click(kIdReadVersion),
       Click(kIdConnect), Click(kIdUnlock), Click(kIdConfigure), Status(texts::kColdJunctionRead),
       Shows(kIdColdJunctionTemperature, u"23.4"), NoDialog()},
     {kUnlock, kColdJunction234}},
    // The adjustment's check would go on for another six seconds; the close does not wait for
    // it, and its Unlock is dropped like any command during an operation.
    {"ClosingDuringAnOperationEndsTheProgramAtOnce",
     "",
     V{Type(kIdColdJunctionTemperature, u"23.57"), Click(kIdAdjust), AccessCode(u"8163"),
       Status(texts::kDots2), CloseWindow(), EndsWithin(5000)},
     {kUnlock, kAdjustTo235}},
    {"UnlockWithNothingOnThePortNamesThePlainPort",
     nullptr,
     V{Click(kIdUnlock), Message(texts::kOpenFailed), Message(texts::kPortNotOpen), NoDialog()},
     {}},
    {"ConnectWithNothingOnThePortReportsEachFailedStep",
     nullptr,
     V{Click(kIdConnect), Message(texts::kOpenFailed), Message(texts::kPortNotOpen),
       Message(texts::kOpenFailed), Message(texts::kPortNotOpen), Status(texts::kVersionReadError),
       Shows(kIdPortNameBox, kThePort), Shows(kIdVersionByte0, u"0"), NoDialog()},
     {}},
};

}  // namespace

std::span<const WindowCase> WindowCases() {
    return kCases;
}

}  // namespace e2e
