#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <istream>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <variant>

#include "cli/subcommands.h"
#include "cli/unit_record.h"
#include "device/write_entry.h"
#include "journal/shown_text.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace {

// A profile is a few hundred bytes; anything near this is not one, and /dev/zero or a pipe that
// never ends must not be read whole to find that out.
constexpr std::size_t kProfileLimit = 64 * 1024;

std::string TooLarge(const std::string& source) {
    return source + " is larger than " + std::to_string(kProfileLimit / 1024) +
           " KiB: not a profile";
}

// Reads the --from text, at most the limit, into `text`; the error ("cannot read FILE: why")
// when there is none.
std::optional<std::string> ReadFrom(std::istream& in, const std::string& source,
                                    std::string& text) {
#ifdef _WIN32
    // In text mode a UTF-16 profile would end at its first 0x1A byte (Ctrl+Z), as «К» has one,
    // and lose the CR of each CR LF.
    if (&in == &std::cin) _setmode(_fileno(stdin), _O_BINARY);
#endif
    text.assign(kProfileLimit + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) return "cannot read " + source;
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > kProfileLimit) return TooLarge(source);
    return std::nullopt;
}

std::optional<std::string> ReadFrom(const std::string& name, std::string& text) {
    // The name is UTF-8 on every platform; Windows opens it by its UTF-16 form.
    const std::filesystem::path path(std::u8string(name.begin(), name.end()));
    errno = 0;
#ifdef _WIN32
    std::FILE* file = ::_wfopen(path.c_str(), L"rb");
#else
    std::FILE* file = std::fopen(path.c_str(), "rb");
#endif
    const auto failed = [&name] {
        return "cannot read " + name + ": " + std::generic_category().message(errno);
    };
    if (file == nullptr) return failed();
    text.assign(kProfileLimit + 1, '\0');
    const std::size_t length = std::fread(text.data(), 1, text.size(), file);
    // A folder opens, and fails only when read.
    const bool unreadable = std::ferror(file) != 0;
    const std::string error = unreadable ? failed() : std::string();
    std::fclose(file);
    if (unreadable) return error;
    if (length > kProfileLimit) return TooLarge(name);
    text.resize(length);
    return std::nullopt;
}

}  // namespace

std::optional<int> CheckedEntryOf(const Session& session, const Request& request,
                                  const CLI::App& command, CheckedEntry& checked) {
    WriteEntry entry;
    if (!request.from.empty()) {
        const std::string source = request.from == "-" ? "standard input" : request.from;
        std::string text;
        if (auto error = request.from == "-" ? ReadFrom(session.io.in, source, text)
                                             : ReadFrom(request.from, text)) {
            return session.Fail(kExitUsage, *error);
        }
        if (auto error = TakeWriteEntry(text, source, entry)) {
            return session.Fail(kExitUsage, *error);
        }
    }
    const auto given = [&command](const char* option) { return command.count(option) > 0; };
    if (given("--sensor")) entry.sensor = request.sensor;
    if (given("--upper")) entry.upper = request.upper;
    if (given("--lower")) entry.lower = request.lower;
    if (given("--output")) entry.output = request.output;
    if (given("--fault")) entry.fault = request.fault;
    if (given("--compensation")) entry.compensation = request.compensation;
    // A word that is no UTF-8 or holds a control character would reach the terminal in the
    // refusal that names it.
    for (const auto& [option, word] :
         {std::pair{"--sensor", &entry.sensor}, std::pair{"--output", &entry.output},
          std::pair{"--fault", &entry.fault}, std::pair{"--compensation", &entry.compensation}}) {
        if (!*word) continue;
        if (auto why = journal::TextRefusal(**word)) {
            const std::string source = request.from == "-" ? "standard input" : request.from;
            const std::string from =
                given(option) ? std::string(option) : source + ": " + (option + 2);
            return session.Fail(kExitUsage, from + " \"" + journal::Escaped(**word) + "\" " + *why);
        }
    }
    if (auto refusal = EntryRefusal(entry, checked)) return session.Fail(kExitUsage, *refusal);
    return std::nullopt;
}

Json EntryJson(const CheckedEntry& checked) {
    return Json{{"sensor", SensorText(checked.sensor_code)},
                {"upper", checked.upper},
                {"lower", checked.lower},
                {"output", ShownByte(kOutputWords, checked.output)},
                {"fault", ShownByte(kFaultWords, checked.fault)},
                {"compensation", ShownByte(kCompensationWords, checked.compensation)}};
}

namespace {

int WriteChecked(const Session& session, const Request& request, const CheckedEntry& checked,
                 journal::UnitRow& row) {
    const ConfigFrameSlots frame = BuildConfigurationFrame(
        checked.sensor_code, checked.upper, checked.lower < 0 ? -checked.lower : checked.lower,
        checked.lower < 0, checked.output, checked.fault, checked.compensation);
    const Result<std::monostate> written = WriteConfiguration(session.link, frame);
    if (const ExchangeError* error = ErrorOf(written)) return Report(session, *error);

    Json object{{"port", session.port_name}};
    object.update(EntryJson(checked));
    if (!session.json) {
        session.Print("wrote sensor " + object["sensor"].get<std::string>() + "  upper " +
                      std::to_string(checked.upper) + "  lower " + std::to_string(checked.lower) +
                      "  output " + object["output"].get<std::string>() + "  fault " +
                      object["fault"].get<std::string>() + "  compensation " +
                      object["compensation"].get<std::string>());
    }
    if (!request.verify) {
        if (session.json) session.PrintJson(object);
        return kExitOk;
    }

    const std::variant<ReadBack, int> read = ReadDevice(session);
    if (const int* code = std::get_if<int>(&read)) return *code;
    const auto& [firmware, reads] = std::get<ReadBack>(read);
    row.firmware = FirmwareText(firmware);
    row.as_left = ConfigurationJson(session.port_name, firmware, reads);
    const std::string differences = ReadBackDifferences(checked, reads);
    if (session.json) {
        object["verified"] = differences.empty();
        session.PrintJson(object);
    } else if (differences.empty()) {
        session.Print(reads.output && reads.fault
                          ? "verified"
                          : "verified (output and fault not in this firmware's reply)");
    }
    if (!differences.empty()) return session.Fail(kExitDevice, "verify failed: " + differences);
    return kExitOk;
}

}  // namespace

int RunWrite(const Session& session, const Request& request, const CLI::App& command) {
    CheckedEntry checked;
    if (auto code = CheckedEntryOf(session, request, command, checked)) return *code;
    UnitRecord record;
    if (auto code = BeginUnitRecord(session, request, EntryJson(checked).dump(), record)) {
        return *code;
    }
    const Session unit = RecordingSession(session, record);
    return EndUnitRecord(unit, record, WriteChecked(unit, request, checked, record.row));
}
