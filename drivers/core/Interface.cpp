#include "Interface.h"

#include <utility>

namespace drivercore {

Interface::Interface(const DriverTraits& traits, std::uint32_t type,
                     std::shared_ptr<bus::CanPort> port, MasterClock clock)
    : traits_(traits), type_(type), master_(traits.makeMaster(std::move(port), std::move(clock))) {}

Interface::~Interface() {
    // Derived classes close their own connection; here only the master is left.
    master_->Shutdown();
}

bool Interface::SetBitRate(std::uint32_t bitRate) {
    if (!traits_.validBitRate(bitRate))
        return false;
    std::lock_guard lock(mutex_);
    if (closed_)
        return false;
    if (bitRate_ == bitRate)
        return true;
    if (!applyBitRate(bitRate))
        return false;
    bitRate_ = bitRate;
    master_->BitRateChanged(bitRate);
    return true;
}

std::optional<std::uint32_t> Interface::BitRate() const {
    std::lock_guard lock(mutex_);
    return bitRate_;
}

void Interface::Close() {
    std::lock_guard lock(mutex_);
    if (closed_)
        return;
    closed_ = true;
    master_->Shutdown();
    closeConnection();
}

Opened OpenInterfaceFor(const DriverTraits& traits, const InterfaceRecord& record) {
    switch (record.interfaceType) {
    case SimulatedNetwork:
        return OpenSimulatedNetwork(traits);
    case SocketCan:
    case VirtualCan:
        return OpenQtDevice(traits, record.interfaceType, record.AccessPoint());
    default:
        return {nullptr, "interface type " + std::to_string(record.interfaceType) + " is unknown",
                false};
    }
}

Opened OpenOnPort(const DriverTraits& traits, std::shared_ptr<bus::CanPort> port,
                  MasterClock clock) {
    // A port that someone else opened and closes.
    class ProvidedPortInterface : public Interface {
    public:
        ProvidedPortInterface(const DriverTraits& traits, std::shared_ptr<bus::CanPort> port,
                              MasterClock clock)
            : Interface(traits, ProvidedPort, std::move(port), std::move(clock)) {}

    protected:
        bool applyBitRate(std::uint32_t) override { return true; }
    };

    Opened opened;
    if (!port) {
        opened.error = "no CAN port";
        return opened;
    }
    const bus::PortState state = port->State();
    auto interface =
        std::make_shared<ProvidedPortInterface>(traits, std::move(port), std::move(clock));
    if (!interface->Master().CanSend()) {
        opened.error = std::string("the CAN port cannot send: it is ") + bus::PortStateName(state);
        opened.wrongMode = state != bus::PortState::Closed;
        interface->Close();
        return opened;
    }
    opened.interface = std::move(interface);
    return opened;
}

} // namespace drivercore
