#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A thin serial-port backend: one portable interface, one source file per platform
// (serial_port_unix.cpp, serial_port_win.cpp).

// Time-outs of an opening, in milliseconds. A read of N bytes gives up after
// read_per_byte_ms * N + read_constant_ms; writes likewise.
struct PortTimeouts {
    std::uint32_t read_per_byte_ms = 0;
    std::uint32_t read_constant_ms = 0;
    std::uint32_t write_per_byte_ms = 0;
    std::uint32_t write_constant_ms = 0;
};

// The two profiles the program opens a port with: a reply is awaited (20 ms a byte plus half a
// second), or frames only go out and nothing is read back.
inline constexpr PortTimeouts kMonitoredTimeouts{20, 500, 20, 500};
inline constexpr PortTimeouts kQuickTimeouts{1, 100, 1, 100};

// Why an opening failed, as the system told it.
struct OpenFailure {
    enum class Kind { kMissing, kBusy, kNoPermission, kOther } kind = Kind::kOther;
    std::string system_message;  // UTF-8
};

// An open port, closed when the object goes. Move-only.
class SerialPort {
  public:
#ifdef _WIN32
    using NativeHandle = void*;
#else
    using NativeHandle = int;
#endif
    SerialPort() = default;
    ~SerialPort();
    SerialPort(SerialPort&& other) noexcept;
    SerialPort& operator=(SerialPort&& other) noexcept;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    bool IsOpen() const;
    void Close();

    // Platform state, for the backend's own functions.
    NativeHandle native = kInvalid;
    PortTimeouts timeouts;
    // Number of reads in progress; input they are owed is never discarded.
    std::atomic<int> pending_reads{0};
    // The lock file this opening created for the device, removed on closing (POSIX).
    std::string lock_file;
    // The device's mutex this opening holds, closed on closing (Windows).
    void* mutex = nullptr;
    // Whether this opening put the terminal in exclusive mode, which it then lifts on closing
    // (POSIX); another program's exclusive mode is that program's to lift.
    bool exclusive_set = false;

#ifdef _WIN32
    static inline void* const kInvalid = reinterpret_cast<void*>(-1);
#else
    static constexpr int kInvalid = -1;
#endif
};

// Holds a port's device for a run of exchanges that each open it anew, as a station's slot does
// for as long as it runs: every other opening, by this program or another, finds it busy, while
// this process's own openings of it go through. The claim is what each opening takes anyway: on
// POSIX the lock file (LCK..ttyUSB0), on Windows the device's named mutex
// (Global\transmitter-port-COM4), which every program of this project takes before it opens a
// port. Released when the object goes.
class PortClaim {
  public:
    PortClaim() = default;
    ~PortClaim() { Release(); }
    PortClaim(const PortClaim&) = delete;
    PortClaim& operator=(const PortClaim&) = delete;

    // Takes the claim on `name`'s device, or keeps it when it holds that device already (behind
    // one name a re-plugged adapter may be another device). Why not, as an opening would say it,
    // when another program holds the device, or (on POSIX) it is not there: no claim then.
    std::optional<OpenFailure> Take(std::u16string_view name);
    void Release();

  private:
    std::string key_;  // the lock file, or the mutex's name
#ifdef _WIN32
    void* mutex_ = nullptr;
#endif
};

// For the backends: the claims of this process, by key.
bool ClaimedHere(const std::string& key);
void NoteClaim(const std::string& key, bool held);

// Counts a read as pending for as long as it lives, for the backends' reads.
class PendingRead {
  public:
    explicit PendingRead(std::atomic<int>& counter) : counter_(counter) { ++counter_; }
    ~PendingRead() { --counter_; }
    PendingRead(const PendingRead&) = delete;
    PendingRead& operator=(const PendingRead&) = delete;

  private:
    std::atomic<int>& counter_;
};

// Opens the device read-write, exclusively, as an existing device; closed on failure, when
// `failure` (if given) is told why. A device another program holds is busy, whichever way it
// holds it: on POSIX a lock file in the system's lock folder naming a live process (taken by
// this program too, before the device is opened, and by terminal programs), a flock or POSIX
// lock, or the terminal's exclusive mode.
SerialPort OpenSerialDevice(std::u16string_view name, OpenFailure* failure = nullptr);
// Reads the current line settings; false when the platform refuses.
bool ReadLineSettings(SerialPort& port);
// 9600 baud, 8 data bits, no parity, one stop bit, raw binary, no flow control, DTR on, RTS off.
bool ApplyLineSettings(SerialPort& port);
// Event mask (character received) and 16384-byte queues; results are not looked at.
void SetEventMaskAndQueues(SerialPort& port);
bool ApplyTimeouts(SerialPort& port, const PortTimeouts& timeouts);
// Discards what waits in the transmit and receive buffers without aborting transfers: outgoing
// bytes are sent first, and input that a pending read is owed is left to that read.
void DiscardBuffers(SerialPort& port);
// Reads up to `count` bytes within the read time-out. Returns the number read, or -1 when the
// read call failed.
long ReadSerial(SerialPort& port, std::uint8_t* buffer, std::size_t count);
// Writes `count` bytes within the write time-out. Returns the number written, or -1.
long WriteSerial(SerialPort& port, const std::uint8_t* data, std::size_t count);
