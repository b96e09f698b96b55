#include <windows.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <iostream>
#include <streambuf>
#include <string>
#include <string_view>

#include "cli/console_output.h"
#include "serial/device_path.h"

namespace {

// How many bytes the sequence that `lead` starts has. A byte that cannot start one counts as
// whole: the conversion turns it into U+FFFD by itself.
std::size_t SequenceLength(unsigned char lead) {
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if ((lead & 0xF8) == 0xF0) return 4;
    return 1;
}

// Where the complete sequences of `bytes` end. A character can be written in two pieces (the
// error stream flushes after every insertion), so an unfinished one at the end waits for the
// rest rather than becoming U+FFFD.
std::size_t CompleteLength(std::string_view bytes) {
    for (std::size_t back = 1; back <= 3 && back <= bytes.size(); ++back) {
        const auto byte = static_cast<unsigned char>(bytes[bytes.size() - back]);
        if ((byte & 0xC0) == 0x80) continue;
        return SequenceLength(byte) > back ? bytes.size() - back : bytes.size();
    }
    return bytes.size();
}

// A console's stream: UTF-8 in, UTF-16 to the console. A failed write makes overflow and sync
// fail, so the stream goes bad as it would on a closed file.
class ConsoleBuffer final : public std::streambuf {
  public:
    explicit ConsoleBuffer(HANDLE console) : console_(console) {
        setp(bytes_, bytes_ + sizeof bytes_);
    }

  protected:
    int_type overflow(int_type c) override {
        if (!WriteComplete()) return traits_type::eof();
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        *pptr() = traits_type::to_char_type(c);
        pbump(1);
        return c;
    }

    int sync() override { return WriteComplete() ? 0 : -1; }

  private:
    bool WriteComplete() {
        const std::string_view pending(pbase(), static_cast<std::size_t>(pptr() - pbase()));
        const std::size_t complete = CompleteLength(pending);
        const std::u16string text = Utf16FromUtf8(pending.substr(0, complete));
        // Moved before the write, so that text the console refused is not offered again.
        const std::size_t rest = pending.size() - complete;
        std::memmove(bytes_, bytes_ + complete, rest);
        setp(bytes_, bytes_ + sizeof bytes_);
        pbump(static_cast<int>(rest));
        return WriteAll(text);
    }

    bool WriteAll(std::u16string_view text) {
        while (!text.empty()) {
            DWORD written = 0;
            if (WriteConsoleW(console_, text.data(), static_cast<DWORD>(text.size()), &written,
                              nullptr) == 0 ||
                written == 0) {
                // The program asks errno why its output failed, as after the C library's write.
                errno = EIO;
                return false;
            }
            text.remove_prefix(written);
        }
        return true;
    }

    HANDLE console_;
    char bytes_[1024];
};

void WriteAsUtf16IfConsole(DWORD standard_handle, std::ostream& stream) {
    const HANDLE handle = GetStdHandle(standard_handle);
    DWORD mode = 0;
    // A file or a pipe has no console mode.
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr || GetConsoleMode(handle, &mode) == 0) {
        return;
    }
    stream.flush();
    // Never deleted: the standard streams are flushed once more after main has returned.
    stream.rdbuf(new ConsoleBuffer(handle));
}

}  // namespace

void WriteConsoleStreamsAsUtf16() {
    WriteAsUtf16IfConsole(STD_OUTPUT_HANDLE, std::cout);
    WriteAsUtf16IfConsole(STD_ERROR_HANDLE, std::cerr);
}
