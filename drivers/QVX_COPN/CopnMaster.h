#pragma once

#include "CanMaster.h"
#include "CanPort.h"
#include "CopnClock.h"
#include "NodeSupervisor.h"
#include "SdoChannel.h"
#include "canopen/Nmt.h"
#include "canopen/SdoClient.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace copn {

// The CANopen master on one CAN port: SDO client channels to every node, NMT commands, node
// guarding and the online state of the nodes it was told about.
//
// Nothing goes on the bus while the master is offline (SetOnline): transfers and commands
// are refused, and frames are not looked at. Transfers to one node run one at a time, those
// to different nodes at once; each blocks its calling thread until it ends. Every operation
// may be called from any thread, concurrently with the others, but none from the port's
// receive handler.
class Master : public drivercore::CanMaster {
public:
    // The SDO time-out until SetSdoTimeout: how long a transfer waits for each answer.
    static constexpr std::chrono::milliseconds DefaultSdoTimeout =
        bus::canopen::SdoClient::DefaultTimeout;

    explicit Master(std::shared_ptr<bus::CanPort> port, MasterClock clock = SteadyMasterClock());
    // Shuts down.
    ~Master() override;

    // Goes offline for good: ends the transfers that run, stops guarding and lets go of the
    // port's frames. The port itself stays open, and is the owner's to close.
    void Shutdown() override;

    // Online: false, and the master stays offline, when the port cannot send. Offline: every
    // node counts as offline until it is seen again.
    bool SetOnline(bool online) override;
    bool Online() const override { return online_.load(); }

    // The master's own node-ID, 1 to 127.
    bool SetOwnNodeId(std::uint8_t node);
    std::uint8_t OwnNodeId() const { return ownNodeId_.load(); }
    std::uint32_t OwnAddress() const override { return OwnNodeId(); }
    // Node supervision keeps within its share of this bit rate (see SupervisionBudget).
    void BitRateChanged(std::uint32_t bitRate) override;

    // For the transfers that start from now on; at least 1 ms.
    bool SetSdoTimeout(std::chrono::milliseconds timeout);
    std::chrono::milliseconds SdoTimeout() const;

    // The nodes whose online state the master keeps (1 to 127).
    bool AddNode(std::uint8_t node);
    bool RemoveNode(std::uint8_t node);

    // An NMT command to one node, or to every node with node-ID 0.
    bool SendNmt(bus::canopen::NmtCommand command, std::uint8_t node);
    // One guard request to the node, whose reply counts like any other.
    bool SendGuardRequest(std::uint8_t node);
    // Guards the node with the guard time and life-time factor (either 0: with the master's
    // own values), and writes them to the node: the guard time to its 0x100C:00 (UNSIGNED16),
    // then the factor to its 0x100D:00 (UNSIGNED8). Where supervision's share of the bus
    // needs longer guard periods than asked, the longer guard time is written, and said on
    // standard error. True when the node took both; the master guards it in any case. A node that
    // refuses them is watched by its heartbeat (0x1017), or by SDO when it has none (see
    // NodeSupervisor). False, and nothing sent, for a node not added.
    bool StartGuarding(std::uint8_t node, std::uint8_t lifeTimeFactor,
                       std::chrono::milliseconds guardTime);
    // The master guards the node with its own values again.
    bool StopGuarding(std::uint8_t node);

    // Nothing for a node not added.
    std::optional<bool> NodeOnline(std::uint8_t node) const;
    std::optional<bool> BootUpDetected(std::uint8_t node) const;
    bool ClearBootUpDetected(std::uint8_t node);
    std::optional<bus::canopen::NmtState> NodeState(std::uint8_t node) const;

    // SDO transfers with the node's default SDO server. Failed at once (abort code 0, nothing
    // sent) for a node-ID outside 1 to 127 or while offline.
    bus::canopen::SdoResult Upload(std::uint8_t node, std::uint16_t index, std::uint8_t subIndex,
                                   std::size_t capacity);
    bus::canopen::SdoResult Download(std::uint8_t node, std::uint16_t index, std::uint8_t subIndex,
                                     std::vector<std::uint8_t> data);

    // Block transfers, segmented (or expedited) where the node has none; progress as
    // SdoChannel::BlockDownload tells it. Failed at once as Upload and Download are.
    bus::canopen::SdoResult BlockUpload(std::uint8_t node, std::uint16_t index,
                                        std::uint8_t subIndex, std::size_t capacity);
    bus::canopen::SdoResult BlockDownload(std::uint8_t node, std::uint16_t index,
                                          std::uint8_t subIndex, std::vector<std::uint8_t> data,
                                          const SdoChannel::Progress& progress = {});

    // Wakes every wait of the master to look at the clock again (for a clock a test drives).
    // Returns once node guarding has done so and sent what was due; a transfer that waits
    // looks at the clock on its own thread, soon after.
    void Poke();
    // True while a transfer with the node has sent its request and waits for the answer or
    // its time-out; for a clock a test drives, which may move on only then.
    bool TransferWaits(std::uint8_t node) const;
    // Returns once the SDO work of node supervision (the switch to heartbeat, reads of
    // 0x1000) is done; for a clock a test drives.
    void WaitForSupervision();
    // How the node is watched now; nothing for a node not added.
    std::optional<NodeSupervisor::Means> SupervisedBy(std::uint8_t node) const;
    NodeSupervisor& Supervisor() { return supervisor_; }

protected:
    void OnFrame(const bus::CanFrame& frame) override;
    std::chrono::milliseconds SendPatience() const override { return SdoTimeout(); }

private:
    const MasterClock clock_;

    std::atomic<bool> online_{false};
    std::atomic<std::uint8_t> ownNodeId_{0};
    std::atomic<std::int64_t> sdoTimeoutMs_{DefaultSdoTimeout.count()};

    std::vector<std::unique_ptr<SdoChannel>> channels_; // by node-ID; entry 0 unused
    std::atomic<bool> stretchSaid_{false}; // longer guard times than asked, at this bit rate
    NodeSupervisor supervisor_;
};

} // namespace copn
