// The serial-port backend on Windows: a communications device opened for overlapped I/O.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <iterator>
#include <optional>
#include <string>
#include <utility>

#include "serial/device_path.h"
#include "serial/serial_port.h"

namespace {

// How long a transfer may outlive its COMMTIMEOUTS before it is cancelled. The driver ends it
// first; this only keeps a thread from hanging on a driver that ignores the time-outs.
constexpr DWORD kSafetyMarginMs = 1000;

HANDLE Native(const SerialPort& port) {
    return static_cast<HANDLE>(port.native);
}

// "COM10" and above exist only in the device namespace; "COM1" to "COM9" are found there too.
std::u16string DevicePath(std::u16string_view name) {
    if (name.substr(0, 2) == u"\\\\") return std::u16string(name);
    return u"\\\\.\\" + std::u16string(name);
}

// One overlapped transfer with its own completion event: a read waiting on the port never
// holds up a write on the same handle, as it would on a handle opened for synchronous I/O.
class Transfer {
  public:
    Transfer() { overlapped_.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr); }
    ~Transfer() {
        if (overlapped_.hEvent != nullptr) ::CloseHandle(overlapped_.hEvent);
    }
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    bool Ready() const { return overlapped_.hEvent != nullptr; }
    OVERLAPPED* Overlapped() { return &overlapped_; }

    // Waits for the transfer that `started` (the result of ReadFile or WriteFile) began. Returns
    // the bytes transferred, or -1 when the call failed. A transfer still running after
    // `limit_ms` is cancelled and counts as timed out with what it moved so far.
    long Finish(HANDLE handle, BOOL started, DWORD limit_ms) {
        if (!started && ::GetLastError() != ERROR_IO_PENDING) return -1;
        bool cancelled = false;
        if (::WaitForSingleObject(overlapped_.hEvent, limit_ms) != WAIT_OBJECT_0) {
            ::CancelIoEx(handle, &overlapped_);
            cancelled = true;
        }
        // Waits for the cancellation too: the OVERLAPPED must outlive the transfer.
        DWORD transferred = 0;
        if (!::GetOverlappedResult(handle, &overlapped_, &transferred, TRUE)) {
            // Windows ends a transfer at its COMMTIMEOUTS with success and a short count; Wine
            // reports the same time-out as ERROR_TIMEOUT. Both are a time-out, not a failure.
            const DWORD error = ::GetLastError();
            const bool timed_out =
                error == ERROR_TIMEOUT || (cancelled && error == ERROR_OPERATION_ABORTED);
            if (!timed_out) return -1;
        }
        return static_cast<long>(transferred);
    }

  private:
    OVERLAPPED overlapped_{};
};

DWORD LimitFor(std::uint32_t per_byte_ms, std::uint32_t constant_ms, std::size_t count) {
    return static_cast<DWORD>(per_byte_ms * count + constant_ms) + kSafetyMarginMs;
}

// The system's own words for `error`, in the user's language, without the closing full stop
// and line break, so that they fit inside a sentence.
std::string SystemMessage(DWORD error) {
    wchar_t text[512] = {};
    const DWORD length =
        ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                         0, text, static_cast<DWORD>(std::size(text)), nullptr);
    std::u16string message(reinterpret_cast<const char16_t*>(text), length);
    while (!message.empty() && (message.back() == u'\r' || message.back() == u'\n' ||
                                message.back() == u' ' || message.back() == u'.')) {
        message.pop_back();
    }
    if (message.empty()) return "error " + std::to_string(error);
    return Utf8FromUtf16(message);
}

OpenFailure FailureFromError(DWORD error) {
    OpenFailure failure{OpenFailure::Kind::kOther, SystemMessage(error)};
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            failure.kind = OpenFailure::Kind::kMissing;
            break;
        // A COM port another program holds is refused as access denied.
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            failure.kind = OpenFailure::Kind::kBusy;
            break;
        default:
            break;
    }
    return failure;
}

// ---- The device's mutex ----------------------------------------------------------------------
// A COM port is exclusive only while a handle is open, and a station opens it anew for every
// exchange: between two, another program would get in. So every opening, and a station's slot
// for as long as it runs, also holds a named mutex of the device; the port is held while a handle
// to that mutex is open, whoever made it, and let go when the last one closes, as when its
// process ends. It lives in the Global namespace: a COM port is the machine's, not one session's,
// and a program in another session (a service, a second log-on) must see it held as well.

std::string MutexName(std::u16string_view port) {
    return "Global\\transmitter-port-" + WindowsDeviceName(port);
}

// The mutex, made by this call; null with the reason when it is there already (another holder)
// or cannot be made (another user's holder whose mutex this user may not open).
HANDLE TakeMutex(const std::string& name, OpenFailure& refused) {
    const std::u16string wide = Utf16FromUtf8(name);
    // Told only when the mutex was there; a fresh one leaves whatever error came before.
    ::SetLastError(ERROR_SUCCESS);
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, reinterpret_cast<const wchar_t*>(wide.c_str()));
    const DWORD error = ::GetLastError();
    if (mutex != nullptr && error != ERROR_ALREADY_EXISTS) return mutex;
    if (mutex != nullptr) ::CloseHandle(mutex);
    refused = error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED
                  ? OpenFailure{OpenFailure::Kind::kBusy, "its mutex " + name}
                  : FailureFromError(error);
    return nullptr;
}

}  // namespace

void SerialPort::Close() {
    if (native != kInvalid) ::CloseHandle(Native(*this));
    native = kInvalid;
    // Only once the device is closed may the next program take it.
    if (mutex != nullptr) ::CloseHandle(static_cast<HANDLE>(mutex));
    mutex = nullptr;
}

SerialPort OpenSerialDevice(std::u16string_view name, OpenFailure* failure) {
    SerialPort port;
    const std::string mutex_name = MutexName(name);
    if (!ClaimedHere(mutex_name)) {
        OpenFailure refused;
        port.mutex = TakeMutex(mutex_name, refused);
        if (port.mutex == nullptr) {
            if (failure != nullptr) *failure = std::move(refused);
            return port;
        }
    }
    const std::u16string path = DevicePath(name);
    port.native =
        ::CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()), GENERIC_READ | GENERIC_WRITE,
                      0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (!port.IsOpen()) {
        if (failure != nullptr) *failure = FailureFromError(::GetLastError());
        port.Close();
    }
    return port;
}

std::optional<OpenFailure> PortClaim::Take(std::u16string_view name) {
    const std::string key = MutexName(name);
    if (key == key_) return std::nullopt;
    Release();
    OpenFailure refused;
    mutex_ = TakeMutex(key, refused);
    if (mutex_ == nullptr) return refused;
    key_ = key;
    NoteClaim(key_, true);
    return std::nullopt;
}

void PortClaim::Release() {
    if (mutex_ == nullptr) return;
    NoteClaim(key_, false);
    ::CloseHandle(static_cast<HANDLE>(mutex_));
    mutex_ = nullptr;
    key_.clear();
}

bool ReadLineSettings(SerialPort& port) {
    DCB settings{};
    settings.DCBlength = sizeof(settings);
    return ::GetCommState(Native(port), &settings) != FALSE;
}

bool ApplyLineSettings(SerialPort& port) {
    DCB settings{};
    settings.DCBlength = sizeof(settings);
    // Fields not set here keep what the driver reported; a failed read leaves them zero.
    ::GetCommState(Native(port), &settings);
    settings.BaudRate = CBR_9600;
    settings.ByteSize = 8;
    settings.Parity = NOPARITY;
    settings.StopBits = ONESTOPBIT;
    settings.fBinary = TRUE;
    settings.fParity = FALSE;
    settings.fOutxCtsFlow = FALSE;
    settings.fOutxDsrFlow = FALSE;
    settings.fDtrControl = DTR_CONTROL_ENABLE;
    settings.fDsrSensitivity = FALSE;
    settings.fTXContinueOnXoff = FALSE;
    settings.fOutX = FALSE;
    settings.fInX = FALSE;
    settings.fErrorChar = FALSE;
    settings.fNull = FALSE;
    settings.fRtsControl = RTS_CONTROL_DISABLE;
    settings.fAbortOnError = FALSE;
    return ::SetCommState(Native(port), &settings) != FALSE;
}

void SetEventMaskAndQueues(SerialPort& port) {
    ::SetCommMask(Native(port), EV_RXCHAR);
    ::SetupComm(Native(port), 16384, 16384);
}

bool ApplyTimeouts(SerialPort& port, const PortTimeouts& timeouts) {
    port.timeouts = timeouts;
    COMMTIMEOUTS driver{};
    ::GetCommTimeouts(Native(port), &driver);
    driver.ReadIntervalTimeout = 0;
    driver.ReadTotalTimeoutMultiplier = timeouts.read_per_byte_ms;
    driver.ReadTotalTimeoutConstant = timeouts.read_constant_ms;
    driver.WriteTotalTimeoutMultiplier = timeouts.write_per_byte_ms;
    driver.WriteTotalTimeoutConstant = timeouts.write_constant_ms;
    return ::SetCommTimeouts(Native(port), &driver) != FALSE;
}

void DiscardBuffers(SerialPort& port) {
    // The transmit buffer is never cleared: every write has been waited for, so on a Windows
    // driver it holds nothing of ours any more, while a driver that completes writes before the
    // bytes are on the line (a USB adapter; Wine, which hands them to the Unix terminal) would
    // lose the frame just sent. Such a queue is waited out instead, within the write time-out.
    const DWORD start = ::GetTickCount();
    DWORD errors = 0;
    COMSTAT status{};
    while (::ClearCommError(Native(port), &errors, &status) && status.cbOutQue > 0) {
        const DWORD limit =
            port.timeouts.write_per_byte_ms * status.cbOutQue + port.timeouts.write_constant_ms;
        if (::GetTickCount() - start >= limit) break;
        ::Sleep(1);
    }
    // Input that a waiting read is owed is that read's, not the discard's: a reader counts as
    // waiting from its start, before its ReadFile has reached the driver.
    if (port.pending_reads.load() == 0) ::PurgeComm(Native(port), PURGE_RXCLEAR);
}

long ReadSerial(SerialPort& port, std::uint8_t* buffer, std::size_t count) {
    PendingRead pending(port.pending_reads);
    Transfer transfer;
    if (!transfer.Ready()) return -1;
    const DWORD limit =
        LimitFor(port.timeouts.read_per_byte_ms, port.timeouts.read_constant_ms, count);
    const BOOL started =
        ::ReadFile(Native(port), buffer, static_cast<DWORD>(count), nullptr, transfer.Overlapped());
    return transfer.Finish(Native(port), started, limit);
}

long WriteSerial(SerialPort& port, const std::uint8_t* data, std::size_t count) {
    Transfer transfer;
    if (!transfer.Ready()) return -1;
    const DWORD limit =
        LimitFor(port.timeouts.write_per_byte_ms, port.timeouts.write_constant_ms, count);
    const BOOL started =
        ::WriteFile(Native(port), data, static_cast<DWORD>(count), nullptr, transfer.Overlapped());
    return transfer.Finish(Native(port), started, limit);
}
