#pragma once

#include "DriverTraits.h"

#include <cstdint>

namespace drivercore {

// What the version window shows: the library's version and, for an open interface, its type,
// bit rate (0: not set), the master's own address and whether it is online.
struct VersionFacts {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    bool interfaceOpen = false;
    std::uint32_t interfaceType = 0;
    std::uint32_t bitRate = 0;
    std::uint32_t address = 0;
    bool online = false;
};

// Shows the facts until the user closes the window; false without a Qt application.
bool ShowVersionWindow(const DriverTraits& traits, const VersionFacts& facts);

} // namespace drivercore
