#pragma once

#include "InterfaceRecord.h"

#include <cstdint>

// How a CAN driver library stores its configuration under the program's key path: the
// interface record (SettingsStore), and in a [Network] group of the same file its own bus
// address and the bit rate.
struct CanSettingsRules {
    const char* driverName; // names the settings file
    const char* addressKey; // "NodeId", "MacId"
    std::uint32_t minAddress;
    std::uint32_t maxAddress;
    std::uint32_t defaultAddress;
    std::uint32_t defaultBitRate;
    bool (*validBitRate)(std::uint32_t bitRate);
};

// The stored configuration; what is missing or out of range (an unknown interface type, an
// address or bit rate the rules refuse) takes its default, and nothing stored gives the
// simulated network. False, with nothing written, for a key path that names no place.
bool ReadCanSettings(const char* keyPath, const CanSettingsRules& rules, InterfaceRecord* record,
                     std::uint32_t* address, std::uint32_t* bitRate);
bool SaveCanSettings(const char* keyPath, const CanSettingsRules& rules,
                     const InterfaceRecord& record, std::uint32_t address, std::uint32_t bitRate);
