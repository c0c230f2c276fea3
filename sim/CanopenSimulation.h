#pragma once

#include "CanPort.h"
#include "NodeTypes.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sim {

class CanopenSimulationImpl;

// A simulated CANopen network served on one CAN port: the nodes its network file lists,
// each a flash node behind CiA 301 (SDO server, NMT, node guarding, boot-up) with the
// manufacturer objects 0x3600 to 0x3611, or with CiA 302-3 program download (see
// ProgramNode), as its profile says. Each node keeps its flash in its own folder below
// the network folder, opened when the node is first spoken to.
//
// The nodes answer on the port's delivery thread; a thread of the simulation sends what is
// due in time (a boot-up when a restart ends, SDO time-outs). Start sends every node's
// boot-up message.
class CanopenSimulation {
public:
    // Reads <networkFolder>/network.ini, writing the default network there first when there
    // is none. Null, with the reason in *error, when the file cannot be read or written or
    // names no valid network.
    static std::unique_ptr<CanopenSimulation> Start(std::unique_ptr<bus::CanPort> port,
                                                    const std::string& networkFolder,
                                                    std::string* error,
                                                    NodeClock clock = SteadyNodeClock());
    // Stops the nodes (nothing more is sent) and releases their folders.
    ~CanopenSimulation();
    CanopenSimulation(const CanopenSimulation&) = delete;
    CanopenSimulation& operator=(const CanopenSimulation&) = delete;

    std::vector<std::uint8_t> NodeIds() const;
    // Wakes the simulation's thread to look at the clock now (for a clock a test drives).
    void Poke();

private:
    explicit CanopenSimulation(std::unique_ptr<CanopenSimulationImpl> impl);
    std::unique_ptr<CanopenSimulationImpl> impl_;
};

// Where the embedded simulated CANopen network keeps its nodes: canopen-network in the data
// folder (see ZandrelDataFolder); empty when there is none.
std::string DefaultCanopenNetworkFolder();

} // namespace sim
