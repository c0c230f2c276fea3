#pragma once

#include "CanErrors.h"

#include <cstdint>

namespace copn {

// The driver's own codes in the calling thread's last-error value, after an export that
// opens or brings the interface online failed.
using drivercore::ErrorCannotOpen; // the interface does not open
using drivercore::ErrorWrongMode;  // the interface cannot send

// The text of a last-error code of the driver or of an SDO abort code; null for others.
const char* ErrorText(std::uint32_t code);

} // namespace copn
