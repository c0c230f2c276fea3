#pragma once

#include "DnetMaster.h"
#include "DriverLibrary.h"
#include "NetworkSettings.h"

#include <cstdint>

// The DeviceNet driver as the driver core sees it: its traits and its library of shared
// exports.
namespace dnet {

// The bit rates of DeviceNet: 125, 250 and 500 kbit/s.
inline constexpr std::uint32_t BitRates[] = {125000, 250000, 500000};
inline bool ValidBitRate(std::uint32_t bitRate) {
    return bitRate == 125000 || bitRate == 250000 || bitRate == 500000;
}
inline constexpr std::uint32_t DefaultOwnMac = 0;
inline constexpr std::uint32_t DefaultBitRate = 125000;

// The library's shared exports, and what tests reach the driver by.
drivercore::DriverLibrary& Library();

} // namespace dnet
