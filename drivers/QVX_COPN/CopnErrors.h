#pragma once

#include <cstdint>

namespace copn {

// The driver's own codes in the calling thread's last-error value, after an export that
// opens or brings the interface online failed.
inline constexpr std::uint32_t ErrorWrongMode = 0x20000000;  // the interface cannot send
inline constexpr std::uint32_t ErrorCannotOpen = 0x20000001; // the interface does not open

// The text of a last-error code of the driver or of an SDO abort code; null for others.
const char* ErrorText(std::uint32_t code);

} // namespace copn
