#pragma once

#include "CanInterfaceRegistry.h"
#include "DnetInterface.h"

#include <cstdint>

namespace dnet {

// The open interfaces of the library, by the handles the exports hand out.
using InterfaceRegistry = canif::InterfaceRegistry<Interface>;

// Registers an interface that opened and returns its handle; for one that did not, says
// why on standard error, sets the calling thread's last-error (ErrorWrongMode or
// ErrorCannotOpen) and returns 0.
inline std::uint32_t RegisterOpened(Opened opened) {
    return canif::RegisterOpened("QVX_DNET", std::move(opened));
}

} // namespace dnet
