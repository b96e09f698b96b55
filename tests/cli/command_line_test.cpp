// transmitter-cli run in-process against the simulated transmitter: for each command line, what
// it prints, how it exits, and the exact bytes the device received (none for every refusal).

#include "cli/command_line.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <pty.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iterator>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/stop_signal.h"
#include "cli/transmitter_cli_version.h"
#include "journal/journal.h"
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
    kHeld,           // another opening of this program holds the port
    kFlockHeld,      // another opening holds a flock on it, and nothing else
    kExclusiveHeld,  // another opening put the terminal in exclusive mode, and nothing else
    kRecordLocked,   // another opening holds a POSIX lock on it, and nothing else
    kLockFile,       // a terminal program's lock file names a live process (init)
    kStaleLockFile,  // a lock file names a process that has ended
    kCtrlC,          // Ctrl+C comes as the device takes its first command
    kTerminated,     // a termination request comes as the device takes its first command
    kListedOnly,     // the platform lists the transmitter's port alone; --port is as the row has it
    kLinkHere,       // ./simport in the current folder leads to the transmitter
    kOutputFull,     // standard output is on a full disk
    kOutputGone,     // standard output's reader went away
    kTwoPorts,       // the platform lists ttyS0 and ttyUSB0, and no --port is given
    kNoPorts,        // the platform lists none, and no --port is given
};

struct CommandLineCase {
    const char* name;
    Device device = Device::kPlain;
    std::vector<std::string> args;  // --port and the device's path follow them; {path} is it
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

// The journal rows that write and adjust keep go to a folder of this test process's own, not
// to the user's.
const std::filesystem::path kDataFolder = [] {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                         ("cli-test-data-" + std::to_string(::getpid()));
    ::setenv("XDG_DATA_HOME", folder.c_str(), 1);
    return folder;
}();

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

// JSON as Windows PowerShell 5.1 saves what it redirects: UTF-16 with a byte-order mark.
std::string Utf16WithMark(const std::string& ascii, bool little_endian) {
    std::string bytes = little_endian ? "\xFF\xFE" : "\xFE\xFF";
    for (char c : ascii) bytes += little_endian ? std::string{c, '\0'} : std::string{'\0', c};
    return bytes;
}

// An output stream that fails as a full disk or a closed pipe does.
class FailingOutput : public std::streambuf {
  public:
    explicit FailingOutput(int error) : error_(error) {}

  protected:
    int overflow(int) override {
        errno = error_;
        return traits_type::eof();
    }

  private:
    int error_;
};

bool Given(const std::vector<std::string>& args, const std::string& option) {
    for (const std::string& arg : args) {
        if (arg == option || arg.rfind(option + "=", 0) == 0) return true;
    }
    return false;
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
        if (setup == Device::kCtrlC || setup == Device::kTerminated) {
            const int signal = setup == Device::kCtrlC ? SIGINT : SIGTERM;
            options.on_message = [signal](const sim::TraceEntry& e) {
                if (e.received.size() == 1) StopSignal() = signal;
            };
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
        const std::string path = transmitter->PortPath();
        if (setup == Device::kHeld) held = OpenSerialDevice(Utf16FromUtf8(path));
        if (setup == Device::kFlockHeld || setup == Device::kExclusiveHeld ||
            setup == Device::kRecordLocked) {
            other = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
            ASSERT_GE(other, 0);
        }
        if (setup == Device::kFlockHeld) {
            ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
        }
        if (setup == Device::kExclusiveHeld) {
            ASSERT_EQ(::ioctl(other, TIOCEXCL), 0);
        }
        if (setup == Device::kRecordLocked) {
            // An open file description's lock: another owner, though in this process.
            struct flock lock {};
            lock.l_type = F_WRLCK;
            lock.l_whence = SEEK_SET;
            ASSERT_EQ(::fcntl(other, F_OFD_SETLK, &lock), 0);
        }
        if (setup == Device::kLockFile || setup == Device::kStaleLockFile) {
            pid_t owner = 1;
            if (setup == Device::kStaleLockFile) {
                owner = ::fork();
                if (owner == 0) ::_exit(0);
                ::waitpid(owner, nullptr, 0);
            }
            lock_file = "/run/lock/LCK.." + Replaced(path.substr(5), "/", "_");
            std::ofstream(lock_file) << std::setw(10) << owner << '\n';
        }
        if (setup == Device::kLinkHere) {
            std::filesystem::remove("simport");
            std::filesystem::create_symlink(path, "simport");
        }
        std::vector<std::u16string> listed;
        if (setup == Device::kTwoPorts) listed = {u"ttyS0", u"ttyUSB0"};
        if (setup == Device::kListedOnly) listed = {Utf16FromUtf8(path)};
        if (setup == Device::kTwoPorts || setup == Device::kNoPorts ||
            setup == Device::kListedOnly) {
            SetPortListSource([listed] { return std::optional(listed); });
        }
    }
    void TearDown() override {
        std::filesystem::remove_all(kDataFolder);
        SetPortListSource({});
        if (other >= 0) {
            ::ioctl(other, TIOCNXCL);
            ::close(other);
        }
        if (!lock_file.empty()) std::filesystem::remove(lock_file);
        if (GetParam().device == Device::kLinkHere) std::filesystem::remove("simport");
    }

    std::unique_ptr<sim::SimulatedTransmitter> transmitter;
    std::atomic<bool> transmitter_ready{false};
    SerialPort held;
    int other = -1;
    std::string lock_file;
};

TEST_P(CommandLineTest, PrintsExitsAndSends) {
    const CommandLineCase& row = GetParam();
    const std::string port = Utf8FromUtf16(PortNameFromDevicePath(transmitter->PortPath()));
    std::vector<std::string> args;
    for (const std::string& arg : row.args) {
        args.push_back(Replaced(arg, "{path}", transmitter->PortPath()));
    }
    if (row.device != Device::kTwoPorts && row.device != Device::kNoPorts &&
        !Given(args, "--port")) {
        args.insert(args.end(), {"--port", transmitter->PortPath()});
    }
    std::istringstream in(row.in);
    std::ostringstream printed, err;
    FailingOutput failing(row.device == Device::kOutputFull ? ENOSPC : EPIPE);
    const bool fails = row.device == Device::kOutputFull || row.device == Device::kOutputGone;
    std::ostream out(fails ? static_cast<std::streambuf*>(&failing) : printed.rdbuf());
    CliStreams io{in, out, err,
                  [&row](const std::string& name) {
                      return name == "TRANSMITTER_ACCESS_CODE" ? row.access_code : std::nullopt;
                  },
                  [](std::istream&, std::ostream&) { return std::optional<std::string>(); }};

    EXPECT_EQ(RunCommandLine(args, io), row.exit_code);
    const std::regex time_stamp(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d)");
    EXPECT_EQ(std::regex_replace(printed.str(), time_stamp, "{time}"),
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

// A build without the central journal refuses --central as an option it does not know.
#ifdef CONFIGURATOR_WITH_CENTRAL
constexpr bool kCentral = true;
#else
constexpr bool kCentral = false;
#endif

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
    {"a port another opening holds exits 4", Device::kHeld, {"version"}, "", {}, 4, "",
     "transmitter-cli: cannot open {port}: busy (held by another program: lock file /run/lock/LCK..",
     ""},
    {"a port another program holds by flock alone exits 4", Device::kFlockHeld, {"version"}, "", {},
     4, "", "transmitter-cli: cannot open {port}: busy (held by another program: a lock on the "
     "device)\n", ""},
    {"a terminal another program put in exclusive mode exits 4, even for the superuser",
     Device::kExclusiveHeld, {"version"}, "", {}, 4, "",
     "transmitter-cli: cannot open {port}: busy (held by another program: exclusive mode)\n", ""},
    {"a port under a POSIX lock exits 4", Device::kRecordLocked, {"version"}, "", {}, 4, "",
     "transmitter-cli: cannot open {port}: busy (held by another program: a lock)\n", ""},
    {"a terminal program's lock file naming a live process exits 4", Device::kLockFile,
     {"version"}, "", {}, 4, "", "busy (held by another program: lock file /run/lock/LCK..", ""},
    {"a lock file whose process has ended is taken over", Device::kStaleLockFile, {"version"}, "",
     {}, 0, "1.0.3\n", "", "AA AA 43"},
    {"an empty --port is refused rather than taken for the default port", Device::kListedOnly,
     {"--port", "", "version"}, "", {}, 2, "", "transmitter-cli: --port is empty (see --help)\n",
     ""},
    {"a blank --port likewise", Device::kListedOnly, {"--port=  ", "unlock"}, "", {}, 2, "",
     "transmitter-cli: --port is empty (see --help)\n", ""},
    {"a --port with a blank after the name is refused, not trimmed", Device::kPlain,
     {"--port", "{path} ", "--json", "version"}, "", {}, 2, "", " has blanks around the name\n",
     ""},
    {"a --port with a slash is a path from the current folder", Device::kLinkHere,
     {"--port", "./simport", "version"}, "", {}, 0, "1.0.3\n", "", "AA AA 43"},
    {"Ctrl+C during read stops before the next exchange, exit 130", Device::kCtrlC, {"read"}, "",
     {}, 130, "", "transmitter-cli: read: interrupted by Ctrl+C\n", "AA AA 43"},
    {"a termination request ends a watch as a failure would, exit 143", Device::kTerminated,
     Words("cold-junction --watch 1 --count 5"), "", {}, 143, "{time}  23.4\n",
     "transmitter-cli: cold-junction: stopped by a termination request\n", "AA AA 45"},
    {"Ctrl+C ends a watch as --count would", Device::kCtrlC,
     Words("cold-junction --watch 1 --count 5"), "", {}, 0, "{time}  23.4\n", "", "AA AA 45"},
    {"read --json to a full disk exits 1 and says why", Device::kOutputFull, {"read", "--json"}, "",
     {}, 1, "", "transmitter-cli: cannot write the output: No space left on device\n", kRead},
    {"a watch whose reader went away ends quietly after its first line", Device::kOutputGone,
     Words("cold-junction --watch 1 --count 3"), "", {}, 141, "", "", "AA AA 45"},
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
    {"--upper 010 is ten degrees, as a person means it", Device::kPlain,
     Words("write --sensor K --upper 010 --lower 0 " + kEntry), "", {}, 0,
     "wrote sensor K  upper 10  lower 0  output 4-20  fault high  compensation on\n", "",
     "AA AA 44 03 00 0A 00 00 01 00 00 00 00 00 01 00"},
    {"--upper 0x10 is refused", Device::kPlain,
     Words("write --sensor K --upper 0x10 --lower 0 " + kEntry), "", {}, 2, "",
     "transmitter-cli: write: --upper: \"0x10\" is not a decimal whole number (see --help)\n", ""},
    {"--count takes decimals only too", Device::kPlain, Words("cold-junction --watch 1 --count 0x2"),
     "", {}, 2, "", "--count: \"0x2\" is not a decimal whole number", ""},
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
    {"write --from refuses a key given twice", Device::kPlain,
     Words("write --from - --compensation on"),
     R"({"sensor":"K","upper":300,"upper":1300,"lower":-50,"output":"4-20","fault":"high"})", {},
     2, "", "transmitter-cli: write: standard input: key \"upper\" is given twice\n", ""},
    {"write --from a folder is a usage error that says why", Device::kPlain,
     Words("write --from /"), "", {}, 2, "",
     "transmitter-cli: write: cannot read /: Is a directory\n", ""},
    {"write --from /dev/zero is refused without reading it whole", Device::kPlain,
     Words("write --from /dev/zero"), "", {}, 2, "",
     "transmitter-cli: write: /dev/zero is larger than 64 KiB: not a profile\n", ""},
    {"write --from takes a profile saved as UTF-16 little-endian", Device::kPlain,
     Words("write --from - --compensation on"),
     Utf16WithMark(R"({"sensor":"K","upper":300,"lower":-50,"output":"4-20","fault":"high"})",
                   true), {}, 0,
     "wrote sensor K  upper 300  lower -50  output 4-20  fault high  compensation on\n", "",
     "AA AA 44 03 01 5E 80 32 01 00 00 00 00 00 01 00"},
    {"write --from takes a profile saved as UTF-16 big-endian", Device::kPlain,
     Words("write --from - --compensation on"),
     Utf16WithMark(R"({"sensor":"K","upper":400,"lower":-50,"output":"4-20","fault":"high"})",
                   false), {}, 0,
     "wrote sensor K  upper 400  lower -50  output 4-20  fault high  compensation on\n", "",
     "AA AA 44 03 01 C2 80 32 01 00 00 00 00 00 01 00"},
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
    {"a central journal's URL with a password in it is refused before anything is sent",
     Device::kPlain, Words("write --central postgresql://station:secret@db/plant --sensor K "
                           "--upper 300 --lower 0 " + kEntry), "", {}, 2, "",
     kCentral ? "transmitter-cli: write: the connection string holds a password" : "--central", ""},
    {"an --operator that is no UTF-8 (typed in a CP1251 terminal) is refused, nothing sent",
     Device::kPlain, Words("write --operator \xcf\xe5\xf2\xf0 --sensor K --upper 300 --lower 0 " +
                           kEntry), "", {}, 2, "",
     "transmitter-cli: write: --operator \"\\xcf\\xe5\\xf2\\xf0\" is not UTF-8\n", ""},
    {"a --batch holding an escape sequence is refused, shown escaped", Device::kPlain,
     Words("station --ports {path} --count 1 --batch B\x1b]0;owned\x07 --sensor K --upper 300 "
           "--lower 0 " + kEntry), "", {}, 2, "",
     "transmitter-cli: station: --batch \"B\\e]0;owned\\x07\" holds a control character\n", ""},
    {"a profile's word holding a control character is refused, naming the field", Device::kPlain,
     Words("write --from - --compensation on"),
     R"({"sensor":"K\u001b[2J","upper":300,"lower":-50,"output":"4-20","fault":"high"})", {}, 2,
     "", "transmitter-cli: write: standard input: sensor \"K\\e[2J\" holds a control character\n",
     ""},
    {"--ports , (two unset variables) is refused, and the next option never becomes a port",
     Device::kPlain, Words("station --ports , --batch {path} --count 1 --sensor K --upper 300 "
                           "--lower 0 " + kEntry), "", {}, 2, "",
     "transmitter-cli: station: --ports holds an empty name", ""},
    {"a journal named as a Windows device is refused before anything is opened", Device::kPlain,
     Words("write --journal folder/com5.sqlite3 --sensor K --upper 300 --lower 0 " + kEntry), "",
     {}, 2, "", "transmitter-cli: write: cannot use the journal: folder/com5.sqlite3 is named as "
     "a device that Windows keeps (COM5), not a file\n", ""},
    {"a journal that is a device is never opened", Device::kPlain,
     Words("station --ports {path} --journal {path} --count 1 --sensor K --upper 300 --lower 0 " +
           kEntry), "", {}, 2, "", " is not a regular file\n", ""},
    {"journal --import of a device is refused", Device::kPlain, Words("journal --import {path}"), "",
     {}, 2, "", "transmitter-cli: journal: cannot import: ", ""},
    {"a station whose reader went away ends as after Ctrl+C, quietly, exit 141",
     Device::kOutputGone, Words("station --ports {path} --sensor K --upper 300 --lower 0 " + kEntry),
     "", {}, 141, "", "", ""},
    {"--central with --no-journal is refused: the rows it forwards are the journal's",
     Device::kPlain, Words("write --no-journal --central dbname=plant --sensor K --upper 300 "
                           "--lower 0 " + kEntry), "", {}, 2, "",
     kCentral ? "--central and --no-journal exclude each other" : "--central", ""},
    {"a central journal's URL with the client key's sslpassword in it is refused as a password",
     Device::kPlain, Words("write --central postgresql://db/plant?sslpassword=secret --sensor K "
                           "--upper 300 --lower 0 " + kEntry), "", {}, 2, "",
     kCentral ? "transmitter-cli: write: the connection string holds a password" : "--central", ""},
    {"journal refuses a --since that is not in the calendar before it opens anything",
     Device::kPlain, Words("journal --since 2026-13-45"), "", {}, 2, "",
     "transmitter-cli: journal: --since \"2026-13-45\" is no ISO 8601 date or time", ""},
    {"journal lists no device as a journal", Device::kPlain, Words("journal --journal {path}"), "",
     {}, 2, "", "is not a regular file", ""},
    {"a unit prefix of other than letters and digits is refused before anything is sent",
     Device::kPlain, Words("write --unit-prefix B-1 --sensor K --upper 300 --lower 0 " + kEntry),
     "", {}, 2, "", "a unit prefix is 1 to 8 letters (A-Z) and digits", ""},
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


// write and adjust keep a row per unit, as the station does, unless told not to.
TEST(CommandLineJournal, WriteAndAdjustKeepTheirRowsUnlessToldNot) {
    sim::SimulatedTransmitter device;
    ASSERT_TRUE(device.IsRunning());
    std::istringstream none;
    std::ostringstream out, err;
    CliStreams io{none, out, err,
                  [](const std::string& name) {
                      return name == "TRANSMITTER_ACCESS_CODE" ? std::optional<std::string>("8163")
                                                               : std::nullopt;
                  },
                  {}};
    const std::vector<std::string> port{"--port", device.PortPath()};
    const auto run = [&](std::vector<std::string> args) {
        args.insert(args.end(), port.begin(), port.end());
        return RunCommandLine(args, io);
    };
    EXPECT_EQ(run(Words("write --verify --batch b1 --operator ann --unit-prefix l2 " + kEntry +
                        " --sensor K --upper 300 --lower -50")), 0);
    EXPECT_EQ(run(Words("write --sensor K --upper 9000 --lower 0 " + kEntry)), 2);
    EXPECT_EQ(run(Words("write --no-journal --sensor K --upper 300 --lower 0 " + kEntry)), 0);
    device.SetAdjustmentErrorTenths(15);
    EXPECT_EQ(run(Words("adjust 25 --batch b1")), 1);
    // A port that is not there holds no unit: no row, no number taken.
    EXPECT_EQ(RunCommandLine(
                  Words("write --port /dev/no-such-port --sensor K --upper 1 --lower 0 " + kEntry),
                  io),
              4);

    std::string error;
    const auto journal = journal::Journal::Open(journal::DefaultJournalPath(), error);
    ASSERT_TRUE(journal) << error;
    const std::vector<journal::UnitRow> rows = journal->Rows({}, error);
    ASSERT_EQ(rows.size(), 2u) << err.str();
    const std::string shown = Utf8FromUtf16(PortNameFromDevicePath(device.PortPath()));
    // Named as the station names its slots.
    EXPECT_EQ(rows[0].slot, device.PortPath());
    // The journal goes on with the prefix it was given.
    EXPECT_EQ(rows[0].unit + " " + rows[1].unit, "L2-0001 L2-0002");
    EXPECT_EQ(rows[0].operator_name, "ann");
    EXPECT_EQ(rows[0].verdict, "pass");
    EXPECT_EQ(rows[0].as_left, "{\"port\":\"" + shown + "\",\"firmware\":\"1.0.3\",\"sensor\":\"K\","
                               "\"upper\":300,\"lower\":-50,\"output\":\"4-20\",\"fault\":\"high\"}");
    EXPECT_EQ(rows[1].profile, "{\"adjust_to\":25.0}");
    EXPECT_EQ(rows[1].verdict, "fail");
    EXPECT_EQ(rows[1].error, "the transmitter reads 26.5, 1.5 from 25.0");
    EXPECT_EQ(rows[1].cold_junction, 26.5);
    // A row another program wrote, its profile no JSON, still lists as one JSON object.
    journal::UnitRow foreign = rows[0];
    foreign.id.clear();
    foreign.profile = "not json";
    foreign.batch = "b2";
    foreign.finished_at.clear();
    foreign.verdict.clear();
    ASSERT_TRUE(journal->Begin(foreign, error)) << error;
    foreign.id.clear();
    foreign.batch = "Партия\x1b]0;x\x07";
    ASSERT_TRUE(journal->Begin(foreign, error)) << error;
    out.str("");
    EXPECT_EQ(RunCommandLine({"journal", "--json"}, io), 0);
    EXPECT_NE(out.str().find(",\"profile\":\"not json\","), std::string::npos) << out.str();
    out.str("");
    EXPECT_EQ(RunCommandLine({"journal", "--summary", "--json", "--batch", "b2"}, io), 0);
    EXPECT_NE(out.str().find("\"last_finished_at\":null}"), std::string::npos) << out.str();
    // The table shows that batch escaped, and every slot in the header's column.
    out.str("");
    EXPECT_EQ(RunCommandLine({"journal"}, io), 0);
    EXPECT_NE(out.str().find("Партия\\e]0;x\\x07  "), std::string::npos) << out.str();
    std::istringstream table(out.str());
    std::set<std::size_t> slot_columns;
    for (std::string line; std::getline(table, line);) {
        const std::u16string shown = Utf16FromUtf8(line);
        slot_columns.insert(shown.find(line.starts_with("UNIT") ? u"SLOT" : u"/dev/"));
    }
    EXPECT_EQ(slot_columns.size(), 1u) << out.str();
    std::filesystem::remove_all(kDataFolder);
}

// ---------------------------------------------------------------------------------------------
// The program itself on a terminal, ended by a signal: at the access-code prompt it puts the
// echo back; with a port open it closes it the normal way and exits with the signal's code.

// kAtConnect: a server ({server} its port on 127.0.0.1) that takes the connection and says
// nothing; kAtLookup: a name server (127.0.0.2, the program's only one) that takes the query and
// says nothing.
enum class When { kAtPrompt, kAtFirstByte, kAtConnect, kAtLookup };

struct SignalCase {
    const char* name;
    std::vector<std::string> args;  // --port and the device's path follow them
    When when;
    int signal;
    int exit_code;   // -1: ended by the signal itself
};
void PrintTo(const SignalCase& row, std::ostream* os) {
    *os << row.name;
}

class SignalTest : public ::testing::TestWithParam<SignalCase> {};

TEST_P(SignalTest, LeavesTheTerminalAndThePortAsTheyWere) {
    const SignalCase& row = GetParam();
    const bool lookup = row.when == When::kAtLookup;
    if ((row.when == When::kAtConnect || lookup) && !kCentral) GTEST_SKIP() << "no central journal";
    const int listener = ::socket(AF_INET, (lookup ? SOCK_DGRAM : SOCK_STREAM) | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(lookup ? 0x7F000002 : INADDR_LOOPBACK);
    address.sin_port = htons(lookup ? 53 : 0);
    socklen_t length = sizeof address;
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(listener);
        GTEST_SKIP() << "cannot be a name server here: " << std::strerror(errno);
    }
    if (!lookup) {
        ASSERT_EQ(::listen(listener, 1), 0);
    }
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    const std::string resolver = (std::filesystem::temp_directory_path() /
                                  ("cli-test-resolv-" + std::to_string(::getpid())))
                                     .string();
    std::ofstream(resolver) << "nameserver 127.0.0.2\noptions timeout:5 attempts:3\n";
    int accepted = -1;
    std::atomic<bool> heard{false};
    sim::Options options;
    options.on_message = [&heard](const sim::TraceEntry&) { heard = true; };
    sim::SimulatedTransmitter device(options);
    ASSERT_TRUE(device.IsRunning());

    std::vector<std::string> words{TRANSMITTER_CLI};
    for (const std::string& arg : row.args) {
        words.push_back(Replaced(arg, "{server}", std::to_string(ntohs(address.sin_port))));
    }
    words.insert(words.end(), {"--port", device.PortPath()});
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    int terminal = -1;
    const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::unsetenv("TRANSMITTER_ACCESS_CODE");
        // The test's name server for this program alone, in a mount namespace of its own.
        const char* resolv_conf = "/etc/resolv.conf";
        if (lookup && (::unshare(CLONE_NEWNS) != 0 ||
                       ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                       ::mount(resolver.c_str(), resolv_conf, nullptr, MS_BIND, nullptr) != 0)) {
            ::_exit(77);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }

    std::string shown;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    const auto ready = [&] {
        if (row.when == When::kAtConnect || lookup) {
            pollfd pending{listener, POLLIN, 0};
            if (accepted < 0 && ::poll(&pending, 1, 0) > 0) {
                accepted = lookup ? 0 : ::accept(listener, nullptr, nullptr);
            }
            return accepted >= 0;
        }
        return row.when == When::kAtPrompt ? shown.find("Access code: ") != std::string::npos
                                           : heard.load();
    };
    while (!ready() && std::chrono::steady_clock::now() < deadline) {
        pollfd wait{terminal, POLLIN, 0};
        char bytes[256];
        if (::poll(&wait, 1, 10) > 0) {
            const ssize_t n = ::read(terminal, bytes, sizeof bytes);
            if (n > 0) shown.append(bytes, static_cast<std::size_t>(n));
        }
    }
    std::filesystem::remove(resolver);
    if (lookup && !ready()) {
        int status = 0;
        ::kill(child, SIGKILL);
        ::waitpid(child, &status, 0);
        ::close(listener);
        GTEST_SKIP() << "no mount namespace, or names are not looked up through resolv.conf";
    }
    ASSERT_TRUE(ready()) << shown;
    // Into the prompt's read, or the wait after the preamble.
    std::this_thread::sleep_for(100ms);
    ::kill(child, row.signal);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);

    if (row.exit_code < 0) {
        // ThreadSanitizer holds a signal raised in a handler until the interrupted read has
        // returned, when the program ends by itself, having no code.
        const bool refused = WIFEXITED(status) && WEXITSTATUS(status) == 2;
        EXPECT_TRUE((WIFSIGNALED(status) && WTERMSIG(status) == row.signal) || refused) << status;
    } else {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == row.exit_code) << status;
    }
    if (accepted > 0) ::close(accepted);
    ::close(listener);
    termios settings{};
    ASSERT_EQ(::tcgetattr(terminal, &settings), 0);
    EXPECT_NE(settings.c_lflag & ECHO, 0u);
    ::close(terminal);
    // The device keeps its end open, so exclusive mode left on would refuse the next opening.
    const int port = ::open(device.PortPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    int exclusive = -1;
    EXPECT_EQ(::ioctl(port, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    ::close(port);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, SignalTest, ::testing::ValuesIn(std::vector<SignalCase>{
    {"Ctrl+C at the access-code prompt", {"adjust", "25"}, When::kAtPrompt, SIGINT, -1},
    {"Ctrl+\\ at the access-code prompt", {"adjust", "25"}, When::kAtPrompt, SIGQUIT, -1},
    {"a hang-up at the access-code prompt", {"adjust", "25"}, When::kAtPrompt, SIGHUP, -1},
    {"Ctrl+C with the port open exits 130", {"read"}, When::kAtFirstByte, SIGINT, 130},
    {"a termination request with the port open exits 143", {"read"}, When::kAtFirstByte, SIGTERM,
     143},
    {"a hang-up with the port open exits 129", {"version"}, When::kAtFirstByte, SIGHUP, 129},
    {"Ctrl+C while the central journal's server says nothing exits 130",
     {"journal", "--central", "host=127.0.0.1 port={server} dbname=plant connect_timeout=60"},
     When::kAtConnect, SIGINT, 130},
    {"Ctrl+C while the central journal's name server says nothing exits 130",
     {"journal", "--central", "host=db.plant.example dbname=plant"}, When::kAtLookup, SIGINT,
     130},
}));
// clang-format on

}  // namespace
