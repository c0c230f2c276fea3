#include "CopnMaster.h"

#include "LittleEndian.h"

#include <cstdio>
#include <utility>

namespace copn {

using bus::CanFrame;
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
    : CanMaster(std::move(port)), clock_(std::move(clock)),
      supervisor_([this](const CanFrame& frame) { return Send(frame); },
                  [this](std::uint8_t node, std::uint16_t index, std::uint8_t sub,
                         std::size_t capacity) { return Upload(node, index, sub, capacity); },
                  [this](std::uint8_t node, std::uint16_t index, std::uint8_t sub,
                         std::vector<std::uint8_t> data) {
                      return Download(node, index, sub, std::move(data));
                  },
                  clock_) {
    channels_.resize(128);
    for (int node = 1; node < 128; ++node)
        channels_[node] = std::make_unique<SdoChannel>(
            static_cast<std::uint8_t>(node), [this](const CanFrame& frame) { return Send(frame); },
            clock_, [this] { return Immediate(); }, [this] { return Backlog(); });
    Listen();
}

Master::~Master() {
    Shutdown();
}

void Master::Shutdown() {
    StopSending();
    online_.store(false);
    // The transfers first: the supervisor's own may be waiting for an answer.
    for (auto& channel : channels_)
        if (channel)
            channel->Shutdown();
    supervisor_.Stop();
    StopListening();
}

bool Master::SetOnline(bool online) {
    if (online && (Stopped() || !CanSend()))
        return false;
    if (!online && online_.load() && CanSend())
        supervisor_.RestoreWrites(); // while the nodes can still be written
    online_.store(online);
    supervisor_.SetActive(online);
    return true;
}

void Master::BitRateChanged(std::uint32_t bitRate) {
    supervisor_.SetBitRate(bitRate);
    stretchSaid_.store(false);
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
    // A frame the device refuses while its queue drains waits as long as an answer would.
    SetSendPatience(timeout);
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
    // A node told to reset is gone from now until it announces its new life.
    if (command == NmtCommand::ResetNode || command == NmtCommand::ResetCommunication)
        supervisor_.Reset(node);
    return Send(bus::canopen::EncodeNmt(command, node));
}

bool Master::SendGuardRequest(std::uint8_t node) {
    if (!online_.load() || !ValidNodeId(node))
        return false;
    return Send(CanFrame::Remote(bus::canopen::ErrorControlCobId(node), 1));
}

bool Master::StartGuarding(std::uint8_t node, std::uint8_t lifeTimeFactor,
                           std::chrono::milliseconds guardTime) {
    // The master guards with the new values from the node's next frame on (its answers to
    // the writes below are such frames), whether the node takes them or not.
    if (!online_.load())
        return false;
    const std::optional<NodeSupervisor::Timing> write =
        supervisor_.Guard(node, guardTime, lifeTimeFactor);
    if (!write)
        return false;
    if (write->guardTime > guardTime && !stretchSaid_.exchange(true)) {
        const SupervisionBudget budget = supervisor_.Budget();
        std::fprintf(stderr,
                     "zandrel: QVX_COPN: nodes are guarded with %lld ms or more, not %lld ms as "
                     "asked, so that supervision takes at most %u %% of the %u kbit/s bus\n",
                     static_cast<long long>(write->guardTime.count()),
                     static_cast<long long>(guardTime.count()), budget.SharePercent(),
                     budget.BitRate() / 1000);
    }
    SdoResult result =
        Download(node, 0x100C, 0,
                 drivercore::ToLittleEndian(static_cast<std::uint16_t>(write->guardTime.count())));
    NodeSupervisor::Timing written{std::chrono::milliseconds(0), 0};
    if (result.status == SdoStatus::Done) {
        written.guardTime = write->guardTime;
        result = Download(node, 0x100D, 0, {lifeTimeFactor});
        written.lifeTimeFactor = result.status == SdoStatus::Done ? lifeTimeFactor : 1;
    }
    supervisor_.GuardingWritten(node, written);
    if (result.status == SdoStatus::Done)
        return true;
    // A node that refuses guarding is watched by its heartbeat, or failing that by SDO; one
    // that did not answer is not there, and the factor would cost a time-out too.
    if (result.abortedByServer)
        supervisor_.SuperviseWithoutGuarding(node);
    return false;
}

bool Master::StopGuarding(std::uint8_t node) {
    return supervisor_.Guard(node, std::chrono::milliseconds(0), 0).has_value();
}

std::optional<bool> Master::NodeOnline(std::uint8_t node) const {
    const std::optional<bool> online = supervisor_.Online(node);
    // A port that cannot send (its device gone, bus-off) reaches no node.
    if (online == true && !CanSend())
        return false;
    return online;
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
    const bool heartbeat = index == 0x1017 && subIndex == 0;
    const std::vector<std::uint8_t> value = heartbeat ? data : std::vector<std::uint8_t>{};
    SdoResult result = channels_[node]->Download(index, subIndex, std::move(data), SdoTimeout());
    // The node's heartbeat changes: supervision follows it.
    if (heartbeat && result.status == SdoStatus::Done)
        supervisor_.HeartbeatTimeWritten(node, value);
    return result;
}

SdoResult Master::BlockUpload(std::uint8_t node, std::uint16_t index, std::uint8_t subIndex,
                              std::size_t capacity) {
    if (!ValidNodeId(node) || !online_.load())
        return refused();
    return channels_[node]->BlockUpload(index, subIndex, capacity, SdoTimeout());
}

SdoResult Master::BlockDownload(std::uint8_t node, std::uint16_t index, std::uint8_t subIndex,
                                std::vector<std::uint8_t> data,
                                const SdoChannel::Progress& progress) {
    if (!ValidNodeId(node) || !online_.load())
        return refused();
    return channels_[node]->BlockDownload(index, subIndex, std::move(data), SdoTimeout(), progress);
}

void Master::Poke() {
    for (auto& channel : channels_)
        if (channel)
            channel->Poke();
    supervisor_.Poke();
}

bool Master::TransferWaits(std::uint8_t node) const {
    return ValidNodeId(node) && channels_[node] && channels_[node]->Waiting();
}

void Master::WaitForSupervision() {
    supervisor_.WaitForSdoWork();
}

std::optional<NodeSupervisor::Means> Master::SupervisedBy(std::uint8_t node) const {
    return supervisor_.SupervisedBy(node);
}

void Master::OnFrame(const CanFrame& frame) {
    if (!online_.load())
        return;
    // The node's evidence first: once a transfer has its answer, the node counts as seen.
    supervisor_.OnFrame(frame);
    if (!frame.remote && frame.id > 0x580 && frame.id <= 0x5FF)
        channels_[frame.id - 0x580]->OnFrame(frame);
}

} // namespace copn
