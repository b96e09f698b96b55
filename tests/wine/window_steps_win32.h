#pragma once

#include <string_view>
#include <vector>

#include "tests/wine/window_case.h"
#include "tests/wine/window_driver.h"

namespace e2e {

// Runs the steps against the running program, reporting the first step that does not come true
// as a test failure; returns whether all did. `port` is the COM port the case's texts name.
bool RunSteps(ProgramRun& run, const std::vector<Step>& steps, std::wstring_view port);

}  // namespace e2e
