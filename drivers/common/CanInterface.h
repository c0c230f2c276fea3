#pragma once

#include "CanPort.h"
#include "InterfaceRecord.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

// What the CAN driver libraries share about the interface they open: the interface types of
// the record's first word, and an open interface — the CAN connection and the protocol
// master on it — whatever the master speaks.
namespace canif {

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

// One open interface: the CAN connection an interface record names and the master on it.
// Thread-safe; Close may come while other threads still use it (their calls then fail).
// Master is made from the port and a clock, and offers Shutdown() and CanSend().
template <typename Master, typename Clock, bool (*ValidBitRate)(std::uint32_t)>
class BasicInterface {
public:
    virtual ~BasicInterface() {
        // Derived classes close their own connection; here only the master is left.
        master_->Shutdown();
    }
    BasicInterface(const BasicInterface&) = delete;
    BasicInterface& operator=(const BasicInterface&) = delete;

    std::uint32_t Type() const { return type_; }
    Master& GetMaster() { return *master_; }

    // The bus's bit rate, one the bus takes: the simulated wire's, or the device's.
    bool SetBitRate(std::uint32_t bitRate) {
        if (!ValidBitRate(bitRate))
            return false;
        std::lock_guard lock(mutex_);
        if (closed_)
            return false;
        if (bitRate_ == bitRate)
            return true;
        if (!applyBitRate(bitRate))
            return false;
        bitRate_ = bitRate;
        return true;
    }
    // Nothing until SetBitRate (the bus runs as it was).
    std::optional<std::uint32_t> BitRate() const {
        std::lock_guard lock(mutex_);
        return bitRate_;
    }

    // Shuts the master down and closes the connection; again does nothing.
    void Close() {
        std::lock_guard lock(mutex_);
        if (closed_)
            return;
        closed_ = true;
        master_->Shutdown();
        closeConnection();
    }

protected:
    BasicInterface(std::uint32_t type, std::shared_ptr<bus::CanPort> port, Clock clock)
        : type_(type), master_(std::make_unique<Master>(std::move(port), std::move(clock))) {}
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
template <typename Interface> struct BasicOpened {
    std::shared_ptr<Interface> interface;
    std::string error;
    // It opened, but cannot send (listen-only, bus-off): the interface is not in the mode
    // a master needs.
    bool wrongMode = false;
};

// A master on a port someone else provides and opened (a test's bus): its bit rate is only
// recorded.
template <typename Interface, typename Clock>
BasicOpened<Interface> OpenOnProvidedPort(std::shared_ptr<bus::CanPort> port, Clock clock) {
    // A port that someone else opened and closes.
    class PortInterface : public Interface {
    public:
        PortInterface(std::shared_ptr<bus::CanPort> port, Clock clock)
            : Interface(ProvidedPort, std::move(port), std::move(clock)) {}

    protected:
        bool applyBitRate(std::uint32_t) override { return true; }
    };

    BasicOpened<Interface> opened;
    if (!port) {
        opened.error = "no CAN port";
        return opened;
    }
    const bus::PortState state = port->State();
    auto interface = std::make_shared<PortInterface>(std::move(port), std::move(clock));
    if (!interface->GetMaster().CanSend()) {
        opened.error = std::string("the CAN port cannot send: it is ") + bus::PortStateName(state);
        opened.wrongMode = state != bus::PortState::Closed;
        interface->Close();
        return opened;
    }
    opened.interface = std::move(interface);
    return opened;
}

// The interface the record names, opened by the driver's own openers.
template <typename Opened, typename OpenSimulated, typename OpenDevice>
Opened OpenInterfaceNamedBy(const InterfaceRecord& record, OpenSimulated openSimulated,
                            OpenDevice openDevice) {
    switch (record.interfaceType) {
    case SimulatedNetwork:
        return openSimulated();
    case SocketCan:
    case VirtualCan:
        return openDevice(record.interfaceType, record.AccessPoint());
    default:
        return {nullptr, "interface type " + std::to_string(record.interfaceType) + " is unknown",
                false};
    }
}

} // namespace canif
