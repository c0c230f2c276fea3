#pragma once

#include "CopnClock.h"
#include "CopnMaster.h"
#include "DriverLibrary.h"
#include "NetworkSettings.h"

#include <cstdint>

// The CANopen driver as the driver core sees it: its traits and its library of shared exports.
namespace copn {

// The bus takes 10 kbit/s to 1 Mbit/s; the configuration window offers the usual rates.
inline constexpr std::uint32_t MinBitRate = 10000;
inline constexpr std::uint32_t MaxBitRate = 1000000;
inline bool ValidBitRate(std::uint32_t bitRate) {
    return bitRate >= MinBitRate && bitRate <= MaxBitRate;
}
inline constexpr std::uint32_t DefaultOwnNodeId = 127;
inline constexpr std::uint32_t DefaultBitRate = 500000;

// The library's shared exports, and what tests reach the driver by.
drivercore::DriverLibrary& Library();

} // namespace copn
