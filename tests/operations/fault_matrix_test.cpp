// Every button's operation against every way the port or the device can let it down: what the
// technician is told, that the operation still ends on time, that the window takes the next
// command, and that nothing of the operation is left behind in the process.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/access_code.h"
#include "device/protocol.h"
#include "resources/control_ids.h"
#include "resources/texts.h"
#include "serial/port_discovery.h"
#include "serial/response_reader.h"
#include "serial/serial_port.h"
#include "sim/unique_fd.h"
#include "tests/operations/device_rig.h"
#include "tests/support/process_resources.h"

namespace {

using namespace std::chrono_literals;
using std::chrono::milliseconds;

enum class Operation {
    kConnect,
    kReadConfiguration,
    kReadVersion,
    kReadColdJunction,
    kConfigure,
    kAdjust,
    kUnlock,
};

enum class Trouble {
    kNoPortListed,
    kPortBusy,
    kDeviceSilent,
    kShortReply,
    kLateWithinReadTimeOut,
    kLateBeyondReadTimeOut,
    kGarbage,
    kDeviceGoneMidReply,
    kPortGoneBeforeOpening,
};

struct OperationFacts {
    const char* name;
    int identity;
    milliseconds waits;  // the operation's own waits, from the click to its verdict
};

OperationFacts Facts(Operation operation) {
    switch (operation) {
        case Operation::kConnect:
            return {"Connect", kIdConnect, 1300ms};
        case Operation::kReadConfiguration:
            return {"ReadConfiguration", kIdReadConfiguration, 2500ms};
        case Operation::kReadVersion:
            return {"ReadVersion", kIdReadVersion, 1100ms};
        case Operation::kReadColdJunction:
            return {"ReadColdJunction", kIdReadColdJunction, 1000ms};
        case Operation::kConfigure:
            return {"Configure", kIdConfigure, 1500ms};
        case Operation::kAdjust:
            return {"Adjust", kIdAdjust, 7500ms};
        case Operation::kUnlock:
            return {"Unlock", kIdUnlock, 0ms};
    }
    return {"?", 0, 0ms};
}

const char* TroubleName(Trouble trouble) {
    switch (trouble) {
        case Trouble::kNoPortListed:
            return "WhenNoPortIsListed";
        case Trouble::kPortBusy:
            return "WhenThePortIsBusy";
        case Trouble::kDeviceSilent:
            return "WhenTheDeviceIsSilent";
        case Trouble::kShortReply:
            return "WhenTheReplyIsShort";
        case Trouble::kLateWithinReadTimeOut:
            return "WhenTheReplyIsLateWithinTheReadTimeOut";
        case Trouble::kLateBeyondReadTimeOut:
            return "WhenTheReplyIsLateBeyondTheReadTimeOut";
        case Trouble::kGarbage:
            return "WhenTheReplyIsGarbage";
        case Trouble::kDeviceGoneMidReply:
            return "WhenTheDeviceGoesMidReply";
        case Trouble::kPortGoneBeforeOpening:
            return "WhenThePortGoesBeforeItIsOpened";
    }
    return "?";
}

// The port is still there and free once the trouble is over.
bool PortUsableAfterwards(Trouble trouble) {
    switch (trouble) {
        case Trouble::kNoPortListed:
        case Trouble::kPortBusy:
        case Trouble::kDeviceGoneMidReply:
        case Trouble::kPortGoneBeforeOpening:
            return false;
        default:
            return true;
    }
}

// Beyond the longest read time-out (14 bytes: 20 ms each plus 500 ms) with room for a slow start
// of the reader, yet inside every operation's wait for its reply.
constexpr auto kLateBeyond = 1200ms;
// Well inside the shortest read time-out (the cold junction's 540 ms).
constexpr auto kLateWithin = 300ms;

struct FaultRow {
    Operation operation;
    Trouble trouble;
    // Message boxes in order; kOpenFailed stands for the open-failure text naming the port.
    std::vector<std::u16string_view> messages;
    std::u16string_view status;  // StatusLine at the end; empty: never written
    std::u16string_view detail;  // DetailLine at the end; empty: never written
};

void PrintTo(const FaultRow& row, std::ostream* out) {
    *out << Facts(row.operation).name << TroubleName(row.trouble);
}

using namespace texts;
using O = Operation;
using T = Trouble;

// The handler's opening fails, and so does the worker's: each failure is followed by the send
// that finds no port.
const std::vector<std::u16string_view> kBothOpeningsFail{kOpenFailed, kPortNotOpen, kOpenFailed,
                                                         kPortNotOpen};
// The adjustment sends two frames on the handler's opening.
const std::vector<std::u16string_view> kAdjustOpeningsFail{kOpenFailed, kPortNotOpen, kPortNotOpen,
                                                           kOpenFailed, kPortNotOpen};
const std::vector<std::u16string_view> kOpeningFails{kOpenFailed, kPortNotOpen};
const std::u16string_view kConfirmK = SensorTypes[3].confirmation;

// Left out, because the fault cannot reach the operation: the unlock preamble is never answered,
// so Unlock meets no reply fault (and the device only vanishes on a command); Configure reads no
// reply, so of the reply faults only silence is kept, as proof that it waits for none.
const FaultRow kFaultRows[] = {
    {O::kConnect, T::kNoPortListed, kBothOpeningsFail, kVersionReadError, u""},
    {O::kConnect, T::kPortBusy, kBothOpeningsFail, kVersionReadError, u""},
    {O::kConnect, T::kDeviceSilent, {}, kVersionReadError, kPortOpened},
    {O::kConnect, T::kShortReply, {}, kVersionReadError, kPortOpened},
    {O::kConnect, T::kLateWithinReadTimeOut, {}, kVersionRead, kPortOpened},
    {O::kConnect, T::kLateBeyondReadTimeOut, {}, kVersionReadError, kPortOpened},
    {O::kConnect, T::kGarbage, {}, kVersionRead, kPortOpened},
    {O::kConnect, T::kDeviceGoneMidReply, {}, kVersionReadError, kPortOpened},
    {O::kConnect, T::kPortGoneBeforeOpening, kBothOpeningsFail, kVersionReadError, u""},

    // Garbage decodes to a sensor code, output type and fault level that mean nothing, so both
    // lines keep what they showed.
    {O::kReadConfiguration, T::kNoPortListed, kBothOpeningsFail, kSensorReadError, u""},
    {O::kReadConfiguration, T::kPortBusy, kBothOpeningsFail, kSensorReadError, u""},
    {O::kReadConfiguration, T::kDeviceSilent, {}, kSensorReadError, kPortOpened},
    {O::kReadConfiguration, T::kShortReply, {}, kSensorReadError, kPortOpened},
    {O::kReadConfiguration, T::kLateWithinReadTimeOut, {}, kSensorRead420, kFaultHigh},
    {O::kReadConfiguration, T::kLateBeyondReadTimeOut, {}, kSensorReadError, kPortOpened},
    {O::kReadConfiguration, T::kGarbage, {}, kDots2, kPortOpened},
    {O::kReadConfiguration, T::kDeviceGoneMidReply, {}, kSensorReadError, kPortOpened},
    {O::kReadConfiguration, T::kPortGoneBeforeOpening, kBothOpeningsFail, kSensorReadError, u""},

    {O::kReadVersion, T::kNoPortListed, kBothOpeningsFail, kVersionReadError, u""},
    {O::kReadVersion, T::kPortBusy, kBothOpeningsFail, kVersionReadError, u""},
    {O::kReadVersion, T::kDeviceSilent, {}, kVersionReadError, kPortOpened},
    {O::kReadVersion, T::kShortReply, {}, kVersionReadError, kPortOpened},
    {O::kReadVersion, T::kLateWithinReadTimeOut, {}, kVersionRead, kPortOpened},
    {O::kReadVersion, T::kLateBeyondReadTimeOut, {}, kVersionReadError, kPortOpened},
    {O::kReadVersion, T::kGarbage, {}, kVersionRead, kPortOpened},
    {O::kReadVersion, T::kDeviceGoneMidReply, {}, kVersionReadError, kPortOpened},
    {O::kReadVersion, T::kPortGoneBeforeOpening, kBothOpeningsFail, kVersionReadError, u""},

    {O::kReadColdJunction, T::kNoPortListed, kBothOpeningsFail, kColdJunctionReadError, u""},
    {O::kReadColdJunction, T::kPortBusy, kBothOpeningsFail, kColdJunctionReadError, u""},
    {O::kReadColdJunction, T::kDeviceSilent, {}, kColdJunctionReadError, kPortOpened},
    {O::kReadColdJunction, T::kShortReply, {}, kColdJunctionReadError, kPortOpened},
    {O::kReadColdJunction, T::kLateWithinReadTimeOut, {}, kColdJunctionRead, kPortOpened},
    {O::kReadColdJunction, T::kLateBeyondReadTimeOut, {}, kColdJunctionReadError, kPortOpened},
    {O::kReadColdJunction, T::kGarbage, {}, kColdJunctionRead, kPortOpened},
    {O::kReadColdJunction, T::kDeviceGoneMidReply, {}, kColdJunctionReadError, kPortOpened},
    {O::kReadColdJunction, T::kPortGoneBeforeOpening, kBothOpeningsFail, kColdJunctionReadError,
     u""},

    // The entry is accepted before the port is opened, so its confirmation stays when no
    // opening succeeds; the device vanishes on the frame it has received.
    {O::kConfigure, T::kNoPortListed, kBothOpeningsFail, kWriteFailed, kConfirmK},
    {O::kConfigure, T::kPortBusy, kBothOpeningsFail, kWriteFailed, kConfirmK},
    {O::kConfigure, T::kDeviceSilent, {}, kWriteDone, kPortOpened},
    {O::kConfigure, T::kDeviceGoneMidReply, {}, kWriteDone, kPortOpened},
    {O::kConfigure, T::kPortGoneBeforeOpening, kBothOpeningsFail, kWriteFailed, kConfirmK},

    // The device vanishes on the adjustment frame, before the read-back opening. Garbage reads
    // back as 2313 degrees, far above the 25.0 typed.
    {O::kAdjust, T::kNoPortListed, kAdjustOpeningsFail, kColdJunctionReadError, u""},
    {O::kAdjust, T::kPortBusy, kAdjustOpeningsFail, kColdJunctionReadError, u""},
    {O::kAdjust, T::kDeviceSilent, {}, kColdJunctionReadError, kPortOpened},
    {O::kAdjust, T::kShortReply, {}, kColdJunctionReadError, kPortOpened},
    {O::kAdjust, T::kLateWithinReadTimeOut, {}, kAdjustSucceeded, kPortOpened},
    {O::kAdjust, T::kLateBeyondReadTimeOut, {}, kColdJunctionReadError, kPortOpened},
    {O::kAdjust, T::kGarbage, {}, kAdjustFailedBelow, kPortOpened},
    {O::kAdjust, T::kDeviceGoneMidReply, kOpeningFails, kColdJunctionReadError, u""},
    {O::kAdjust, T::kPortGoneBeforeOpening, kAdjustOpeningsFail, kColdJunctionReadError, u""},

    {O::kUnlock, T::kNoPortListed, kOpeningFails, u"", u""},
    {O::kUnlock, T::kPortBusy, kOpeningFails, u"", u""},
    {O::kUnlock, T::kDeviceSilent, {}, kPortOpened, kPortOpened},
    {O::kUnlock, T::kPortGoneBeforeOpening, kOpeningFails, u"", u""},
};

bool IsOpenFailureFor(std::u16string_view message, std::u16string_view port) {
    std::u16string expected(kOpenFailed);
    expected.replace(expected.find(u"%s"), 2, port);
    return message == expected;
}

void ExpectMessages(const std::vector<std::u16string>& shown,
                    const std::vector<std::u16string_view>& expected, std::u16string_view port) {
    bool same = shown.size() == expected.size();
    for (std::size_t i = 0; same && i < shown.size(); ++i) {
        same =
            expected[i] == kOpenFailed ? IsOpenFailureFor(shown[i], port) : shown[i] == expected[i];
    }
    Texts wanted(expected.begin(), expected.end());
    EXPECT_TRUE(same) << "message boxes:\n"
                      << Lines(shown) << "expected (port " << Utf8(port) << "):\n"
                      << Lines(wanted);
}

// Sets the port up to fail the way the row asks, and undoes it when the row is over.
class PortTrouble {
  public:
    PortTrouble(DeviceRig& rig, Trouble trouble) : path_(rig.PortPath()) {
        const std::string device_path = Utf8(path_);
        // Holding the terminal keeps its number taken after the device has vanished, so that a
        // later opening cannot land on another test's new pseudo-terminal.
        keeper_ = sim::UniqueFd(
            ::open(device_path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        switch (trouble) {
            case Trouble::kNoPortListed:
                path_.clear();
                break;
            case Trouble::kPortBusy:
                holder_ = OpenSerialDevice(path_);
                break;
            case Trouble::kPortGoneBeforeOpening:
                path_ = MakeLinkThatGoes(device_path);
                break;
            case Trouble::kDeviceSilent:
                rig.device.InjectFault(sim::Fault::kSilence);
                break;
            case Trouble::kShortReply:
                rig.device.InjectFault(sim::Fault::kShortReply);
                break;
            case Trouble::kLateWithinReadTimeOut:
            case Trouble::kLateBeyondReadTimeOut:
                rig.device.InjectFault(sim::Fault::kLateReply);
                break;
            case Trouble::kGarbage:
                rig.device.InjectFault(sim::Fault::kGarbage);
                break;
            case Trouble::kDeviceGoneMidReply:
                rig.device.InjectFault(sim::Fault::kVanish);
                break;
        }
        // As discovery left it when the window opened; Connect looks again.
        SetPortName(path_);
        const std::u16string listed = path_;
        const std::string link = link_;
        SetPortListSource([listed, link] {
            // The port goes the moment after it was listed.
            if (!link.empty()) std::filesystem::remove(link);
            if (listed.empty()) return std::optional(std::vector<std::u16string>{});
            return std::optional(std::vector<std::u16string>{listed});
        });
        if (trouble == Trouble::kPortGoneBeforeOpening) std::filesystem::remove(link_);
    }

    ~PortTrouble() {
        if (!folder_.empty()) std::filesystem::remove_all(folder_);
    }

    bool Holding() const { return holder_.IsOpen(); }
    // The port's name as the program knows it.
    const std::u16string& Path() const { return path_; }

  private:
    // Named like the adapter it stands for, in a folder of its own rather than among the
    // machine's real devices.
    std::u16string MakeLinkThatGoes(const std::string& device_path) {
        std::string folder = (std::filesystem::temp_directory_path() / "fault-matrix-XXXXXX");
        if (::mkdtemp(folder.data()) == nullptr) return {};
        folder_ = folder;
        link_ = folder + "/ttyUSB0";
        std::filesystem::create_symlink(device_path, link_);
        return Utf16(link_);
    }

    std::u16string path_;
    sim::UniqueFd keeper_;
    SerialPort holder_;
    std::string folder_;
    std::string link_;
};

void EnterWhatTheOperationNeeds(DeviceRig& rig, Operation operation) {
    switch (operation) {
        case Operation::kReadConfiguration:
            // As an earlier Connect left it: the device's firmware gives a 14-byte reply.
            std::copy_n(sim::Options{}.version.begin(), 3, VersionBuffer);
            break;
        case Operation::kConfigure:
            rig.window.Select(kIdSensorTypeList, 3);  // "K ТП "
            rig.window.Type(kIdUpperLimitEntry, u"300");
            rig.window.Select(kIdLowerSignList, 1);  // "-"
            rig.window.Type(kIdLowerLimitEntry, u"50");
            break;
        case Operation::kAdjust:
            rig.window.QueueAccessEntry(std::u16string(u"8163"));
            rig.window.Type(kIdColdJunctionTemperature, u"25.0");
            break;
        default:
            break;
    }
}

class FaultMatrix : public testing::TestWithParam<FaultRow> {};

TEST_P(FaultMatrix, TellsTheTechnicianEndsOnTimeAndLeavesNothingBehind) {
    const FaultRow& row = GetParam();
    const OperationFacts facts = Facts(row.operation);
    sim::Options options;
    options.late_reply_delay =
        row.trouble == Trouble::kLateBeyondReadTimeOut ? kLateBeyond : kLateWithin;

    const ProcessResources before_device = CurrentProcessResources();
    DeviceRig rig(options);
    ASSERT_TRUE(rig.device.IsRunning());
    const int device_descriptors =
        CurrentProcessResources().descriptors - before_device.descriptors;
    PortTrouble trouble(rig, row.trouble);
    ASSERT_EQ(trouble.Holding(), row.trouble == Trouble::kPortBusy);
    EnterWhatTheOperationNeeds(rig, row.operation);
    const ProcessResources before = CurrentProcessResources();
    const std::vector<std::string> handles_before = ProcessHandles();

    const auto clicked = std::chrono::steady_clock::now();
    rig.Click(facts.identity);
    ASSERT_TRUE(WaitUntilReady());
    const auto took = std::chrono::steady_clock::now() - clicked;

    EXPECT_GE(took, facts.waits) << "the operation cut its waits short";
    EXPECT_LE(took, facts.waits + 1s) << "the operation overran its waits";
    ExpectMessages(rig.window.Messages(), row.messages, trouble.Path());
    EXPECT_EQ(Utf8(rig.window.Text(StatusLine)), Utf8(row.status));
    EXPECT_EQ(Utf8(rig.window.Text(DetailLine)), Utf8(row.detail));
    if (row.operation == Operation::kConnect) {
        EXPECT_EQ(Utf8(rig.window.Text(kIdPortNameBox)), Utf8(trouble.Path()));
    }
    ExpectIdle();

    // The next command is taken: the unlock preamble opens the port or says why it cannot.
    rig.window.ClearEvents();
    rig.Click(kIdUnlock);
    if (PortUsableAfterwards(row.trouble)) {
        ExpectMessages(rig.window.Messages(), {}, trouble.Path());
        ExpectTexts(rig, StatusLine, {std::u16string(kPortOpened)});
    } else {
        ExpectMessages(rig.window.Messages(), kOpeningFails, trouble.Path());
    }

    // A device that vanished took its own descriptors with it.
    ProcessResources expected = before;
    if (row.trouble == Trouble::kDeviceGoneMidReply) expected.descriptors -= device_descriptors;
    const ProcessResources after = SettledProcessResources(expected, 2s);
    EXPECT_EQ(after.descriptors, expected.descriptors)
        << "open descriptors; new:\n"
        << NewHandles(handles_before, ProcessHandles());
    EXPECT_EQ(after.threads, expected.threads) << "threads; new:\n"
                                               << NewHandles(handles_before, ProcessHandles());
}

INSTANTIATE_TEST_SUITE_P(EveryOperationAgainstEveryFault, FaultMatrix,
                         testing::ValuesIn(kFaultRows), [](const auto& info) {
                             return std::string(Facts(info.param.operation).name) +
                                    TroubleName(info.param.trouble);
                         });

}  // namespace
