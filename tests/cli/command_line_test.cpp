// transmitter-cli run in-process against the simulated transmitter: for each command line, what
// it prints, how it exits, and the exact bytes the device received (none for every refusal).

#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <iterator>
#include <memory>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/transmitter_cli_version.h"
#include "serial/device_path.h"
#include "serial/port_discovery.h"
#include "serial/serial_port.h"
#include "sim/simulated_transmitter.h"

namespace {

using namespace std::chrono_literals;

// The device holds K, -50 ... 300, 4-20 mA, high fault level, reads 23.4 degrees and runs
// firmware 1.0.3 unless the row says otherwise.
enum class Device {
    kPlain,
    kFirmware100,    // an 11-byte configuration reply
    kFirmware104,    // a configuration reply of unknown length
    kSilent,         // its next reply never comes
    kColdMinus,      // reads -5.2 degrees
    kAdjustOff15,    // an adjustment lands 1.5 degrees high
    kIgnoresWrites,  // keeps its configuration whatever is written
    kOddBytes,       // holds sensor code 12, output byte 7 and fault byte 9
    kHeld,           // another program holds the port
    kTwoPorts,       // the platform lists ttyS0 and ttyUSB0, and no --port is given
    kNoPorts,        // the platform lists none, and no --port is given
};

struct CommandLineCase {
    const char* name;
    Device device = Device::kPlain;
    std::vector<std::string> args;  // --port and the device's path follow them
    std::string in;
    std::optional<std::string> access_code;  // in the environment
    int exit_code = 0;
    std::string out;   // exact; {port} is the port's name, {time} a local time stamp
    std::string err;   // contained; empty: nothing at all
    std::string wire;  // what the device received
};
void PrintTo(const CommandLineCase& row, std::ostream* os) {
    *os << row.name;
}

const std::string kRead = "AA AA 43 AA AA 42";
const std::string kEntry = "--output 4-20 --fault high --compensation on";

std::vector<std::string> Words(const std::string& line) {
    std::istringstream words(line);
    return {std::istream_iterator<std::string>(words), std::istream_iterator<std::string>()};
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    for (std::uint8_t b : bytes) {
        text += (text.empty() ? "" : " ") + std::string{"0123456789ABCDEF"[b >> 4]} +
                "0123456789ABCDEF"[b & 0xF];
    }
    return text;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos;
         at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

class CommandLineTest : public ::testing::TestWithParam<CommandLineCase> {
  protected:
    void SetUp() override {
        const Device setup = GetParam().device;
        sim::Options options;
        if (setup == Device::kFirmware100) options.version = {1, 0, 0};
        if (setup == Device::kFirmware104) options.version = {1, 0, 4};
        if (setup == Device::kColdMinus) options.cold_junction_tenths = -52;
        if (setup == Device::kAdjustOff15) options.adjustment_error_tenths = 15;
        if (setup == Device::kOddBytes) {
            options.configuration = {0x44, 12, 0x01, 0x2C, 0, 0, 1, 0, 0, 0, 0, 7, 9, 0};
        }
        if (setup == Device::kIgnoresWrites) {
            options.on_message = [this, kept = options.configuration](const sim::TraceEntry& e) {
                if (e.received.size() == 14 && transmitter_ready.load())
                    transmitter->SetConfiguration(kept);
            };
        }
        transmitter = std::make_unique<sim::SimulatedTransmitter>(options);
        transmitter_ready = true;
        ASSERT_TRUE(transmitter->IsRunning());
        if (setup == Device::kSilent) transmitter->InjectFault(sim::Fault::kSilence);
        if (setup == Device::kHeld) held = OpenSerialDevice(Utf16FromUtf8(transmitter->PortPath()));
        std::vector<std::u16string> listed;
        if (setup == Device::kTwoPorts) listed = {u"ttyS0", u"ttyUSB0"};
        if (setup == Device::kTwoPorts || setup == Device::kNoPorts) {
            SetPortListSource([listed] { return std::optional(listed); });
        }
    }
    void TearDown() override { SetPortListSource({}); }

    std::unique_ptr<sim::SimulatedTransmitter> transmitter;
    std::atomic<bool> transmitter_ready{false};
    SerialPort held;
};

TEST_P(CommandLineTest, PrintsExitsAndSends) {
    const CommandLineCase& row = GetParam();
    const std::string port = Utf8FromUtf16(PortNameFromDevicePath(transmitter->PortPath()));
    std::vector<std::string> args = row.args;
    if (row.device != Device::kTwoPorts && row.device != Device::kNoPorts) {
        args.insert(args.end(), {"--port", transmitter->PortPath()});
    }
    std::istringstream in(row.in);
    std::ostringstream out, err;
    CliStreams io{in, out, err,
                  [&row](const std::string& name) {
                      return name == "TRANSMITTER_ACCESS_CODE" ? row.access_code : std::nullopt;
                  },
                  [](std::istream&, std::ostream&) { return std::optional<std::string>(); }};

    EXPECT_EQ(RunCommandLine(args, io), row.exit_code);
    const std::regex time_stamp(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d)");
    EXPECT_EQ(std::regex_replace(out.str(), time_stamp, "{time}"),
              Replaced(row.out, "{port}", port));
    if (row.err.empty()) {
        EXPECT_EQ(err.str(), "");
    }
    EXPECT_NE(err.str().find(Replaced(row.err, "{port}", port)), std::string::npos) << err.str();
    // The last frame may still be on its way through the pseudo-terminal; a row that expects
    // nothing gives a stray frame the same time to arrive.
    const auto deadline = std::chrono::steady_clock::now() + (row.wire.empty() ? 200ms : 3s);
    while (Hex(transmitter->ReceivedValues()).size() < row.wire.size() + row.wire.empty() &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(Hex(transmitter->ReceivedValues()), row.wire);
}

// One row a line or a few; the formatter would spread each field over its own line.
// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, CommandLineTest, ::testing::ValuesIn(std::vector<CommandLineCase>{
    {"ports lists the platform's ports in order, the last one as the default", Device::kTwoPorts,
     {"ports"}, "", {}, 0, "ttyS0\nttyUSB0  (default)\n", "", ""},
    {"ports in JSON names the default", Device::kTwoPorts, {"--json", "ports"}, "", {}, 0,
     "{\"ports\":[\"ttyS0\",\"ttyUSB0\"],\"default\":\"ttyUSB0\"}\n", "", ""},
    {"ports with none listed prints nothing", Device::kNoPorts, {"ports"}, "", {}, 0, "", "", ""},
    {"ports in JSON with none listed has no default", Device::kNoPorts, {"ports", "--json"}, "", {},
     0, "{\"ports\":[],\"default\":null}\n", "", ""},
    {"a device command without --port when no port is listed exits 4", Device::kNoPorts,
     {"version"}, "", {}, 4, "", "transmitter-cli: no serial port found\n", ""},
    {"version prints the firmware", Device::kPlain, {"version"}, "", {}, 0, "1.0.3\n", "",
     "AA AA 43"},
    {"version in JSON names the port", Device::kPlain, {"version", "--json"}, "", {}, 0,
     "{\"port\":\"{port}\",\"firmware\":\"1.0.3\"}\n", "", "AA AA 43"},
    {"--trace tells each frame with what it means", Device::kPlain, {"--trace", "version"}, "", {},
     0, "1.0.3\n", " ms  <- 01 00 03            version 1.0.3\n", "AA AA 43"},
    {"read prints the configuration on one line", Device::kPlain, {"read"}, "", {}, 0,
     "firmware 1.0.3  sensor K  upper 300  lower -50  output 4-20  fault high\n", "", kRead},
    {"read in JSON", Device::kPlain, {"--json", "read"}, "", {}, 0,
     "{\"port\":\"{port}\",\"firmware\":\"1.0.3\",\"sensor\":\"K\",\"upper\":300,\"lower\":-50,"
     "\"output\":\"4-20\",\"fault\":\"high\"}\n", "", kRead},
    {"read shows a sensor code and setting bytes it has no names for", Device::kOddBytes,
     {"read"}, "", {}, 0,
     "firmware 1.0.3  sensor code-12  upper 300  lower 0  output ?7  fault ?9\n", "", kRead},
    {"read in JSON gives null for setting bytes it has no words for", Device::kOddBytes,
     {"read", "--json"}, "", {}, 0,
     "{\"port\":\"{port}\",\"firmware\":\"1.0.3\",\"sensor\":\"code-12\",\"upper\":300,"
     "\"lower\":0,\"output\":null,\"fault\":null}\n", "", kRead},
    {"read of firmware 1.0.0 leaves out output and fault", Device::kFirmware100, {"read"}, "", {},
     0, "firmware 1.0.0  sensor K  upper 300  lower -50\n", "", kRead},
    {"read of firmware 1.0.4 exits 1 without asking", Device::kFirmware104, {"read"}, "", {}, 1, "",
     "transmitter-cli: read: firmware 1.0.4: its configuration reply is unknown to this program\n",
     "AA AA 43"},
    {"a silent transmitter exits 1", Device::kSilent, {"read"}, "", {}, 1, "",
     "transmitter-cli: read: the transmitter on {port} did not answer\n", "AA AA 43"},
    {"a port another program holds exits 4", Device::kHeld, {"version"}, "", {}, 4, "",
     "transmitter-cli: cannot open {port}: busy (held by another program)\n", ""},
    {"write sends the frame and says what it wrote", Device::kPlain,
     Words("write --sensor k --upper 500 --lower -100 --output 0-20 --fault low --compensation off"),
     "", {}, 0,
     "wrote sensor K  upper 500  lower -100  output 0-20  fault low  compensation off\n", "",
     "AA AA 44 03 02 58 80 64 01 00 00 00 00 01 00 01"},
    {"write --verify in JSON reads it back", Device::kPlain,
     Words("--json write --sensor PT100 --upper 850 --lower=-200 --verify " + kEntry), "", {}, 0,
     "{\"port\":\"{port}\",\"sensor\":\"PT100\",\"upper\":850,\"lower\":-200,\"output\":\"4-20\","
     "\"fault\":\"high\",\"compensation\":\"on\",\"verified\":true}\n", "",
     "AA AA 44 01 04 1A 80 C8 01 00 00 00 00 00 01 00 " + kRead},
    {"write --verify on firmware 1.0.0 cannot verify output and fault", Device::kFirmware100,
     Words("write --sensor K --upper 300 --lower -50 --verify " + kEntry), "", {}, 0,
     "wrote sensor K  upper 300  lower -50  output 4-20  fault high  compensation on\n"
     "verified (output and fault not in this firmware's reply)\n", "",
     "AA AA 44 03 01 5E 80 32 01 00 00 00 00 00 01 00 " + kRead},
    {"write --verify names each field a device that ignored it differs in, exit 1",
     Device::kIgnoresWrites,
     Words("write --sensor K --upper 500 --lower -100 --output 4-20 --fault low --compensation on "
           "--verify"), "", {}, 1,
     "wrote sensor K  upper 500  lower -100  output 4-20  fault low  compensation on\n",
     "transmitter-cli: write: verify failed: upper reads 300, wrote 500; lower reads -50, wrote "
     "-100; fault reads high, wrote low\n",
     "AA AA 44 03 02 58 80 64 01 00 00 00 00 00 00 00 " + kRead},
    {"write --from takes the file's fields under the options given", Device::kPlain,
     Words("write --from - --upper 400 --compensation on"),
     R"({"port":"pts/9","firmware":"1.0.3","sensor":"K","upper":300,"lower":-50,"output":"4-20","fault":"high"})",
     {}, 0, "wrote sensor K  upper 400  lower -50  output 4-20  fault high  compensation on\n", "",
     "AA AA 44 03 01 C2 80 32 01 00 00 00 00 00 01 00"},
    {"write refuses an upper limit above the sensor's maximum", Device::kPlain,
     Words("write --sensor K --upper 1400 --lower 0 " + kEntry), "", {}, 2, "",
     "transmitter-cli: write: upper limit 1400 is above the K sensor's maximum of 1370\n", ""},
    {"write refuses a lower limit below the sensor's negative minimum", Device::kPlain,
     Words("write --sensor K --upper 100 --lower -300 " + kEntry), "", {}, 2, "",
     "transmitter-cli: write: lower limit -300 is below the K sensor's minimum of -270\n", ""},
    {"write refuses a lower limit above the upper one", Device::kPlain,
     Words("write --sensor K --upper 100 --lower 150 " + kEntry), "", {}, 2, "",
     "transmitter-cli: write: lower limit 150 is above the upper limit 100\n", ""},
    {"write refuses a negative upper limit", Device::kPlain,
     Words("write --sensor K --upper -5 --lower 0 " + kEntry), "", {}, 2, "",
     "transmitter-cli: write: upper limit -5 is negative\n", ""},
    {"write names a missing field", Device::kPlain,
     Words("write --sensor K --upper 100 --lower 0 --output 4-20 --fault high"), "", {}, 2, "",
     "transmitter-cli: write: missing --compensation\n", ""},
    {"write refuses an unknown sensor", Device::kPlain,
     Words("write --sensor X1 --upper 100 --lower 0 " + kEntry), "", {}, 2, "",
     "transmitter-cli: write: unknown sensor X1 (", ""},
    {"write --from refuses a sensor code outside the table", Device::kPlain,
     Words("write --from - --compensation on"),
     R"({"sensor":"code-12","upper":300,"lower":-50,"output":"4-20","fault":"high"})", {}, 2, "",
     "transmitter-cli: write: unknown sensor code-12 (", ""},
    {"write --from refuses a key that read --json never prints", Device::kPlain,
     Words("write --from -"), R"({"sensor":"K","colour":"red"})", {}, 2, "",
     "transmitter-cli: write: standard input: unknown key \"colour\"\n", ""},
    {"cold-junction prints degrees with one decimal", Device::kPlain, {"cold-junction"}, "", {}, 0,
     "23.4\n", "", "AA AA 45"},
    {"cold-junction in JSON", Device::kColdMinus, {"cold-junction", "--json"}, "", {}, 0,
     "{\"port\":\"{port}\",\"temperature\":-5.2}\n", "", "AA AA 45"},
    {"cold-junction --watch repeats with local time stamps", Device::kPlain,
     Words("cold-junction --watch 1 --count 2"), "", {}, 0, "{time}  23.4\n{time}  23.4\n", "",
     "AA AA 45 AA AA 45"},
    {"cold-junction --watch in JSON carries the time", Device::kColdMinus,
     Words("--json cold-junction --watch 1 --count 1"), "", {}, 0,
     "{\"time\":\"{time}\",\"port\":\"{port}\",\"temperature\":-5.2}\n", "", "AA AA 45"},
    {"adjust in JSON sets the temperature and reads it back", Device::kPlain,
     {"--json", "adjust", "-5.2"}, "", "8163", 0,
     "{\"port\":\"{port}\",\"wanted\":-5.2,\"temperature\":-5.2,\"ok\":true}\n", "",
     "AA AA 46 FF CC 00 45"},
    {"adjust that lands a degree and a half off exits 1", Device::kAdjustOff15, {"adjust", "25"},
     "", "8163", 1, "adjusted to 25.0, reads 26.5\n",
     "transmitter-cli: adjust: the transmitter reads 26.5, 1.5 from 25.0\n",
     "AA AA 46 00 FA 00 45"},
    {"adjust refuses a wrong access code", Device::kPlain, {"adjust", "25"}, "", "8164", 3, "",
     "transmitter-cli: adjust: wrong access code\n", ""},
    {"adjust refuses a temperature with a comma", Device::kPlain, {"adjust", "25,0"}, "", "8163",
     2, "", "transmitter-cli: adjust: \"25,0\" is not a temperature", ""},
    {"adjust without a code or a terminal to ask on exits 2", Device::kPlain, {"adjust", "25"}, "",
     {}, 2, "",
     "transmitter-cli: adjust: no access code: set TRANSMITTER_ACCESS_CODE or run on a terminal\n", ""},
    {"unlock sends the preamble alone", Device::kPlain, {"unlock"}, "", {}, 0, "unlocked\n", "",
     "AA AA"},
    {"unlock in JSON", Device::kPlain, {"unlock", "--json"}, "", {}, 0,
     "{\"port\":\"{port}\",\"unlocked\":true}\n", "", "AA AA"},
    {"--version prints the project's version", Device::kPlain, {"--version"}, "", {}, 0,
     std::string("transmitter-cli ") + kTransmitterCliVersion + "\n", "", ""},
    {"an option the subcommand does not know is a usage error", Device::kPlain,
     {"read", "--colour"}, "", {}, 2, "", "transmitter-cli: read: ", ""},
}));
// clang-format on

// What read --json prints writes the same configuration back.
TEST(CommandLineRoundTrip, ReadJsonFeedsWriteFrom) {
    sim::SimulatedTransmitter device;
    ASSERT_TRUE(device.IsRunning());
    std::istringstream none;
    std::ostringstream read, written, err;
    CliStreams reading{none, read, err, {}, {}};
    ASSERT_EQ(RunCommandLine({"read", "--json", "--port", device.PortPath()}, reading), 0);
    std::istringstream piped(read.str());
    CliStreams writing{piped, written, err, {}, {}};
    EXPECT_EQ(RunCommandLine({"--port", device.PortPath(), "write", "--from", "-", "--compensation",
                              "on", "--verify"},
                             writing),
              0);
    EXPECT_EQ(written.str(),
              "wrote sensor K  upper 300  lower -50  output 4-20  fault high  compensation on\n"
              "verified\n");
    EXPECT_EQ(err.str(), "");
    EXPECT_EQ(Hex(device.ReceivedValues()),
              kRead + " AA AA 44 03 01 5E 80 32 01 00 00 00 00 00 01 00 " + kRead);
}

}  // namespace
