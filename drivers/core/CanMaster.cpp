#include "CanMaster.h"

#include "CanErrors.h"

#include <utility>

namespace drivercore {

CanMaster::CanMaster(std::shared_ptr<bus::CanPort> port) : port_(std::move(port)) {}

std::uint32_t CanMaster::WhyNotOnline() const {
    return ErrorWrongMode;
}

std::shared_ptr<bus::CanPort> CanMaster::Port() const {
    std::lock_guard lock(portMutex_);
    return port_;
}

std::shared_ptr<bus::CanPort> CanMaster::ReplacePort(std::shared_ptr<bus::CanPort> port) {
    if (port)
        port->SetSendPatience(SendPatience());
    if (port && !stopped_.load())
        port->SetReceiveHandler(handler());
    std::shared_ptr<bus::CanPort> old;
    {
        std::lock_guard lock(portMutex_);
        old = std::exchange(port_, std::move(port));
    }
    if (old)
        old->SetReceiveHandler(nullptr);
    return old;
}

bool CanMaster::CanSend() const {
    const std::shared_ptr<bus::CanPort> port = Port();
    if (!port)
        return false;
    const bus::PortState state = port->State();
    return state == bus::PortState::Active || state == bus::PortState::ErrorPassive;
}

bool CanMaster::Immediate() const {
    const std::shared_ptr<bus::CanPort> port = Port();
    return port && port->Immediate();
}

std::chrono::nanoseconds CanMaster::Backlog() const {
    const std::shared_ptr<bus::CanPort> port = Port();
    return port ? port->Backlog() : std::chrono::nanoseconds(0);
}

void CanMaster::Listen() {
    if (const std::shared_ptr<bus::CanPort> port = Port()) {
        port->SetSendPatience(SendPatience());
        port->SetReceiveHandler(handler());
    }
}

void CanMaster::StopSending() {
    stopped_.store(true);
}

void CanMaster::StopListening() {
    if (const std::shared_ptr<bus::CanPort> port = Port())
        port->SetReceiveHandler(nullptr);
}

void CanMaster::SetSendPatience(std::chrono::milliseconds patience) {
    if (const std::shared_ptr<bus::CanPort> port = Port())
        port->SetSendPatience(patience);
}

bool CanMaster::Send(const bus::CanFrame& frame) {
    if (stopped_.load())
        return false;
    const std::shared_ptr<bus::CanPort> port = Port();
    return port && port->Send(frame);
}

bus::CanPort::ReceiveHandler CanMaster::handler() {
    return [this](const bus::CanFrame& frame) {
        OnFrame(frame);
    };
}

} // namespace drivercore
