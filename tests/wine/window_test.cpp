// The real transmitter-configurator.exe under Wine, driven through its window against a
// simulated transmitter of its own per case, as scripts/wine-window-tests.sh sets them up.
//
// Environment:
//   CONFIGURATOR_EXE            the program, as a Windows path
//   CONFIGURATOR_WINDOW_CASES   the list of the cases' transmitters (see window_transmitters.h)
// With --print-transmitters, the driver only prints "case transmitter-sim-options" lines for the
// cases that want a transmitter, and ends.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/wine/window_case.h"
#include "tests/wine/window_driver.h"
#include "tests/wine/window_steps_win32.h"
#include "tests/wine/window_transmitters.h"

namespace e2e {

std::wstring ProgramPath() {
    const char* path = std::getenv("CONFIGURATOR_EXE");
    const std::string text = path ? path : "";
    return std::wstring(text.begin(), text.end());
}

namespace {

// Listed, but nothing opens there: the script maps it to a folder.
constexpr wchar_t kEmptyPort[] = L"COM7";

class InTheWindow : public testing::TestWithParam<WindowCase> {};

TEST_P(InTheWindow, ShowsAndSendsWhatTheTechnicianExpects) {
    const WindowCase& row = GetParam();
    std::wstring port = kEmptyPort;
    std::string trace;
    if (row.transmitter != nullptr) {
        const std::optional<CaseTransmitter> transmitter = TransmitterFor(row.name);
        ASSERT_TRUE(transmitter)
            << "no transmitter for this case; run scripts/wine-window-tests.sh";
        port = transmitter->port;
        trace = transmitter->trace;
    }
    ASSERT_TRUE(ListOnlySerialPort(port));
    ProgramRun run(ProgramPath());
    ASSERT_NE(run.Window(), nullptr) << "the main window never opened";

    RunSteps(run, row.steps, port);

    if (row.transmitter != nullptr) {
        const std::vector<std::string> wanted(row.wire.begin(), row.wire.end());
        EXPECT_EQ(SettledMessages(trace, wanted.size()), wanted);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, InTheWindow, testing::ValuesIn(WindowCases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace e2e

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--print-transmitters") != 0) continue;
        for (const e2e::WindowCase& row : e2e::WindowCases()) {
            if (row.transmitter != nullptr) std::printf("%s %s\n", row.name, row.transmitter);
        }
        return 0;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
