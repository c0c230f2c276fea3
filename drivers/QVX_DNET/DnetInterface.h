#pragma once

#include "DnetMaster.h"
#include "InterfaceRecord.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace dnet {

// The interface types, the first word of the interface record.
enum InterfaceType : std::uint32_t {
    SimulatedNetwork = 0, // the embedded simulated network, in this process
    SocketCan = 1,        // a SocketCAN interface ("can0") through Qt SerialBus
    VirtualCan = 2,       // a Qt virtual CAN bus shared by processes on this machine
    // No record names it: a port the caller opened and provides (OpenOnPort).
    ProvidedPort = 0xFFFFFFFF,
};

// "Simulated network", "SocketCAN", "Virtual CAN"; null for a type that is none of them.
const char* InterfaceTypeName(std::uint32_t type);
// The Qt SerialBus plugin of a device type ("socketcan", "virtualcan"); null for others.
const char* QtPluginFor(std::uint32_t type);

// The bit rates of DeviceNet: 125, 250 and 500 kbit/s.
inline constexpr std::uint32_t BitRates[] = {125000, 250000, 500000};
inline bool ValidBitRate(std::uint32_t bitRate) {
    return bitRate == 125000 || bitRate == 250000 || bitRate == 500000;
}

// One open interface: the CAN connection an interface record names and the master on it.
// Thread-safe; Close may come while other threads still use it (their calls then fail).
class Interface {
public:
    virtual ~Interface();
    Interface(const Interface&) = delete;
    Interface& operator=(const Interface&) = delete;

    std::uint32_t Type() const { return type_; }
    Master& GetMaster() { return *master_; }

    // The bus's bit rate, one of BitRates: the simulated wire's, or the device's.
    bool SetBitRate(std::uint32_t bitRate);
    // Nothing until SetBitRate (the bus runs as it was).
    std::optional<std::uint32_t> BitRate() const;

    // Shuts the master down and closes the connection; again does nothing.
    void Close();

protected:
    Interface(std::uint32_t type, std::shared_ptr<bus::CanPort> port, MasterClock clock);
    virtual bool applyBitRate(std::uint32_t bitRate) = 0;
    virtual void closeConnection() {}

private:
    const std::uint32_t type_;
    std::unique_ptr<Master> master_;
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
