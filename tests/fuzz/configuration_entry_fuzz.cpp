// The configuration entry ("Настройка" and the live tracking of the limit boxes) on any texts
// and any selections: every entry is either refused with the message its first fault calls for,
// or accepted with a frame whose range, decoded here on its own terms, is the range entered.
//
// An input is a run of entries, so that what one entry leaves in the frame meets the next:
//   type, sign, output, fault, compensation, flags; upper text; 0xFF; lower text; 0xFF.
// The worker that would send the frame is replaced by one that only takes note of it, so that
// an accepted entry costs no waiting; the port named does not exist, so every opening fails at
// once with its two messages.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/operation_state.h"
#include "app/window.h"
#include "device/configuration_entry.h"
#include "device/operation_worker.h"
#include "device/protocol.h"
#include "serial/port_discovery.h"
#include "serial/port_link.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using Frame = std::array<std::uint16_t, 14>;

// The frame the worker would have sent, once per accepted entry.
std::optional<Frame> StartedWith;

}  // namespace

// Defined here, it takes the place of the program's worker start when the target is linked.
void StartWorkerThread(Window&) {
    FUZZ_CHECK(!StartedWith.has_value());
    FUZZ_CHECK(LinkState.load() == 20);
    StartedWith = ConfigFrame;
}

namespace {

constexpr int kSensorTypeList = 1000, kUpperBox = 1004, kOutputList = 1005, kFaultList = 1006,
              kLowerBox = 1007, kSignList = 1015, kCompensationList = 1016, kDetailLine = 1019;

class EntryWindow : public Window {
  public:
    void SetItemText(int identity, std::u16string_view text) override {
        texts[identity] = std::u16string(text);
        if (identity == kDetailLine) details.emplace_back(text);
    }
    std::u16string GetItemText(int identity, std::size_t capacity) override {
        return texts[identity].substr(0, capacity);
    }
    int GetListSelection(int identity) override { return selections[identity]; }
    void ShowMessage(std::u16string_view text) override { messages.emplace_back(text); }
    void RunAccessCodeDialog() override { std::abort(); }

    std::map<int, std::u16string> texts;
    std::map<int, int> selections;
    std::vector<std::u16string> messages;
    std::vector<std::u16string> details;
};

// The sensor types as the technician's manual lists them.
struct Type {
    std::uint8_t code;
    int upper_max;
    int negative_lower_max;
    std::u16string_view confirmation;
};
constexpr Type kTypes[] = {
    {0, 2320, 0, u"Ты выбрала. wre3-25"}, {1, 850, 200, u"Ты выбрала. PT100 ТС"},
    {2, 1765, 50, u"Ты выбрала. S ТП "},  {3, 1370, 270, u"Ты выбрала. K ТП "},
    {6, 400, 270, u"Ты выбрала. T ТП "},  {5, 300, 50, u"Ты выбрала. PT1000 ТС"},
    {7, 150, 50, u"Ты выбрала. Cu50 ТС"}, {4, 1330, 270, u"Ты выбрала. N ТП "},
    {8, 1200, 210, u"Ты выбрала. J ТП "},
};
constexpr std::u16string_view kUpperRefused = u"Максимальная незаконность ввоза";
constexpr std::u16string_view kLowerRefused = u"Минимальная незаконность ввоза";
constexpr std::u16string_view kLowerRefusedPt100 = u"Минимальная незаконность ввозаy";
constexpr std::u16string_view kNoType = u"Выберите тип чувствительного элемента";
constexpr std::u16string_view kOpenFailedStart = u"Открыть последовательный порт";
constexpr std::u16string_view kNotOpen = u"Последовательный порт не открыт";
constexpr std::size_t kCapacity = 255;

// A limit as a whole number written plainly: 0, or digits without a leading zero, within 32 bits.
std::optional<int> PlainNumber(std::u16string_view text) {
    if (text.empty() || text.size() > 10 || (text[0] == u'0' && text.size() > 1)) return {};
    long long value = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') return {};
        value = value * 10 + (c - u'0');
    }
    if (value > std::numeric_limits<std::int32_t>::max()) return {};
    return static_cast<int>(value);
}

// The value live tracking takes: the C library's reading, held to 32 bits.
std::int32_t TrackedValue(std::u16string_view text) {
    const long long value = std::strtoll(AsciiForReference(text).c_str(), nullptr, 10);
    return static_cast<std::int32_t>(std::clamp<long long>(
        value, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// Reads fuzz bytes up to a separator.
struct Reader {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos = 0;
    bool Done() const { return pos >= size; }
    std::uint8_t Byte() { return pos < size ? data[pos++] : 0; }
    std::u16string Text() {
        const std::size_t start = pos;
        while (pos < size && data[pos] != 0xFF) ++pos;
        std::u16string text = FuzzText(data + start, pos - start);
        if (pos < size) ++pos;
        return text;
    }
};

struct Outcome {
    std::vector<std::u16string_view> messages;  // the open-failure text by its start
    std::optional<std::u16string_view> confirmation;
    bool accepted = false;
};

Outcome Refused(std::u16string_view message) {
    Outcome outcome;
    outcome.messages.push_back(message);
    return outcome;
}

// The entry's outcome by the rules in the manual; `model` follows what the frame must hold.
Outcome Judge(const EntryWindow& window, int type, int sign, int output, int fault,
              int compensation, Frame& model) {
    const std::u16string upper_text = window.texts.at(kUpperBox).substr(0, kCapacity);
    const std::u16string lower_text = window.texts.at(kLowerBox).substr(0, kCapacity);
    Outcome outcome;
    const std::optional<int> upper = PlainNumber(upper_text);
    if (!upper) return Refused(kUpperRefused);
    const std::optional<int> lower = PlainNumber(lower_text);
    if (!lower) return Refused(kLowerRefused);
    if (sign != 1 && *upper < *lower) return Refused(kLowerRefused);

    if (compensation == 0 || compensation == 1)
        model[13] = static_cast<std::uint16_t>(compensation);
    if (output == 0 || output == 1) model[11] = static_cast<std::uint16_t>(output);
    if (fault == 0 || fault == 1) model[12] = static_cast<std::uint16_t>(fault == 0 ? 1 : 0);

    if (type < 0 || type > 8) return Refused(kNoType);
    outcome.messages = {kOpenFailedStart, kNotOpen};
    const Type& row = kTypes[type];
    if (*upper > row.upper_max) {
        outcome.messages.push_back(kUpperRefused);
        return outcome;
    }
    if (sign == 1 && *lower > row.negative_lower_max) {
        outcome.messages.push_back(type == 1 ? kLowerRefusedPt100 : kLowerRefused);
        return outcome;
    }
    outcome.confirmation = row.confirmation;
    outcome.accepted = true;
    model[1] = row.code;
    return outcome;
}

// The range a frame carries, read straight from its bytes: for a negative lower limit the
// upper field holds the span and the lower field's top bit is set.
struct Range {
    int upper, lower;
    bool negative;
};
Range DecodeFrame(const Frame& frame) {
    const auto byte = [&frame](int i) { return frame[static_cast<std::size_t>(i)] & 0xFF; };
    const bool negative = (byte(4) & 0x80) != 0;
    const int lower = (byte(4) & 0x7F) << 8 | byte(5);
    const int field = byte(2) << 8 | byte(3);
    return {negative ? field - lower : field, lower, negative};
}

int Selection(std::uint8_t byte, int first, int count) {
    return first + byte % count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool once = [] {
        SetPortName(u"/nonexistent/transmitter-fuzz");
        return true;
    }();
    (void)once;
    ResetOperationState();
    ResetConfigFrame();
    Frame model{0x44, 0, 0, 0, 0, 0, 0x01, 0, 0, 0, 0, 0, 0, 0};

    Reader input{data, size};
    for (int entry = 0; entry < 8 && !input.Done(); ++entry) {
        const int type = Selection(input.Byte(), -2, 12);
        const int sign = Selection(input.Byte(), -1, 4);
        const int output = Selection(input.Byte(), -1, 4);
        const int fault = Selection(input.Byte(), -1, 4);
        const int compensation = Selection(input.Byte(), -1, 4);
        const std::uint8_t flags = input.Byte();

        EntryWindow window;
        window.texts[kUpperBox] = input.Text();
        window.texts[kLowerBox] = input.Text();
        window.selections[kSensorTypeList] = type;
        window.selections[kSignList] = sign;
        window.selections[kOutputList] = output;
        window.selections[kFaultList] = fault;
        window.selections[kCompensationList] = compensation;
        HandleSlot slot;

        if (flags & 1) {
            UpperLimitTrackingHandler(window, slot);
            const std::int32_t value = TrackedValue(window.texts[kUpperBox].substr(0, kCapacity));
            model[2] = static_cast<std::uint16_t>(value >> 8);
            model[3] = static_cast<std::uint16_t>(value & 0xFF);
            FUZZ_CHECK(ConfigFrame == model);
        }
        if (flags & 2) {
            LowerLimitTrackingHandler(window, slot);
            const std::int32_t value = TrackedValue(window.texts[kLowerBox].substr(0, kCapacity));
            model[4] = static_cast<std::uint16_t>((value >> 8) & 0x7F);
            model[5] = static_cast<std::uint16_t>(value & 0xFF);
            FUZZ_CHECK(ConfigFrame == model);
        }

        const Outcome outcome = Judge(window, type, sign, output, fault, compensation, model);
        StartedWith.reset();
        ConfigureHandler(window, slot);
        ClosePort(slot);

        FUZZ_CHECK(window.messages.size() == outcome.messages.size());
        for (std::size_t i = 0; i < outcome.messages.size(); ++i) {
            const std::u16string& shown = window.messages[i];
            FUZZ_CHECK(outcome.messages[i] == kOpenFailedStart ? shown.starts_with(kOpenFailedStart)
                                                               : shown == outcome.messages[i]);
        }
        FUZZ_CHECK(window.details.size() == (outcome.confirmation ? 1u : 0u));
        if (outcome.confirmation) FUZZ_CHECK(window.details[0] == *outcome.confirmation);
        FUZZ_CHECK(StartedWith.has_value() == outcome.accepted);

        if (outcome.accepted) {
            const Range range = DecodeFrame(*StartedWith);
            const int upper = *PlainNumber(window.texts[kUpperBox]);
            const int lower = *PlainNumber(window.texts[kLowerBox]);
            FUZZ_CHECK(range.upper == upper && range.lower == lower &&
                       range.negative == (sign == 1));
            // The rest of the frame: the command, the code, the fixed bytes and the settings.
            for (std::size_t i : {2u, 3u, 4u, 5u}) FUZZ_CHECK((*StartedWith)[i] <= 0xFF);
            for (std::size_t i = 2; i <= 5; ++i) model[i] = (*StartedWith)[i];
            FUZZ_CHECK(*StartedWith == model);
            ReadyFlag = 1;
        }
        FUZZ_CHECK(ConfigFrame == model);
    }
    return 0;
}
