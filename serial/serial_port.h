#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
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
    // Whether this opening put the terminal in exclusive mode, which it then lifts on closing
    // (POSIX); another program's exclusive mode is that program's to lift.
    bool exclusive_set = false;

#ifdef _WIN32
    static inline void* const kInvalid = reinterpret_cast<void*>(-1);
#else
    static constexpr int kInvalid = -1;
#endif
};

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
