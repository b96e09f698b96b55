#include "cli/stop_signal.h"

#include <csignal>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#endif

namespace {

static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");
std::atomic<int> stop_signal{0};

#ifdef _WIN32
BOOL WINAPI NoteConsoleEvent(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            stop_signal = SIGINT;
            return TRUE;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            stop_signal = SIGTERM;
            // Windows ends the process as soon as this returns; the main thread ends it itself
            // once its port is closed, well within the seconds Windows allows.
            ::Sleep(INFINITE);
            return TRUE;
        default:
            return FALSE;
    }
}
#else
void NoteSignal(int signal) {
    stop_signal = signal;
}
#endif

}  // namespace

std::atomic<int>& StopSignal() {
    return stop_signal;
}

void InstallStopHandlers() {
#ifdef _WIN32
    ::SetConsoleCtrlHandler(NoteConsoleEvent, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = NoteSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a wait on standard input ends with the signal instead of going on.
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
    // A reader that went away shows as a failed write, which the program reports itself.
    ::signal(SIGPIPE, SIG_IGN);
#endif
}

int ExitCodeForSignal(int signal) {
    return 128 + signal;
}

std::string StopReason(int signal) {
    if (signal == SIGINT) return "interrupted by Ctrl+C";
#ifdef SIGHUP
    if (signal == SIGHUP) return "stopped: the terminal hung up";
#endif
    if (signal == kOutputGoneSignal) return "stopped: the output's reader went away";
    return "stopped by a termination request";
}
