#pragma once

#include <cstdint>

namespace dnet {

// The driver's own codes in the calling thread's last-error value, after an export that
// opens the interface or brings it online failed.
inline constexpr std::uint32_t ErrorWrongMode = 0x20000000;    // the interface cannot send
inline constexpr std::uint32_t ErrorCannotOpen = 0x20000001;   // the interface does not open
inline constexpr std::uint32_t ErrorDuplicateMac = 0x20000002; // another station has the MAC ID

} // namespace dnet
