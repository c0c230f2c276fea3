#pragma once

#include "InterfaceRecord.h"

#include <cstddef>
#include <cstdint>

namespace copn {

// The network settings as the program hands them over: the master's own node-ID (the low
// byte counts), the bit rate in bit/s, and bytes the program leaves to the driver (unused).
struct NetworkSettings {
    std::uint32_t nodeId;
    std::uint32_t bitRate;
    std::uint8_t driverOwn[44];
};
static_assert(sizeof(NetworkSettings) == 52);
static_assert(offsetof(NetworkSettings, bitRate) == 4);

inline constexpr std::uint32_t DefaultOwnNodeId = 127;
inline constexpr std::uint32_t DefaultBitRate = 500000;

// What a configuration holds before anything is stored: the simulated network, own node-ID
// 127, 500 kbit/s.
InterfaceRecord DefaultRecord();
NetworkSettings DefaultNetworkSettings();

// Reads what is stored under the key path; what is missing or out of range (an unknown
// interface type, a node-ID outside 1 to 127, a bit rate outside 10 kbit/s to 1 Mbit/s)
// takes its default. False, with nothing written, for a key path that names no place.
bool ReadSettings(const char* keyPath, InterfaceRecord* record, NetworkSettings* network);
bool SaveSettings(const char* keyPath, const InterfaceRecord& record,
                  const NetworkSettings& network);

} // namespace copn
