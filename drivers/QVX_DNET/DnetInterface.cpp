#include "DnetInterface.h"

#include <utility>

namespace dnet {

const char* InterfaceTypeName(std::uint32_t type) {
    switch (type) {
    case SimulatedNetwork:
        return "Simulated network";
    case SocketCan:
        return "SocketCAN";
    case VirtualCan:
        return "Virtual CAN";
    default:
        return nullptr;
    }
}

const char* QtPluginFor(std::uint32_t type) {
    switch (type) {
    case SocketCan:
        return "socketcan";
    case VirtualCan:
        return "virtualcan";
    default:
        return nullptr;
    }
}

Interface::Interface(std::uint32_t type, std::shared_ptr<bus::CanPort> port, MasterClock clock)
    : type_(type), master_(std::make_unique<Master>(std::move(port), std::move(clock))) {}

Interface::~Interface() {
    // Derived classes close their own connection; here only the master is left.
    master_->Shutdown();
}

bool Interface::SetBitRate(std::uint32_t bitRate) {
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

namespace {

// A port that someone else opened and closes.
class PortInterface : public Interface {
public:
    PortInterface(std::shared_ptr<bus::CanPort> port, MasterClock clock)
        : Interface(ProvidedPort, std::move(port), std::move(clock)) {}

protected:
    bool applyBitRate(std::uint32_t) override { return true; }
};

} // namespace

Opened OpenOnPort(std::shared_ptr<bus::CanPort> port, MasterClock clock) {
    Opened opened;
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

Opened OpenInterfaceFor(const InterfaceRecord& record) {
    switch (record.interfaceType) {
    case SimulatedNetwork:
        return OpenSimulatedNetwork();
    case SocketCan:
    case VirtualCan:
        return OpenQtDevice(record.interfaceType, record.AccessPoint());
    default:
        return {nullptr, "interface type " + std::to_string(record.interfaceType) + " is unknown",
                false};
    }
}

} // namespace dnet
