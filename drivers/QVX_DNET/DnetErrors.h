#pragma once

#include "CanErrors.h"

#include <cstdint>

namespace dnet {

// The driver's own codes in the calling thread's last-error value, after an export that
// opens the interface or brings it online failed.
using drivercore::ErrorCannotOpen;                             // the interface does not open
using drivercore::ErrorWrongMode;                              // the interface cannot send
inline constexpr std::uint32_t ErrorDuplicateMac = 0x20000002; // another station has the MAC ID

} // namespace dnet
