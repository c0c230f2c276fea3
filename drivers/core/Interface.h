#pragma once

#include "Backends.h"
#include "CanMaster.h"
#include "DriverTraits.h"
#include "InterfaceRecord.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace drivercore {

// One open interface: the CAN connection an interface record names and the driver's master
// on it. Thread-safe; Close may come while other threads still use it (their calls then
// fail).
class Interface {
public:
    virtual ~Interface();
    Interface(const Interface&) = delete;
    Interface& operator=(const Interface&) = delete;

    std::uint32_t Type() const { return type_; }
    CanMaster& Master() { return *master_; }
    // The master as the driver made it.
    template <typename M> M& MasterAs() { return static_cast<M&>(*master_); }

    // The bus's bit rate, one the driver's bus takes: the simulated wire's, or the device's.
    bool SetBitRate(std::uint32_t bitRate);
    // Nothing until SetBitRate (the bus runs as it was).
    std::optional<std::uint32_t> BitRate() const;

    // Shuts the master down and closes the connection; again does nothing.
    void Close();

protected:
    Interface(const DriverTraits& traits, std::uint32_t type, std::shared_ptr<bus::CanPort> port,
              MasterClock clock);
    virtual bool applyBitRate(std::uint32_t bitRate) = 0;
    virtual void closeConnection() {}

private:
    const DriverTraits& traits_;
    const std::uint32_t type_;
    std::unique_ptr<CanMaster> master_;
    mutable std::mutex mutex_; // one bit-rate change or close at a time
    std::optional<std::uint32_t> bitRate_;
    bool closed_ = false;
};

// An interface that opened, or why not.
struct Opened {
    std::shared_ptr<Interface> interface;
    std::string error;
    // It opened, but cannot send (listen-only, bus-off): the interface is not in the mode
    // a master needs.
    bool wrongMode = false;
};

// The interface the record names.
Opened OpenInterfaceFor(const DriverTraits& traits, const InterfaceRecord& record);
// The embedded simulated network: an in-process bus, the master on it, and the driver's
// simulated nodes of the default network folder on another port.
Opened OpenSimulatedNetwork(const DriverTraits& traits);
// A device of a Qt SerialBus plugin (SocketCan, VirtualCan): the interface name as QCanBus
// takes it ("can0"; "tcp://127.0.0.1:35468/can0"). A new bit rate opens the device again
// with it: Qt applies a device's bit rate when it connects.
Opened OpenQtDevice(const DriverTraits& traits, std::uint32_t type, const std::string& device);
// A master on a port someone else provides and opened (a test's bus): its bit rate is only
// recorded.
Opened OpenOnPort(const DriverTraits& traits, std::shared_ptr<bus::CanPort> port,
                  MasterClock clock = SteadyMasterClock());

} // namespace drivercore
