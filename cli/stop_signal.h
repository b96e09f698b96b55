#pragma once

#include <atomic>
#include <csignal>
#include <string>

// The stop asked for when standard output's reader went away: SIGPIPE's number, which Windows
// lacks, so that the exit code is 141 there too.
#ifdef SIGPIPE
inline constexpr int kOutputGoneSignal = SIGPIPE;
#else
inline constexpr int kOutputGoneSignal = 13;
#endif

// A request to stop, from Ctrl+C, a termination request or a hang-up: the signal's number
// (SIGINT, SIGTERM, SIGHUP; on Windows the console's Ctrl+C and Ctrl+Break count as SIGINT,
// its close, log-off and shut-down as SIGTERM), 0 while none has come. The exchanges stop at
// their next safe point, between frames, and close their port the normal way.
std::atomic<int>& StopSignal();

// Notes those signals in StopSignal() instead of ending the program where it stands, which
// would leave a terminal that another program also holds open in exclusive mode.
void InstallStopHandlers();

// What the shell reports for a program its signal ended: 130 after Ctrl+C, 143 after a
// termination request, 129 after a hang-up.
int ExitCodeForSignal(int signal);

// "interrupted by Ctrl+C", "stopped by a termination request", ...
std::string StopReason(int signal);
