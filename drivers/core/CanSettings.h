#pragma once

#include "DriverTraits.h"
#include "InterfaceRecord.h"
#include "NetworkSettings.h"

namespace drivercore {

// How a CAN driver library stores its configuration under the program's key path: the
// interface record (SettingsStore), and in a [Network] group of the same file its own bus
// address, the bit rate and, where the bus has SDO, the SDO answer time-out.

// The SDO answer time-outs in ms the configuration offers.
inline constexpr int MinSdoTimeout = 10;
inline constexpr int MaxSdoTimeout = 60000;

// What a configuration holds before anything is stored: the simulated network, the
// driver's default address and bit rate.
InterfaceRecord DefaultRecord();
NetworkSettings DefaultNetworkSettings(const DriverTraits& traits);

// The stored configuration; what is missing or out of range (an unknown interface type, an
// address or bit rate the driver refuses) takes its default, and nothing stored gives the
// simulated network. False, with nothing written, for a key path that names no place.
bool ReadSettings(const DriverTraits& traits, const char* keyPath, InterfaceRecord* record,
                  NetworkSettings* network);
bool SaveSettings(const DriverTraits& traits, const char* keyPath, const InterfaceRecord& record,
                  const NetworkSettings& network);

} // namespace drivercore
