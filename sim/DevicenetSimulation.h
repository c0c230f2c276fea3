#pragma once

#include "CanPort.h"
#include "NodeTypes.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sim {

class DevicenetSimulationImpl;

// A simulated DeviceNet network served on one CAN port: the nodes its network file lists,
// each a flash node behind the Group 2 only server (explicit messaging with fragmentation),
// with the Identity object and the firmware object 0xC7. Each node keeps its flash in its own
// folder below the network folder, opened when the node is first spoken to. One process
// serves a network folder at a time.
class DevicenetSimulation {
public:
    // Reads <networkFolder>/network.ini, writing the default network there first when there
    // is none. Null, with the reason in *error, when the folder is in use by another process,
    // or the file cannot be read or written or names no valid network.
    static std::unique_ptr<DevicenetSimulation> Start(std::unique_ptr<bus::CanPort> port,
                                                      const std::string& networkFolder,
                                                      std::string* error,
                                                      NodeClock clock = SteadyNodeClock());
    ~DevicenetSimulation();
    DevicenetSimulation(const DevicenetSimulation&) = delete;
    DevicenetSimulation& operator=(const DevicenetSimulation&) = delete;

    std::vector<std::uint8_t> MacIds() const;
    // Whether a master holds the node's explicit connection (false for a MAC ID the network
    // lacks). For any thread: what the node's last step left.
    bool ConnectionHeld(std::uint8_t mac) const;
    // Wakes the simulation's thread to look at the clock now (for a clock a test drives).
    void Poke();

private:
    explicit DevicenetSimulation(std::unique_ptr<DevicenetSimulationImpl> impl);
    std::unique_ptr<DevicenetSimulationImpl> impl_;
};

// Where the embedded simulated DeviceNet network keeps its nodes: devicenet-network in the
// data folder (see ZandrelDataFolder); empty when there is none.
std::string DefaultDevicenetNetworkFolder();

} // namespace sim
