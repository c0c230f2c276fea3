#include "CopnMaster.h"

#include <utility>

namespace copn {

using bus::CanFrame;
using bus::PortState;
using bus::canopen::NmtCommand;
using bus::canopen::NmtState;
using bus::canopen::SdoResult;
using bus::canopen::SdoStatus;
using bus::canopen::ValidNodeId;

namespace {

SdoResult refused() {
    SdoResult result;
    result.status = SdoStatus::Failed;
    return result;
}

} // namespace

Master::Master(std::shared_ptr<bus::CanPort> port, MasterClock clock)
    : clock_(std::move(clock)), port_(std::move(port)),
      supervisor_([this](const CanFrame& frame) { return send(frame); }, clock_) {
    channels_.resize(128);
    for (int node = 1; node < 128; ++node)
        channels_[node] = std::make_unique<SdoChannel>(
            static_cast<std::uint8_t>(node), [this](const CanFrame& frame) { return send(frame); },
            clock_);
    if (port_)
        port_->SetReceiveHandler(handler());
}

Master::~Master() {
    Shutdown();
}

void Master::Shutdown() {
    shutDown_.store(true);
    online_.store(false);
    supervisor_.Stop();
    for (auto& channel : channels_)
        if (channel)
            channel->Shutdown();
    if (std::shared_ptr<bus::CanPort> port = Port())
        port->SetReceiveHandler(nullptr);
}

std::shared_ptr<bus::CanPort> Master::Port() const {
    std::lock_guard lock(portMutex_);
    return port_;
}

std::shared_ptr<bus::CanPort> Master::ReplacePort(std::shared_ptr<bus::CanPort> port) {
    if (port && !shutDown_.load())
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

bool Master::CanSend() const {
    const std::shared_ptr<bus::CanPort> port = Port();
    if (!port)
        return false;
    const PortState state = port->State();
    return state == PortState::Active || state == PortState::ErrorPassive;
}

bool Master::SetOnline(bool online) {
    if (online && (shutDown_.load() || !CanSend()))
        return false;
    online_.store(online);
    supervisor_.SetActive(online);
    return true;
}

bool Master::SetOwnNodeId(std::uint8_t node) {
    if (!ValidNodeId(node))
        return false;
    ownNodeId_.store(node);
    return true;
}

bool Master::SetSdoTimeout(std::chrono::milliseconds timeout) {
    if (timeout < std::chrono::milliseconds(1))
        return false;
    sdoTimeoutMs_.store(timeout.count());
    return true;
}

std::chrono::milliseconds Master::SdoTimeout() const {
    return std::chrono::milliseconds(sdoTimeoutMs_.load());
}

bool Master::AddNode(std::uint8_t node) {
    return supervisor_.Add(node);
}

bool Master::RemoveNode(std::uint8_t node) {
    return supervisor_.Remove(node);
}

bool Master::SendNmt(NmtCommand command, std::uint8_t node) {
    if (!online_.load() || (node != 0 && !ValidNodeId(node)))
        return false;
    return send(bus::canopen::EncodeNmt(command, node));
}

bool Master::SendGuardRequest(std::uint8_t node) {
    if (!online_.load() || !ValidNodeId(node))
        return false;
    return send(CanFrame::Remote(bus::canopen::ErrorControlCobId(node), 1));
}

bool Master::StartGuarding(std::uint8_t node, std::uint8_t lifeTimeFactor,
                           std::chrono::milliseconds guardTime) {
    // The master guards with the new values from the node's next frame on (its answers to
    // the writes below are such frames), whether the node takes them or not.
    if (!online_.load() || !supervisor_.Guard(node, guardTime, lifeTimeFactor))
        return false;
    const auto ms = static_cast<std::uint16_t>(guardTime.count());
    if (Download(node, 0x100C, 0,
                 {static_cast<std::uint8_t>(ms), static_cast<std::uint8_t>(ms >> 8)})
            .status != SdoStatus::Done)
        return false; // not there, or without the entry: the factor would cost a time-out too
    return Download(node, 0x100D, 0, {lifeTimeFactor}).status == SdoStatus::Done;
}

bool Master::StopGuarding(std::uint8_t node) {
    return supervisor_.Guard(node, std::chrono::milliseconds(0), 0);
}

std::optional<bool> Master::NodeOnline(std::uint8_t node) const {
    return supervisor_.Online(node);
}

std::optional<bool> Master::BootUpDetected(std::uint8_t node) const {
    return supervisor_.BootUpDetected(node);
}

bool Master::ClearBootUpDetected(std::uint8_t node) {
    return supervisor_.ClearBootUpDetected(node);
}

std::optional<NmtState> Master::NodeState(std::uint8_t node) const {
    return supervisor_.State(node);
}

SdoResult Master::Upload(std::uint8_t node, std::uint16_t index, std::uint8_t subIndex,
                         std::size_t capacity) {
    if (!ValidNodeId(node) || !online_.load())
        return refused();
    return channels_[node]->Upload(index, subIndex, capacity, SdoTimeout());
}

SdoResult Master::Download(std::uint8_t node, std::uint16_t index, std::uint8_t subIndex,
                           std::vector<std::uint8_t> data) {
    if (!ValidNodeId(node) || !online_.load())
        return refused();
    return channels_[node]->Download(index, subIndex, std::move(data), SdoTimeout());
}

void Master::Poke() {
    supervisor_.Poke();
    for (auto& channel : channels_)
        if (channel)
            channel->Poke();
}

bool Master::send(const CanFrame& frame) {
    if (shutDown_.load())
        return false;
    const std::shared_ptr<bus::CanPort> port = Port();
    return port && port->Send(frame);
}

void Master::receive(const CanFrame& frame) {
    if (!online_.load())
        return;
    // The node's evidence first: once a transfer has its answer, the node counts as seen.
    supervisor_.OnFrame(frame);
    if (!frame.remote && frame.id > 0x580 && frame.id <= 0x5FF)
        channels_[frame.id - 0x580]->OnFrame(frame);
}

bus::CanPort::ReceiveHandler Master::handler() {
    return [this](const CanFrame& frame) {
        receive(frame);
    };
}

} // namespace copn
