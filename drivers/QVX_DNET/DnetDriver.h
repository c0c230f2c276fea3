#pragma once

#include "DnetMaster.h"
#include "DriverLibrary.h"
#include "NetworkSettings.h"

#include <cstdint>
#include <memory>

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

const drivercore::DriverTraits& Traits();
drivercore::DriverLibrary& Library();

// A master on a port someone else provides and opened (a test's bus).
drivercore::Opened OpenOnPort(std::shared_ptr<bus::CanPort> port,
                              MasterClock clock = SteadyMasterClock());

} // namespace dnet
