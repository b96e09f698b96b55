#include "tests/serial/pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

PtyPair::PtyPair() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) return;
    if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        CloseMaster();
        return;
    }
    char name[128] = {};
    if (::ptsname_r(master_, name, sizeof name) != 0) {
        CloseMaster();
        return;
    }
    port_path_ = name;
    termios raw{};
    if (::tcgetattr(master_, &raw) == 0) {
        ::cfmakeraw(&raw);
        ::tcsetattr(master_, TCSANOW, &raw);
    }
    observer_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

PtyPair::~PtyPair() {
    CloseMaster();
    if (observer_ >= 0) ::close(observer_);
}

std::u16string PtyPair::PortName() const {
    return std::u16string(port_path_.begin(), port_path_.end());
}

void PtyPair::DeviceWrite(const std::vector<std::uint8_t>& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + sent, bytes.size() - sent);
        if (n <= 0) return;
        sent += static_cast<std::size_t>(n);
    }
}

std::vector<std::uint8_t> PtyPair::DeviceRead(std::size_t count, std::chrono::milliseconds quiet) {
    std::vector<std::uint8_t> bytes;
    while (bytes.size() < count) {
        pollfd poll_fd{master_, POLLIN, 0};
        if (::poll(&poll_fd, 1, static_cast<int>(quiet.count())) <= 0) break;
        if ((poll_fd.revents & POLLIN) == 0) break;
        std::uint8_t chunk[64];
        const std::size_t want = std::min(sizeof chunk, count - bytes.size());
        const ssize_t n = ::read(master_, chunk, want);
        if (n <= 0) break;
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
}

void PtyPair::CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
}

std::size_t PtyPair::UnreadInput() const {
    int waiting = 0;
    if (::ioctl(observer_, FIONREAD, &waiting) != 0) return 0;
    return static_cast<std::size_t>(waiting);
}

std::size_t PtyPair::WaitForUnreadInput(std::size_t count, std::chrono::milliseconds limit) const {
    const auto until = std::chrono::steady_clock::now() + limit;
    std::size_t waiting = UnreadInput();
    while (waiting != count && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        waiting = UnreadInput();
    }
    return waiting;
}
