#include "Backends.h"

namespace drivercore {

namespace {

constexpr Backend Table[] = {
    {SimulatedNetwork, "Simulated network", nullptr},
    {SocketCan, "SocketCAN", "socketcan"},
    {VirtualCan, "Virtual CAN", "virtualcan"},
};

const Backend* find(std::uint32_t type) {
    for (const Backend& backend : Table)
        if (backend.type == type)
            return &backend;
    return nullptr;
}

} // namespace

std::span<const Backend> Backends() {
    return Table;
}

const char* InterfaceTypeName(std::uint32_t type) {
    const Backend* backend = find(type);
    return backend ? backend->name : nullptr;
}

const char* QtPluginFor(std::uint32_t type) {
    const Backend* backend = find(type);
    return backend ? backend->qtPlugin : nullptr;
}

} // namespace drivercore
