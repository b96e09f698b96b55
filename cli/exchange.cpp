#include "cli/exchange.h"

namespace {

ExchangeError Unimplemented() {
    return ExchangeError{ExchangeError::Kind::kOpen};
}

}  // namespace

Result<FirmwareVersion> ReadFirmwareVersion(const Link&) { return Unimplemented(); }
Result<DeviceConfiguration> ReadConfiguration(const Link&, const FirmwareVersion&) {
    return Unimplemented();
}
Result<std::monostate> WriteConfiguration(const Link&, const ConfigFrameSlots&) {
    return Unimplemented();
}
Result<std::int16_t> ReadColdJunctionTenths(const Link&) { return Unimplemented(); }
Result<std::int16_t> AdjustColdJunction(const Link&, std::int16_t) { return Unimplemented(); }
Result<std::monostate> SendUnlock(const Link&) { return Unimplemented(); }

ConfigFrameSlots BuildConfigurationFrame(std::uint8_t, std::int32_t, std::int32_t, bool,
                                         std::uint8_t, std::uint8_t, std::uint8_t) {
    return kConfigFrameStart;
}
