#pragma once

#include "DnetSettings.h"
#include "InterfaceRecord.h"

#include <cstdint>

namespace dnet {

// Lets the user choose the CAN interface (the simulated network, a SocketCAN interface or a
// Qt virtual CAN bus, with the devices Qt finds on this machine or a typed name), the bit
// rate and the master's own MAC ID. True when the user accepted; both records then hold the
// choice, and are untouched otherwise. False without a Qt application.
bool ShowConfigDialog(InterfaceRecord* record, NetworkSettings* network);

// What the version window shows: the library's version and, for an open interface, its type,
// bit rate (0: not set), the master's MAC ID and whether it is online.
struct VersionFacts {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    bool interfaceOpen = false;
    std::uint32_t interfaceType = 0;
    std::uint32_t bitRate = 0;
    std::uint32_t macId = 0;
    bool online = false;
};

// Shows the facts until the user closes the window; false without a Qt application.
bool ShowVersionWindow(const VersionFacts& facts);

} // namespace dnet
