#pragma once

#include <cstddef>
#include <cstdint>

namespace drivercore {

// The network settings as the program hands them over: the master's own address (node-ID,
// MAC ID; the low byte counts), the bit rate in bit/s, the time the program waits for an
// SDO answer in ms (0: the driver's default; only where the bus has SDO), and bytes the
// program leaves to the driver (unused).
struct NetworkSettings {
    std::uint32_t address;
    std::uint32_t bitRate;
    std::uint16_t sdoTimeout;
    std::uint8_t driverOwn[42];
};
static_assert(sizeof(NetworkSettings) == 52);
static_assert(offsetof(NetworkSettings, bitRate) == 4);
static_assert(offsetof(NetworkSettings, sdoTimeout) == 8);

} // namespace drivercore
