#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "cli/subcommands.h"
#include "device/write_entry.h"
#include "serial/device_path.h"
#include "serial/port_discovery.h"

int RunPorts(CliStreams& io, bool json) {
    const std::vector<std::u16string> ports =
        ListSerialPorts().value_or(std::vector<std::u16string>{});
    if (json) {
        Json names = Json::array();
        for (const std::u16string& port : ports) names.push_back(Utf8FromUtf16(port));
        Json object{{"ports", names}, {"default", nullptr}};
        if (!ports.empty()) object["default"] = Utf8FromUtf16(ports.back());
        io.out << object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        return kExitOk;
    }
    for (std::size_t i = 0; i < ports.size(); ++i) {
        io.out << Utf8FromUtf16(ports[i]) << (i + 1 == ports.size() ? "  (default)" : "") << '\n';
    }
    return kExitOk;
}

int RunVersion(const Session& session) {
    const Result<FirmwareVersion> firmware = ReadFirmwareVersion(session.link);
    if (const ExchangeError* error = ErrorOf(firmware)) return Report(session, *error);
    const std::string text = FirmwareText(std::get<FirmwareVersion>(firmware));
    if (session.json) {
        session.PrintJson(Json{{"port", session.port_name}, {"firmware", text}});
    } else {
        session.Print(text);
    }
    return kExitOk;
}

int RunRead(const Session& session) {
    const std::variant<ReadBack, int> read = ReadDevice(session);
    if (const int* code = std::get_if<int>(&read)) return *code;
    const auto& [firmware, configuration] = std::get<ReadBack>(read);
    const std::string sensor = SensorText(configuration.sensor_code);
    if (session.json) {
        session.Print(ConfigurationJson(session.port_name, firmware, configuration));
        return kExitOk;
    }
    std::string line = "firmware " + FirmwareText(firmware) + "  sensor " + sensor + "  upper " +
                       std::to_string(configuration.upper) + "  lower " +
                       std::to_string(SignedLower(configuration));
    if (configuration.output) line += "  output " + ShownByte(kOutputWords, *configuration.output);
    if (configuration.fault) line += "  fault " + ShownByte(kFaultWords, *configuration.fault);
    session.Print(line);
    return kExitOk;
}

int RunUnlock(const Session& session) {
    const Result<std::monostate> sent = SendUnlock(session.link);
    if (const ExchangeError* error = ErrorOf(sent)) return Report(session, *error);
    if (session.json) {
        session.PrintJson(Json{{"port", session.port_name}, {"unlocked", true}});
    } else {
        session.Print("unlocked");
    }
    return kExitOk;
}
