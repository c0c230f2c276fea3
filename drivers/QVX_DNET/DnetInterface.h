#pragma once

#include "CanInterface.h"
#include "DnetMaster.h"

#include <cstdint>
#include <memory>
#include <string>

namespace dnet {

using canif::InterfaceType;
using canif::InterfaceTypeName;
using canif::ProvidedPort;
using canif::QtPluginFor;
using canif::SimulatedNetwork;
using canif::SocketCan;
using canif::VirtualCan;

// The bit rates of DeviceNet: 125, 250 and 500 kbit/s.
inline constexpr std::uint32_t BitRates[] = {125000, 250000, 500000};
inline bool ValidBitRate(std::uint32_t bitRate) {
    return bitRate == 125000 || bitRate == 250000 || bitRate == 500000;
}

// One open interface: the CAN connection an interface record names and the master on it;
// its bit rate 125, 250 or 500 kbit/s.
using Interface = canif::BasicInterface<Master, MasterClock, ValidBitRate>;
using Opened = canif::BasicOpened<Interface>;

// The interface the record names.
Opened OpenInterfaceFor(const InterfaceRecord& record);
// The embedded simulated network: an in-process bus, the master on it, and the simulated
// DeviceNet nodes of the default network folder on another port.
Opened OpenSimulatedNetwork();
// A device of a Qt SerialBus plugin (SocketCan, VirtualCan): the interface name as QCanBus
// takes it ("can0"; "tcp://127.0.0.1:35468/can0").
Opened OpenQtDevice(std::uint32_t type, const std::string& device);
// A master on a port someone else provides and opened (a test's bus): its bit rate is only
// recorded.
Opened OpenOnPort(std::shared_ptr<bus::CanPort> port, MasterClock clock = SteadyMasterClock());

} // namespace dnet
