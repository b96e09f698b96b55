// Finding the port: the sysfs listing on a made-up tree, and what discovery keeps.

#include "serial/port_discovery.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "serial/device_path.h"
#include "tests/support/recording_window.h"

namespace {

namespace fs = std::filesystem;

using Names = std::vector<std::u16string>;

// One entry of /sys/class/tty as the kernel would show it.
struct TtyEntry {
    std::string name;
    bool backed_by_driver;            // has a `device` link
    std::optional<std::string> type;  // contents of `type`, for serial-core ports
};

// A sysfs class folder of its own, removed again at the end of the test.
class FakeSysfs {
  public:
    explicit FakeSysfs(const std::vector<TtyEntry>& entries) {
        std::string pattern = (fs::temp_directory_path() / "serial-discovery-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) root_ = pattern;
        fs::create_directories(root_ / "class" / "tty");
        fs::create_directories(root_ / "devices" / "platform");
        for (const TtyEntry& entry : entries) {
            const fs::path dir = root_ / "class" / "tty" / entry.name;
            fs::create_directories(dir);
            if (entry.backed_by_driver)
                fs::create_directory_symlink(root_ / "devices" / "platform", dir / "device");
            if (entry.type) std::ofstream(dir / "type") << *entry.type << "\n";
        }
    }
    ~FakeSysfs() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    std::string ClassTty() const { return (root_ / "class" / "tty").string(); }

  private:
    fs::path root_;
};

std::string Show(const Names& names) {
    std::string text;
    for (const auto& name : names) text += Utf8(name) + " ";
    return text;
}

// ---------------------------------------------------------------------------------------------

struct ListingCase {
    const char* name;
    std::vector<TtyEntry> entries;
    Names listed;
    friend void PrintTo(const ListingCase& row, std::ostream* os) { *os << row.name; }
};

class SysfsListingTest : public ::testing::TestWithParam<ListingCase> {};

TEST_P(SysfsListingTest, ListsRealSerialPortsBuiltInFirstEachGroupInNaturalOrder) {
    FakeSysfs sysfs(GetParam().entries);
    const Names listed = ListSysfsSerialPorts(sysfs.ClassTty(), "/dev");
    EXPECT_EQ(listed, GetParam().listed) << Show(listed);
}

INSTANTIATE_TEST_SUITE_P(
    Trees, SysfsListingTest,
    ::testing::Values(
        ListingCase{"OnlyEntriesWithADeviceLink",
                    {{"tty0", false, {}},
                     {"console", false, {}},
                     {"ttyUSB0", true, {}},
                     {"ptmx", false, {}}},
                    {u"ttyUSB0"}},
        ListingCase{"LegacyPortsOfUnknownUartTypeArePhantoms",
                    {{"ttyS0", true, "4"},
                     {"ttyS1", true, "0"},
                     {"ttyS2", true, "0"},
                     {"ttyS3", true, "4"}},
                    {u"ttyS0", u"ttyS3"}},
        ListingCase{"LegacyPortWithoutATypeIsSkipped",
                    {{"ttyS0", true, {}}, {"ttyACM0", true, {}}},
                    {u"ttyACM0"}},
        ListingCase{"NumbersCountByValue",
                    {{"ttyS10", true, "4"}, {"ttyS2", true, "4"}, {"ttyS1", true, "4"}},
                    {u"ttyS1", u"ttyS2", u"ttyS10"}},
        ListingCase{"BuiltInUartsFirstThenTheOthersEachByNameThenNumber",
                    {{"ttyUSB1", true, {}},
                     {"ttyS0", true, "4"},
                     {"ttyUSB0", true, {}},
                     {"ttyACM0", true, {}}},
                    {u"ttyS0", u"ttyACM0", u"ttyUSB0", u"ttyUSB1"}},
        ListingCase{"AnAcmAdapterBesideABuiltInUartIsLast",
                    {{"ttyS0", true, "4"}, {"ttyACM0", true, {}}},
                    {u"ttyS0", u"ttyACM0"}},
        ListingCase{"AUsbAdapterAfterTwoBuiltInUartsIsLast",
                    {{"ttyUSB0", true, {}}, {"ttyS1", true, "4"}, {"ttyS0", true, "4"}},
                    {u"ttyS0", u"ttyS1", u"ttyUSB0"}},
        ListingCase{"NothingThere", {}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SysfsListing, DevicesOutsideDevKeepTheirWholePath) {
    FakeSysfs sysfs({{"ttyUSB0", true, {}}});
    EXPECT_EQ(ListSysfsSerialPorts(sysfs.ClassTty(), "/tmp/ports"), Names{u"/tmp/ports/ttyUSB0"});
}

TEST(SysfsListing, AMissingClassFolderListsNothing) {
    EXPECT_TRUE(ListSysfsSerialPorts("/nonexistent/sys/class/tty").empty());
}

// ---------------------------------------------------------------------------------------------
// The window shows the name under /dev, as Windows shows "COM3"; the opening uses the path.

struct DevicePathCase {
    const char* name;
    std::string path;
    std::u16string port_name;
    friend void PrintTo(const DevicePathCase& row, std::ostream* os) { *os << row.name; }
};

class DevicePathTest : public ::testing::TestWithParam<DevicePathCase> {};

TEST_P(DevicePathTest, ThePortIsNamedWithoutDevAndOpenedByItsPath) {
    EXPECT_EQ(Utf8(PortNameFromDevicePath(GetParam().path)), Utf8(GetParam().port_name));
    EXPECT_EQ(DevicePathFromPortName(GetParam().port_name), GetParam().path);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, DevicePathTest,
    ::testing::Values(DevicePathCase{"AUsbAdapter", "/dev/ttyUSB10", u"ttyUSB10"},
                      DevicePathCase{"APseudoTerminalKeepsItsSubfolder", "/dev/pts/3", u"pts/3"},
                      DevicePathCase{"ADeviceElsewhereKeepsItsWholePath", "/tmp/ports/ttyS0",
                                     u"/tmp/ports/ttyS0"},
                      DevicePathCase{"TheFolderAloneIsNoDevice", "/dev/", u"/dev/"},
                      DevicePathCase{"NoNameNoPath", "", u""},
                      DevicePathCase{"NonAsciiNamesGoThroughUtf8", "/dev/ttyПорт", u"ttyПорт"}),
    [](const auto& info) { return std::string(info.param.name); });

// Every way Windows lets a program write one COM port names one device: a station given two of
// them would configure one unit twice.
TEST(WindowsDeviceName, EveryWritingOfOnePortIsOneDevice) {
    for (const std::u16string name : {u"COM3", u"com3", u"COM3.", u"COM3 .", u"\\\\.\\COM3",
                                      u"\\\\?\\COM3", u"\\\\.\\COM3.", u"//./COM3"}) {
        EXPECT_EQ(WindowsDeviceName(name), "COM3") << Utf8(name);
    }
    EXPECT_EQ(WindowsDeviceName(u"COM13"), "COM13");
}

// ---------------------------------------------------------------------------------------------

struct DiscoveryCase {
    const char* name;
    std::u16string before;
    std::optional<Names> listed;
    std::u16string after;
    friend void PrintTo(const DiscoveryCase& row, std::ostream* os) { *os << row.name; }
};

class PortDiscoveryTest : public ::testing::TestWithParam<DiscoveryCase> {
  protected:
    void SetUp() override { SetPortName(u""); }
    void TearDown() override { SetPortListSource(nullptr); }
};

TEST_P(PortDiscoveryTest, KeepsTheLastPortListed) {
    SetPortName(GetParam().before);
    const std::optional<Names> listed = GetParam().listed;
    SetPortListSource([listed] { return listed; });
    PortDiscovery();
    EXPECT_EQ(PortNameView(), GetParam().after) << Utf8(PortNameView());
}

INSTANTIATE_TEST_SUITE_P(
    Lists, PortDiscoveryTest,
    ::testing::Values(
        DiscoveryCase{"ThreePortsGiveTheThird", u"", Names{u"ttyS0", u"ttyS1", u"ttyUSB0"},
                      u"ttyUSB0"},
        DiscoveryCase{"ANewListReplacesTheOldName", u"ttyS0", Names{u"ttyACM0"}, u"ttyACM0"},
        DiscoveryCase{"AnEmptyListKeepsThePreviousName", u"ttyS3", Names{}, u"ttyS3"},
        DiscoveryCase{"NoListAtAllKeepsThePreviousName", u"ttyS3", std::nullopt, u"ttyS3"},
        DiscoveryCase{"NothingFoundAtStartStaysEmpty", u"", std::nullopt, u""},
        DiscoveryCase{"AShorterNameLeavesNoTailOfTheLonger", u"ttyUSB10", Names{u"COM3"}, u"COM3"},
        DiscoveryCase{"AnOverlongNameIsCutToTheBuffer", u"", Names{std::u16string(300, u'x')},
                      std::u16string(kPortNameCapacity - 1, u'x')}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
