#include "serial/port_discovery.h"

#include <algorithm>
#include <utility>

char16_t PortName[kPortNameCapacity] = {};

namespace {

PortListSource& ListSource() {
    static PortListSource source;
    return source;
}

}  // namespace

std::u16string_view PortNameView() {
    return std::u16string_view(PortName);
}

void SetPortName(std::u16string_view name) {
    const std::size_t length = std::min(name.size(), kPortNameCapacity - 1);
    std::copy_n(name.begin(), length, PortName);
    PortName[length] = u'\0';
}

void SetPortListSource(PortListSource source) {
    ListSource() = std::move(source);
}

std::optional<std::vector<std::u16string>> ListSerialPorts() {
    const PortListSource& source = ListSource();
    return source ? source() : ListPlatformSerialPorts();
}

void PortDiscovery() {
    const std::optional<std::vector<std::u16string>> ports = ListSerialPorts();
    if (!ports || ports->empty()) return;
    SetPortName(ports->back());
}
