#include "CanInterface.h"

namespace canif {

const char* InterfaceTypeName(std::uint32_t type) {
    switch (type) {
    case SimulatedNetwork:
        return "Simulated network";
    case SocketCan:
        return "SocketCAN";
    case VirtualCan:
        return "Virtual CAN";
    default:
        return nullptr;
    }
}

const char* QtPluginFor(std::uint32_t type) {
    switch (type) {
    case SocketCan:
        return "socketcan";
    case VirtualCan:
        return "virtualcan";
    default:
        return nullptr;
    }
}

} // namespace canif
