// The serial-port backend on POSIX terminals (Linux and macOS).

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
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

// Busy is the same to the user whichever way it came: the system's words for a refused lock
// ("Resource temporarily unavailable") or for a terminal in exclusive mode ("Device or resource
// busy") would not say that another program holds the port.
OpenFailure Busy(std::string how) {
    return OpenFailure{OpenFailure::Kind::kBusy, std::move(how)};
}

OpenFailure FailureFromErrno(int error) {
    if (error == EBUSY || error == EWOULDBLOCK) return Busy("exclusive mode or a lock");
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

// "process 812 (minicom)", the name where the system tells it.
std::string ProcessText(pid_t pid) {
    std::string text = "process " + std::to_string(pid);
    std::ifstream command("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    if (std::getline(command, name) && !name.empty()) text += " (" + name + ")";
    return text;
}

// ---- Lock files --------------------------------------------------------------------------
// Terminal programs (minicom, picocom, cu) mark a device they use with LCK..ttyUSB0 in the
// system's lock folder, holding their process id in ASCII. Taking the same mark before the
// device is opened keeps this program from opening a device such a program uses, and a second
// instance from opening the first one's: every opening of a terminal raises DTR and RTS again,
// under the holder, even for the superuser whom no lock or exclusive mode keeps out.

std::string LockFolder() {
    for (const char* folder : {"/run/lock", "/var/lock"}) {
        struct stat info {};
        if (::stat(folder, &info) == 0 && S_ISDIR(info.st_mode)) return folder;
    }
    return {};
}

// The lock file's name follows the device itself, not a link to it: /dev/serial/by-id/... and
// /dev/ttyUSB0 are one device. "pts/3" becomes "LCK..pts_3".
std::string LockFileFor(const std::string& device_path, const std::string& folder) {
    char resolved[PATH_MAX];
    std::string name =
        ::realpath(device_path.c_str(), resolved) != nullptr ? std::string(resolved) : device_path;
    constexpr std::string_view kDev = "/dev/";
    if (name.compare(0, kDev.size(), kDev) == 0) name.erase(0, kDev.size());
    std::replace(name.begin(), name.end(), '/', '_');
    return folder + "/LCK.." + name;
}

// Why the lock file at `path` keeps the device from this program; none when there is no such
// file or its process is gone (the file is then removed).
std::optional<OpenFailure> LockFileHolder(const std::string& path) {
    std::ifstream file(path);
    if (!file) return std::nullopt;
    long pid = 0;
    if (!(file >> pid) || pid <= 0) {
        // Perhaps a program that is writing it this moment; only a person can tell.
        return Busy("lock file " + path + " without a process id");
    }
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM) {
        return Busy("lock file " + path + " of " + ProcessText(static_cast<pid_t>(pid)));
    }
    ::unlink(path.c_str());
    return std::nullopt;
}

// A file holding this process's id, made beside the lock file and put in its place by link(),
// so that the lock file is never seen without its id, even when the process dies midway.
// Empty when it cannot be made (the folder is not writable).
std::string WrittenIdFile(const std::string& folder) {
    // One name per opening: a station opens its slots' ports from several threads at once.
    static std::atomic<unsigned> openings{0};
    const std::string path = folder + "/LTMP." + std::to_string(::getpid()) + "." +
                             std::to_string(openings.fetch_add(1));
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return {};
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%10ld\n", static_cast<long>(::getpid()));
    const bool written = ::write(fd, text, static_cast<std::size_t>(length)) == length;
    ::close(fd);
    if (written) return path;
    ::unlink(path.c_str());
    return {};
}

// Creates the lock file, or tells why the device is taken. An empty `created` with no failure:
// the folder is missing or not writable, and the other checks of the opening have to do.
std::optional<OpenFailure> TakeLockFile(const std::string& device_path, std::string& created) {
    const std::string folder = LockFolder();
    if (folder.empty()) return std::nullopt;
    const std::string path = LockFileFor(device_path, folder);
    // This process claims the device (a station's slot): the lock file is the claim's to keep.
    if (ClaimedHere(path)) return std::nullopt;
    const std::string id_file = WrittenIdFile(folder);
    if (id_file.empty()) return std::nullopt;
    std::optional<OpenFailure> refused;
    // A second round for a file that was stale or appeared between the look and the link.
    for (int round = 0; round < 2; ++round) {
        refused = LockFileHolder(path);
        if (refused) break;
        if (::link(id_file.c_str(), path.c_str()) == 0) {
            created = path;
            break;
        }
        if (errno != EEXIST) break;
        refused = Busy("lock file " + path);
    }
    ::unlink(id_file.c_str());
    return refused;
}

// ---- Holders the lock file does not show ---------------------------------------------------

// A POSIX (fcntl or lockf) lock that another process holds on the device.
std::optional<OpenFailure> RecordLockHolder(int fd) {
    struct flock wanted {};
    wanted.l_type = F_WRLCK;
    wanted.l_whence = SEEK_SET;
    if (::fcntl(fd, F_GETLK, &wanted) != 0 || wanted.l_type == F_UNLCK) return std::nullopt;
    return Busy(wanted.l_pid > 0 ? "a lock of " + ProcessText(wanted.l_pid) : "a lock");
}

// A terminal that another program put in exclusive mode; the superuser's opening gets past it.
bool ExclusiveAlready(int fd) {
#ifdef TIOCGEXCL
    int exclusive = 0;
    return ::ioctl(fd, TIOCGEXCL, &exclusive) == 0 && exclusive != 0;
#else
    (void)fd;
    return false;
#endif
}

}  // namespace

void SerialPort::Close() {
    if (native != kInvalid) {
        // Exclusive mode belongs to the terminal, not to this descriptor: left on, it would keep
        // refusing openings for as long as anyone else holds the terminal open.
        if (exclusive_set) ::ioctl(native, TIOCNXCL);
        ::close(native);
        native = kInvalid;
        exclusive_set = false;
    }
    // Only once the device is closed may the next program take it.
    if (!lock_file.empty()) ::unlink(lock_file.c_str());
    lock_file.clear();
}

namespace {

// The opening proper, once the lock file (if any) is this program's.
std::optional<OpenFailure> OpenLocked(const std::string& path, SerialPort& port) {
    // Without O_NONBLOCK the open of a modem line would wait for carrier detect.
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return FailureFromErrno(errno);
    port.native = fd;
    // The flock keeps out every other program that asks for it, the superuser included; the
    // terminal's exclusive mode keeps out ordinary users who do not.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return errno == EWOULDBLOCK ? Busy("a lock on the device") : FailureFromErrno(errno);
    }
    if (auto holder = RecordLockHolder(fd)) return holder;
    if (ExclusiveAlready(fd)) return Busy("exclusive mode");
    if (::ioctl(fd, TIOCEXCL) == 0) port.exclusive_set = true;
    // The descriptor stays non-blocking: a blocking write, once poll reports some room, would
    // wait until the whole frame fits, past its time-out. Reads and writes wait in poll instead.
    return std::nullopt;
}

}  // namespace

SerialPort OpenSerialDevice(std::u16string_view name, OpenFailure* failure) {
    SerialPort port;
    const std::string path = DevicePathFromPortName(name);
    // No lock file for a device that is not there.
    struct stat device {};
    std::optional<OpenFailure> refused;
    if (::stat(path.c_str(), &device) != 0) {
        refused = FailureFromErrno(errno);
    } else {
        refused = TakeLockFile(path, port.lock_file);
    }
    if (!refused) refused = OpenLocked(path, port);
    if (refused) {
        port.Close();
        if (failure != nullptr) *failure = std::move(*refused);
    }
    return port;
}

std::optional<OpenFailure> PortClaim::Take(std::u16string_view name) {
    const std::string path = DevicePathFromPortName(name);
    struct stat device {};
    if (::stat(path.c_str(), &device) != 0) {
        const int error = errno;
        Release();
        return FailureFromErrno(error);
    }
    const std::string folder = LockFolder();
    if (!key_.empty() && !folder.empty() && LockFileFor(path, folder) == key_) return std::nullopt;
    Release();
    std::string created;
    if (auto refused = TakeLockFile(path, created)) return refused;
    if (!created.empty()) {
        key_ = created;
        NoteClaim(key_, true);
    }
    return std::nullopt;
}

void PortClaim::Release() {
    if (key_.empty()) return;
    NoteClaim(key_, false);
    ::unlink(key_.c_str());
    key_.clear();
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
