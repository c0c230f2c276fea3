#pragma once

#include "Can_interface_types.h"

#include <cstdint>
#include <span>

// The ways a CAN driver library reaches its bus: the interface types of the interface
// record's first word, each with the name the dialogs show and, for a Qt SerialBus device,
// its plugin.
namespace drivercore {

enum InterfaceType : std::uint32_t {
    SimulatedNetwork = CAN_INTERFACE_SIMULATED_NETWORK, // the embedded simulated network
    SocketCan = CAN_INTERFACE_SOCKETCAN,   // a SocketCAN interface ("can0") through Qt SerialBus
    VirtualCan = CAN_INTERFACE_VIRTUALCAN, // a Qt virtual CAN bus shared by processes
    // No record names it: a port the caller opened and provides (OpenOnPort).
    ProvidedPort = 0xFFFFFFFF,
};

struct Backend {
    std::uint32_t type;
    const char* name;     // "Simulated network", "SocketCAN", "Virtual CAN"
    const char* qtPlugin; // "socketcan", "virtualcan"; null for the simulated network
};

// Every backend a record may name, in the order the dialogs list them.
std::span<const Backend> Backends();

// The backend's name; null for a type that is none of them.
const char* InterfaceTypeName(std::uint32_t type);
// The Qt SerialBus plugin of a device type; null for others.
const char* QtPluginFor(std::uint32_t type);

} // namespace drivercore
