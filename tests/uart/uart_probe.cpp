// uart-probe: what the test guest's shell cannot ask busybox for.
//   uart-probe now                  the monotonic clock in milliseconds
//   uart-probe lines PID PORT       DTR and RTS as the driver reports them, "DTR on RTS off"
//   uart-probe settings PID PORT    the driver's line settings, in the form the host's stty
//                                   answer takes: "9600 cs8 -parenb -cstopb -crtscts -ixon -ixoff"
//   uart-probe sql FILE QUERY       each row of an SQLite query, its columns separated by "|"
//                                   (the guest has no sqlite3 shell); exit 1 when it cannot run
// lines and settings read the descriptor that process PID holds on /dev/PORT, taken over (pidfd_getfd) rather
// than opened anew: every opening of a terminal raises DTR and RTS again.

#include <sqlite3.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>

namespace {

int TakeOver(const char* pid, const char* port) {
    const std::string device = std::string("/dev/") + port;
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string("/proc/") + pid + "/fd", error)) {
        if (std::filesystem::read_symlink(entry.path(), error) != device) continue;
        const int process = static_cast<int>(syscall(SYS_pidfd_open, std::stoi(pid), 0));
        return static_cast<int>(
            syscall(SYS_pidfd_getfd, process, std::stoi(entry.path().filename()), 0));
    }
    errno = ENOENT;
    return -1;
}

const char* Flag(const termios& settings, tcflag_t termios::*field, tcflag_t flag, const char* on,
                 const char* off) {
    return (settings.*field & flag) ? on : off;
}

int Query(const char* file, const char* query) {
    sqlite3* db = nullptr;
    sqlite3_stmt* statement = nullptr;
    int status = sqlite3_open_v2(file, &db, SQLITE_OPEN_READWRITE, nullptr);
    if (status == SQLITE_OK) status = sqlite3_prepare_v2(db, query, -1, &statement, nullptr);
    while (status == SQLITE_OK && (status = sqlite3_step(statement)) == SQLITE_ROW) {
        for (int i = 0; i < sqlite3_column_count(statement); ++i) {
            const unsigned char* text = sqlite3_column_text(statement, i);
            std::printf("%s%s", i > 0 ? "|" : "", text ? reinterpret_cast<const char*>(text) : "");
        }
        std::printf("\n");
        status = SQLITE_OK;
    }
    if (status != SQLITE_DONE) std::printf("%s: %s\n", file, sqlite3_errmsg(db));
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return status == SQLITE_DONE ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "now") == 0) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        std::printf("%lld\n", static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000);
        return 0;
    }
    if (argc == 4 && std::strcmp(argv[1], "sql") == 0) return Query(argv[2], argv[3]);
    const bool lines = argc == 4 && std::strcmp(argv[1], "lines") == 0;
    const bool settings = argc == 4 && std::strcmp(argv[1], "settings") == 0;
    if (!lines && !settings) {
        std::fputs("usage: uart-probe now | lines PID PORT | settings PID PORT | sql FILE QUERY\n", stderr);
        return 2;
    }
    const int fd = TakeOver(argv[2], argv[3]);
    int modem = 0;
    termios now{};
    if (fd < 0 || (lines ? ioctl(fd, TIOCMGET, &modem) : tcgetattr(fd, &now)) != 0) {
        std::printf("process %s, %s: %s\n", argv[2], argv[3], std::strerror(errno));
        return 1;
    }
    if (lines) {
        std::printf("DTR %s RTS %s\n", (modem & TIOCM_DTR) ? "on" : "off",
                    (modem & TIOCM_RTS) ? "on" : "off");
        return 0;
    }
    const speed_t speed = cfgetospeed(&now);
    const unsigned csize = (now.c_cflag & CSIZE) == CS8   ? 8
                           : (now.c_cflag & CSIZE) == CS7 ? 7
                           : (now.c_cflag & CSIZE) == CS6 ? 6
                                                          : 5;
    std::printf("%s cs%u %s %s %s %s %s\n", speed == B9600 ? "9600" : "not-9600", csize,
                Flag(now, &termios::c_cflag, PARENB, "parenb", "-parenb"),
                Flag(now, &termios::c_cflag, CSTOPB, "cstopb", "-cstopb"),
                Flag(now, &termios::c_cflag, CRTSCTS, "crtscts", "-crtscts"),
                Flag(now, &termios::c_iflag, IXON, "ixon", "-ixon"),
                Flag(now, &termios::c_iflag, IXOFF, "ixoff", "-ixoff"));
    return 0;
}
