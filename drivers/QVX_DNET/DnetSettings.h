#pragma once

#include "InterfaceRecord.h"

#include <cstddef>
#include <cstdint>

namespace dnet {

// The network settings as the program hands them over: the master's own MAC ID (the low
// byte counts), the bit rate in bit/s, and bytes the program leaves to the driver (unused).
struct NetworkSettings {
    std::uint32_t macId;
    std::uint32_t bitRate;
    std::uint8_t driverOwn[44];
};
static_assert(sizeof(NetworkSettings) == 52);
static_assert(offsetof(NetworkSettings, bitRate) == 4);

inline constexpr std::uint32_t DefaultOwnMac = 0;
inline constexpr std::uint32_t DefaultBitRate = 125000;

// What a configuration holds before anything is stored: the simulated network, own MAC ID
// 0, 125 kbit/s.
InterfaceRecord DefaultRecord();
NetworkSettings DefaultNetworkSettings();

// Reads what is stored under the key path; what is missing or out of range (an unknown
// interface type, a MAC ID over 63, a bit rate other than 125, 250 or 500 kbit/s)
// takes its default. False, with nothing written, for a key path that names no place.
bool ReadSettings(const char* keyPath, InterfaceRecord* record, NetworkSettings* network);
bool SaveSettings(const char* keyPath, const InterfaceRecord& record,
                  const NetworkSettings& network);

} // namespace dnet
