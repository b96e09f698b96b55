// uart-probe: what the test guest's shell cannot ask busybox for.
//   uart-probe now          the monotonic clock in milliseconds
//   uart-probe lines PID PORT
//                           DTR and RTS as the driver reports them on the descriptor that
//                           process PID holds on /dev/PORT, e.g. "DTR on RTS off"
// The descriptor is taken over from the process (pidfd_getfd) rather than opened anew: every
// opening of a terminal raises DTR and RTS again.

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

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "now") == 0) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        std::printf("%lld\n", static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000);
        return 0;
    }
    if (argc == 4 && std::strcmp(argv[1], "lines") == 0) {
        const std::string device = std::string("/dev/") + argv[3];
        const std::string fds = std::string("/proc/") + argv[2] + "/fd";
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(fds, error)) {
            if (std::filesystem::read_symlink(entry.path(), error) != device) continue;
            const int process = static_cast<int>(syscall(SYS_pidfd_open, std::stoi(argv[2]), 0));
            const int fd = static_cast<int>(
                syscall(SYS_pidfd_getfd, process, std::stoi(entry.path().filename()), 0));
            int lines = 0;
            if (fd < 0 || ioctl(fd, TIOCMGET, &lines) != 0) {
                std::printf("TIOCMGET failed: %s\n", std::strerror(errno));
                return 1;
            }
            std::printf("DTR %s RTS %s\n", (lines & TIOCM_DTR) ? "on" : "off",
                        (lines & TIOCM_RTS) ? "on" : "off");
            return 0;
        }
        std::printf("process %s holds no %s\n", argv[2], device.c_str());
        return 1;
    }
    std::fputs("usage: uart-probe now | lines PID PORT\n", stderr);
    return 2;
}
