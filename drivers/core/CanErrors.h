#pragma once

#include <cstdint>

namespace drivercore {

// The last-error values a CAN driver leaves when an interface does not open or go online.
inline constexpr std::uint32_t ErrorWrongMode = 0x20000000;  // the interface cannot send
inline constexpr std::uint32_t ErrorCannotOpen = 0x20000001; // the interface does not open

} // namespace drivercore
