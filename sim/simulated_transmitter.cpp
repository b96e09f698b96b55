#include "sim/simulated_transmitter.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <deque>
#include <mutex>
#include <optional>
#include <span>
#include <thread>
#include <utility>

#include "sim/device_messages.h"
#include "sim/pseudo_terminal.h"
#include "sim/trace_format.h"

namespace sim {
namespace {

using Clock = std::chrono::steady_clock;

// A frame whose next byte is this late is abandoned: the sender has given up on it.
constexpr auto kFrameStall = std::chrono::milliseconds(200);
// How often the device thread looks at its stop flag when the line is quiet.
constexpr auto kIdleWait = std::chrono::milliseconds(20);

struct ScheduledByte {
    Clock::time_point due;
    std::uint8_t value;
};

}  // namespace

struct SimulatedTransmitter::Impl {
    explicit Impl(Options options);
    ~Impl();

    void Run();
    int WaitMilliseconds(Clock::time_point now) const;
    void ReadLine(std::vector<TraceEntry>& handled);
    void Receive(std::uint8_t byte, Clock::time_point when, std::vector<TraceEntry>& handled);
    void ExpireStalledMessage(Clock::time_point now, std::vector<TraceEntry>& handled);
    void Handle(std::vector<std::uint8_t> message, Clock::time_point when,
                std::vector<TraceEntry>& handled);
    void Answer(Answered answer, Clock::time_point when, std::vector<std::uint8_t> message,
                std::vector<TraceEntry>& handled);
    bool IsUnlocked(Clock::time_point when) const;
    void Record(Clock::time_point when, std::vector<std::uint8_t> received,
                std::vector<std::uint8_t> replied, std::string description,
                std::vector<TraceEntry>& handled);
    void WriteDueBytes(Clock::time_point now);
    void Vanish();

    // Fixed at construction.
    const Options settings;
    PseudoTerminal terminal;  // after the start, only the device thread touches the descriptors
    const std::string port_path;

    std::atomic<bool> stopping{false};
    std::atomic<bool> vanished{false};

    mutable std::mutex mutex;
    // Guarded by `mutex`: what the device holds and what it saw.
    DeviceState state;
    std::optional<Clock::time_point> unlocked_until;
    Fault pending_fault = Fault::kNone;
    bool present = true;
    std::vector<ReceivedByte> received;
    std::vector<TraceEntry> trace;

    // The device thread's own: the message being assembled and the reply on its way out.
    std::vector<std::uint8_t> message;
    Clock::time_point last_byte_time;
    std::deque<ScheduledByte> outgoing;

    std::thread thread;
};

SimulatedTransmitter::Impl::Impl(Options options)
    : settings(std::move(options)),
      terminal(OpenPseudoTerminal()),
      port_path(terminal.port_path),
      state{settings.version, settings.configuration, settings.cold_junction_tenths,
            settings.adjustment_error_tenths} {
    if (terminal.device.IsValid()) thread = std::thread([this] { Run(); });
}

SimulatedTransmitter::Impl::~Impl() {
    stopping.store(true);
    if (thread.joinable()) thread.join();
}

void SimulatedTransmitter::Impl::Run() {
    while (!stopping.load()) {
        if (!terminal.device.IsValid()) {
            std::this_thread::sleep_for(kIdleWait);  // the port is gone; wait to be destroyed
            continue;
        }
        std::vector<TraceEntry> handled;
        ReadLine(handled);
        {
            const std::lock_guard lock(mutex);
            ExpireStalledMessage(Clock::now(), handled);
        }
        WriteDueBytes(Clock::now());
        if (settings.on_message) {
            for (const TraceEntry& entry : handled) settings.on_message(entry);
        }
    }
}

int SimulatedTransmitter::Impl::WaitMilliseconds(Clock::time_point now) const {
    Clock::duration wait = kIdleWait;
    if (!outgoing.empty()) wait = std::min(wait, outgoing.front().due - now);
    if (!message.empty()) wait = std::min(wait, last_byte_time + kFrameStall - now);
    const auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
    return static_cast<int>(std::max<decltype(milliseconds)>(milliseconds, 0));
}

void SimulatedTransmitter::Impl::ReadLine(std::vector<TraceEntry>& handled) {
    pollfd line{terminal.device.Get(), POLLIN, 0};
    const int ready = ::poll(&line, 1, WaitMilliseconds(Clock::now()));
    if (ready <= 0) return;
    if ((line.revents & POLLIN) == 0) {
        // A hang-up cannot last while the device holds the port open; do not spin on one.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return;
    }
    std::uint8_t bytes[256];
    const ssize_t count = ::read(terminal.device.Get(), bytes, sizeof bytes);
    const auto when = Clock::now();
    if (count <= 0) return;
    const std::lock_guard lock(mutex);
    if (!present) {
        message.clear();
        outgoing.clear();
        return;
    }
    for (ssize_t i = 0; i < count && !vanished.load(); ++i) Receive(bytes[i], when, handled);
}

void SimulatedTransmitter::Impl::Receive(std::uint8_t byte, Clock::time_point when,
                                         std::vector<TraceEntry>& handled) {
    received.push_back({byte, when});
    ExpireStalledMessage(when, handled);
    if (!message.empty() && message.front() == kUnlockByte && byte != kUnlockByte) {
        Record(when, std::exchange(message, {}), {}, "incomplete unlock preamble", handled);
    }
    if (message.empty() && MessageLength(byte) == 0) {
        Record(when, {byte}, {}, "unknown byte 0x" + HexBytes(std::span(&byte, 1)), handled);
        return;
    }
    message.push_back(byte);
    last_byte_time = when;
    if (message.size() == MessageLength(message.front())) {
        Handle(std::exchange(message, {}), when, handled);
    }
}

void SimulatedTransmitter::Impl::ExpireStalledMessage(Clock::time_point now,
                                                      std::vector<TraceEntry>& handled) {
    if (message.empty() || now - last_byte_time <= kFrameStall) return;
    std::string description = IncompleteDescription(message);
    Record(now, std::exchange(message, {}), {}, std::move(description), handled);
}

bool SimulatedTransmitter::Impl::IsUnlocked(Clock::time_point when) const {
    return !settings.require_unlock || (unlocked_until && when < *unlocked_until);
}

void SimulatedTransmitter::Impl::Handle(std::vector<std::uint8_t> complete, Clock::time_point when,
                                        std::vector<TraceEntry>& handled) {
    if (complete.front() == kUnlockByte) {
        unlocked_until = when + settings.unlock_window;
        Record(when, std::move(complete), {}, "unlock", handled);
        return;
    }
    if (pending_fault == Fault::kVanish) {
        pending_fault = Fault::kNone;
        std::string description = CommandName(complete.front()) + " -> the port vanished";
        Record(when, std::move(complete), {}, std::move(description), handled);
        Vanish();
        return;
    }
    if (!IsUnlocked(when)) {
        std::string description = "ignored " + CommandName(complete.front()) + " (locked)";
        Record(when, std::move(complete), {}, std::move(description), handled);
        return;
    }
    Answered answer = Obey(state, complete);
    if (answer.reply.empty()) {
        Record(when, std::move(complete), {}, std::move(answer.description), handled);
        return;
    }
    Answer(std::move(answer), when, std::move(complete), handled);
}

void SimulatedTransmitter::Impl::Answer(Answered answer, Clock::time_point when,
                                        std::vector<std::uint8_t> complete,
                                        std::vector<TraceEntry>& handled) {
    auto delay = std::chrono::duration_cast<Clock::duration>(settings.processing_delay);
    const Fault fault = std::exchange(pending_fault, Fault::kNone);
    switch (fault) {
        case Fault::kSilence:
            answer.reply.clear();
            answer.description += " (fault: silence)";
            break;
        case Fault::kShortReply:
            answer.reply.pop_back();
            answer.description += " (fault: short reply)";
            break;
        case Fault::kLateReply:
            delay = std::chrono::duration_cast<Clock::duration>(settings.late_reply_delay);
            answer.description += " (fault: late reply)";
            break;
        case Fault::kGarbage:
            answer.reply = Garbled(answer.reply);
            answer.description += " (fault: garbage)";
            break;
        case Fault::kNone:
        case Fault::kVanish:
            break;
    }
    // A reply still on its way delays this one: the line carries one byte at a time.
    auto due = when + delay;
    if (!outgoing.empty()) due = std::max(due, outgoing.back().due + settings.byte_time);
    for (std::uint8_t byte : answer.reply) {
        outgoing.push_back({due, byte});
        due += settings.byte_time;
    }
    Record(when, std::move(complete), std::move(answer.reply), std::move(answer.description),
           handled);
}

void SimulatedTransmitter::Impl::Record(Clock::time_point when, std::vector<std::uint8_t> bytes_in,
                                        std::vector<std::uint8_t> bytes_out,
                                        std::string description, std::vector<TraceEntry>& handled) {
    trace.push_back({when, std::move(bytes_in), std::move(bytes_out), std::move(description)});
    if (settings.on_message) handled.push_back(trace.back());
}

void SimulatedTransmitter::Impl::WriteDueBytes(Clock::time_point now) {
    while (!outgoing.empty() && outgoing.front().due <= now && terminal.device.IsValid()) {
        const std::uint8_t byte = outgoing.front().value;
        outgoing.pop_front();
        // With nobody reading the port, its input queue can fill up; a real line would lose
        // those bytes too.
        ssize_t written = 0;
        do {
            written = ::write(terminal.device.Get(), &byte, 1);
        } while (written < 0 && errno == EINTR);
    }
}

void SimulatedTransmitter::Impl::Vanish() {
    vanished.store(true);
    message.clear();
    outgoing.clear();
    terminal.port.Reset();
    terminal.device.Reset();  // the last master descriptor: the port's device node goes away
}

SimulatedTransmitter::SimulatedTransmitter(Options options)
    : impl_(std::make_unique<Impl>(std::move(options))) {}

SimulatedTransmitter::~SimulatedTransmitter() = default;

bool SimulatedTransmitter::IsRunning() const {
    return impl_->thread.joinable() && !impl_->vanished.load();
}

std::string SimulatedTransmitter::PortPath() const {
    return impl_->port_path;
}

void SimulatedTransmitter::SetVersion(std::array<std::uint8_t, 3> version) {
    const std::lock_guard lock(impl_->mutex);
    impl_->state.version = version;
}

void SimulatedTransmitter::SetColdJunctionTenths(std::int16_t tenths) {
    const std::lock_guard lock(impl_->mutex);
    impl_->state.cold_junction_tenths = tenths;
}

std::int16_t SimulatedTransmitter::ColdJunctionTenths() const {
    const std::lock_guard lock(impl_->mutex);
    return impl_->state.cold_junction_tenths;
}

void SimulatedTransmitter::SetAdjustmentErrorTenths(std::int16_t tenths) {
    const std::lock_guard lock(impl_->mutex);
    impl_->state.adjustment_error_tenths = tenths;
}

void SimulatedTransmitter::SetConfiguration(std::array<std::uint8_t, 14> frame) {
    const std::lock_guard lock(impl_->mutex);
    impl_->state.configuration = frame;
}

std::array<std::uint8_t, 14> SimulatedTransmitter::Configuration() const {
    const std::lock_guard lock(impl_->mutex);
    return impl_->state.configuration;
}

void SimulatedTransmitter::Lock() {
    const std::lock_guard lock(impl_->mutex);
    impl_->unlocked_until.reset();
}

void SimulatedTransmitter::TakeOut() {
    const std::lock_guard lock(impl_->mutex);
    impl_->present = false;
    impl_->unlocked_until.reset();
}

void SimulatedTransmitter::PutIn() {
    const std::lock_guard lock(impl_->mutex);
    impl_->present = true;
}

void SimulatedTransmitter::InjectFault(Fault fault) {
    const std::lock_guard lock(impl_->mutex);
    impl_->pending_fault = fault;
}

std::vector<ReceivedByte> SimulatedTransmitter::ReceivedBytes() const {
    const std::lock_guard lock(impl_->mutex);
    return impl_->received;
}

std::vector<std::uint8_t> SimulatedTransmitter::ReceivedValues() const {
    const std::lock_guard lock(impl_->mutex);
    std::vector<std::uint8_t> values;
    values.reserve(impl_->received.size());
    for (const ReceivedByte& byte : impl_->received) values.push_back(byte.value);
    return values;
}

std::vector<TraceEntry> SimulatedTransmitter::Trace() const {
    const std::lock_guard lock(impl_->mutex);
    return impl_->trace;
}

void SimulatedTransmitter::ClearRecords() {
    const std::lock_guard lock(impl_->mutex);
    impl_->received.clear();
    impl_->trace.clear();
}

}  // namespace sim
