// The serial-port backend on POSIX terminals (Linux and macOS).

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>

#include "serial/device_path.h"
#include "serial/serial_port.h"

namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point DeadlineFor(std::uint32_t per_byte_ms, std::uint32_t constant_ms,
                              std::size_t count) {
    const auto total = std::chrono::milliseconds(per_byte_ms) * static_cast<long long>(count) +
                       std::chrono::milliseconds(constant_ms);
    return Clock::now() + total;
}

// Milliseconds left until `deadline`, rounded up so that poll never wakes just before it.
int MillisecondsLeft(Clock::time_point deadline) {
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return 0;
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

// A terminal without modem lines (a pseudo-terminal, some USB adapters) refuses these requests;
// the link works without them.
bool SetModemLine(int fd, unsigned long request, int line) {
    if (::ioctl(fd, request, &line) == 0) return true;
    return errno == ENOTTY || errno == EINVAL;
}

#ifdef __linux__
// Whether some descriptor holds the lock this backend takes on the device at `path`, as
// /proc/locks lists it ("1: FLOCK  ADVISORY  WRITE 321 00:05:87 0 EOF"). Every opening of a
// terminal raises DTR and RTS again, under the program that holds it: the superuser, whom
// exclusive mode does not keep out, would do so only to find the lock taken.
bool LockedByAnother(const std::string& path) {
    struct stat device {};
    if (::stat(path.c_str(), &device) != 0) return false;
    std::ifstream locks("/proc/locks");
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string index, kind, mode, access, pid, id;
        if (!(fields >> index >> kind >> mode >> access >> pid >> id) || kind != "FLOCK") continue;
        unsigned major = 0;
        unsigned minor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(id.c_str(), "%x:%x:%llu", &major, &minor, &inode) != 3) continue;
        if (makedev(major, minor) == device.st_dev && inode == device.st_ino) return true;
    }
    return false;
}
#endif

// Busy is the same to the user whichever way it came: the system's words for a refused lock
// ("Resource temporarily unavailable") or for a terminal in exclusive mode ("Device or resource
// busy") would not say that another program holds the port.
constexpr std::string_view kHeldByAnother = "held by another program";

OpenFailure FailureFromErrno(int error) {
    if (error == EBUSY || error == EWOULDBLOCK) {
        return OpenFailure{OpenFailure::Kind::kBusy, std::string(kHeldByAnother)};
    }
    OpenFailure failure{OpenFailure::Kind::kOther, std::generic_category().message(error)};
    switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            failure.kind = OpenFailure::Kind::kMissing;
            break;
        case EACCES:
        case EPERM:
            failure.kind = OpenFailure::Kind::kNoPermission;
            break;
        default:
            break;
    }
    return failure;
}

}  // namespace

void SerialPort::Close() {
    if (native == kInvalid) return;
    // Exclusive mode belongs to the terminal, not to this descriptor: left on, it would keep
    // refusing openings for as long as anyone else holds the terminal open.
    ::ioctl(native, TIOCNXCL);
    ::close(native);
    native = kInvalid;
}

SerialPort OpenSerialDevice(std::u16string_view name, OpenFailure* failure) {
    SerialPort port;
    const std::string path = DevicePathFromPortName(name);
#ifdef __linux__
    if (LockedByAnother(path)) {
        if (failure != nullptr) *failure = FailureFromErrno(EWOULDBLOCK);
        return port;
    }
#endif
    // Without O_NONBLOCK the open of a modem line would wait for carrier detect.
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (failure != nullptr) *failure = FailureFromErrno(errno);
        return port;
    }
    port.native = fd;
    // The lock keeps out every other program that asks for it, the superuser included; the
    // terminal's exclusive mode keeps out ordinary users who do not.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        port.native = SerialPort::kInvalid;
        if (failure != nullptr) *failure = FailureFromErrno(error);
        return port;
    }
    ::ioctl(fd, TIOCEXCL);
    // The descriptor stays non-blocking: a blocking write, once poll reports some room, would
    // wait until the whole frame fits, past its time-out. Reads and writes wait in poll instead.
    return port;
}

bool ReadLineSettings(SerialPort& port) {
    termios settings{};
    return ::tcgetattr(port.native, &settings) == 0;
}

bool ApplyLineSettings(SerialPort& port) {
    termios settings{};
    if (::tcgetattr(port.native, &settings) != 0) return false;

    settings.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                               ICRNL | IXON | IXOFF | IXANY | INPCK);
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
#ifdef CRTSCTS
    settings.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
#endif
    settings.c_cflag |= CS8 | CREAD | CLOCAL;
    // Reads wait in poll with their own deadline; the terminal itself never holds them.
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    if (::cfsetispeed(&settings, B9600) != 0 || ::cfsetospeed(&settings, B9600) != 0) return false;
    if (::tcsetattr(port.native, TCSANOW, &settings) != 0) return false;

    return SetModemLine(port.native, TIOCMBIS, TIOCM_DTR) &&
           SetModemLine(port.native, TIOCMBIC, TIOCM_RTS);
}

void SetEventMaskAndQueues(SerialPort&) {
    // A terminal reports readiness through poll and sizes its own queues.
}

bool ApplyTimeouts(SerialPort& port, const PortTimeouts& timeouts) {
    port.timeouts = timeouts;
    return port.IsOpen();
}

void DiscardBuffers(SerialPort& port) {
    // write() returns before the bytes leave the line, so a discard right after a send would
    // drop the frame; wait for the transmit queue to empty, within the write time-out. (On a
    // pseudo-terminal, flushing output would even drop the bytes the other side has not read.)
    // The wait is that of a write of the queued bytes; this program never queues more than one
    // frame, so a longer queue (someone else's) gets no more than a frame's time.
    constexpr std::size_t kLongestFrame = 255;
    int queued = 0;
    if (::ioctl(port.native, TIOCOUTQ, &queued) == 0 && queued > 0) {
        const auto deadline =
            DeadlineFor(port.timeouts.write_per_byte_ms, port.timeouts.write_constant_ms,
                        std::min(static_cast<std::size_t>(queued), kLongestFrame));
        while (queued > 0 && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            if (::ioctl(port.native, TIOCOUTQ, &queued) != 0) break;
        }
    }
    // Input that a waiting read is owed is that read's, not the discard's.
    if (port.pending_reads.load() == 0) ::tcflush(port.native, TCIFLUSH);
}

long ReadSerial(SerialPort& port, std::uint8_t* buffer, std::size_t count) {
    PendingRead pending(port.pending_reads);
    const auto deadline =
        DeadlineFor(port.timeouts.read_per_byte_ms, port.timeouts.read_constant_ms, count);
    std::size_t received = 0;
    while (received < count) {
        pollfd poll_fd{port.native, POLLIN, 0};
        const int ready = ::poll(&poll_fd, 1, MillisecondsLeft(deadline));
        if (ready < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (ready == 0) break;
        if ((poll_fd.revents & POLLIN) == 0) return -1;  // hang-up, error or a bad descriptor
        const ssize_t n = ::read(port.native, buffer + received, count - received);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return -1;
        }
        if (n == 0 && (poll_fd.revents & (POLLHUP | POLLERR)) != 0) return -1;
        received += static_cast<std::size_t>(n);
    }
    return static_cast<long>(received);
}

long WriteSerial(SerialPort& port, const std::uint8_t* data, std::size_t count) {
    const auto deadline =
        DeadlineFor(port.timeouts.write_per_byte_ms, port.timeouts.write_constant_ms, count);
    std::size_t sent = 0;
    while (sent < count) {
        pollfd poll_fd{port.native, POLLOUT, 0};
        const int ready = ::poll(&poll_fd, 1, MillisecondsLeft(deadline));
        if (ready < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (ready == 0) break;
        if ((poll_fd.revents & POLLOUT) == 0) return -1;
        const ssize_t n = ::write(port.native, data + sent, count - sent);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return -1;
        }
        sent += static_cast<std::size_t>(n);
    }
    return static_cast<long>(sent);
}
