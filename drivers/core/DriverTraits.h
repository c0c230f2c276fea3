#pragma once

#include "CanMaster.h"
#include "MasterClock.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>

namespace drivercore {

// What makes one CAN driver library different from another; the core does the rest.
struct DriverTraits {
    const char* libraryName; // "QVX_COPN": the settings file, messages, the version window
    const char* busName;     // "CANopen": the windows' titles, messages
    std::uint32_t versionMajor;
    std::uint32_t versionMinor;

    // The master's own address on the bus: its name in the settings file and in the object
    // names of the windows ("NodeId"), its label ("Node ID:"), its range and default.
    const char* addressName;
    const char* addressLabel;
    std::uint32_t minAddress;
    std::uint32_t maxAddress;
    std::uint32_t defaultAddress;

    // The bit rates the configuration window offers, the default, and those the bus takes.
    std::span<const std::uint32_t> bitRates;
    std::uint32_t defaultBitRate;
    bool (*validBitRate)(std::uint32_t bitRate);
    // The SDO answer time-out in ms the configuration window offers when nothing is chosen;
    // 0 where the bus has no SDO, and the window offers none.
    std::uint16_t defaultSdoTimeout;

    // The object-name prefix of the windows ("Copn": "CopnConfiguration", "CopnVersion").
    const char* windowPrefix;

    // The master on a port.
    std::unique_ptr<CanMaster> (*makeMaster)(std::shared_ptr<bus::CanPort> port, MasterClock clock);
    // The folder of the embedded simulated network's nodes; empty when there is no place.
    std::string (*simulatedNetworkFolder)();
    // Starts the nodes of the folder on their port; null with the reason when they do not
    // start. What it returns runs the nodes until it is destroyed.
    std::shared_ptr<void> (*startSimulatedNodes)(std::unique_ptr<bus::CanPort> port,
                                                 const std::string& folder, std::string* error);
};

// The usual makeMaster: the driver's master M made on the port.
template <typename M>
std::unique_ptr<CanMaster> MakeMaster(std::shared_ptr<bus::CanPort> port, MasterClock clock) {
    return std::make_unique<M>(std::move(port), std::move(clock));
}

// The usual startSimulatedNodes: Nodes::Start of the simulation (sim::CanopenSimulation, …).
template <typename Nodes>
std::shared_ptr<void> StartNodes(std::unique_ptr<bus::CanPort> port, const std::string& folder,
                                 std::string* error) {
    return Nodes::Start(std::move(port), folder, error);
}

} // namespace drivercore
