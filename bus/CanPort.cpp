#include "CanPort.h"

namespace bus {

const char* PortStateName(PortState state) {
    switch (state) {
    case PortState::Closed:
        return "closed";
    case PortState::Active:
        return "active";
    case PortState::ErrorPassive:
        return "error passive";
    case PortState::BusOff:
        return "bus-off";
    case PortState::ListenOnly:
        return "listen-only";
    }
    return "unknown";
}

bool CanPort::Send(const CanFrame& frame) {
    if (!frame.Valid()) {
        SetError("frame " + ToCandump(frame) + " is not a valid CAN frame (identifier over " +
                 "0x7FF or length over 8)");
        return false;
    }
    return SendFrame(frame);
}

void CanPort::SetReceiveHandler(ReceiveHandler handler) {
    if (deliveringThread_.load() == std::this_thread::get_id()) {
        // Inside the handler: it is running, so it is replaced when it returns.
        pendingHandler_ = std::move(handler);
        return;
    }
    std::lock_guard lock(handlerMutex_);
    handler_ = std::move(handler);
}

std::string CanPort::LastError() const {
    std::lock_guard lock(errorMutex_);
    return lastError_;
}

void CanPort::SetError(std::string message) {
    std::lock_guard lock(errorMutex_);
    lastError_ = std::move(message);
}

void CanPort::Deliver(const CanFrame& frame) {
    std::lock_guard lock(handlerMutex_);
    deliveringThread_.store(std::this_thread::get_id());
    if (handler_)
        handler_(frame);
    deliveringThread_.store(std::thread::id{});
    if (pendingHandler_) {
        handler_ = std::move(*pendingHandler_);
        pendingHandler_.reset();
    }
}

} // namespace bus
