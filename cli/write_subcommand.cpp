#include <CLI/CLI.hpp>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <variant>

#include "cli/subcommands.h"
#include "cli/write_entry.h"

namespace {

// The --from file's text; none when it cannot be read.
std::optional<std::string> FileText(CliStreams& io, const std::string& from) {
    if (from == "-") {
        return std::string(std::istreambuf_iterator<char>(io.in), std::istreambuf_iterator<char>());
    }
    // The name is UTF-8 on every platform; Windows opens it by its UTF-16 form.
    std::ifstream file(std::filesystem::path(std::u8string(from.begin(), from.end())),
                       std::ios::binary);
    if (!file) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

}  // namespace

int RunWrite(const Session& session, const Request& request, const CLI::App& command) {
    WriteEntry entry;
    if (!request.from.empty()) {
        const std::optional<std::string> text = FileText(session.io, request.from);
        if (!text) return session.Fail(kExitUsage, "cannot read " + request.from);
        const std::string source = request.from == "-" ? "standard input" : request.from;
        if (auto error = TakeWriteEntry(*text, source, entry)) {
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

    CheckedEntry checked;
    if (auto refusal = EntryRefusal(entry, checked)) return session.Fail(kExitUsage, *refusal);

    const ConfigFrameSlots frame = BuildConfigurationFrame(
        checked.sensor_code, checked.upper, checked.lower < 0 ? -checked.lower : checked.lower,
        checked.lower < 0, checked.output, checked.fault, checked.compensation);
    const Result<std::monostate> written = WriteConfiguration(session.link, frame);
    if (const ExchangeError* error = ErrorOf(written)) return Report(session, *error);

    const std::string sensor = SensorText(checked.sensor_code);
    const std::string output = ShownByte(kOutputWords, checked.output);
    const std::string fault = ShownByte(kFaultWords, checked.fault);
    const std::string compensation = ShownByte(kCompensationWords, checked.compensation);
    Json object{{"port", session.port_name},   {"sensor", sensor}, {"upper", checked.upper},
                {"lower", checked.lower},      {"output", output}, {"fault", fault},
                {"compensation", compensation}};
    if (!session.json) {
        session.Print("wrote sensor " + sensor + "  upper " + std::to_string(checked.upper) +
                      "  lower " + std::to_string(checked.lower) + "  output " + output +
                      "  fault " + fault + "  compensation " + compensation);
    }
    if (!request.verify) {
        if (session.json) session.PrintJson(object);
        return kExitOk;
    }

    const std::variant<ReadBack, int> read = ReadDevice(session);
    if (const int* code = std::get_if<int>(&read)) return *code;
    const DeviceConfiguration& reads = std::get<ReadBack>(read).configuration;
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
