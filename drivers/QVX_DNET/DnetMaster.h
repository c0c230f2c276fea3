#pragma once

#include "CanMaster.h"
#include "CanPort.h"
#include "MasterClock.h"
#include "TransferSteps.h"
#include "devicenet/DeviceNet.h"
#include "devicenet/DuplicateMac.h"
#include "devicenet/ExplicitClient.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <type_traits>
#include <vector>

namespace dnet {

using bus::devicenet::ExplicitResult;
using bus::devicenet::NoDeadline;
using bus::devicenet::TimePoint;

using drivercore::MasterClock;
using drivercore::SteadyMasterClock;
static_assert(std::is_same_v<TimePoint, drivercore::TimePoint> &&
              NoDeadline == drivercore::NoDeadline);

// The connection flags of a scanlist entry that the master serves: the explicit connection.
inline constexpr std::uint8_t ExplicitConnection = bus::devicenet::Allocation::Explicit;

// The DeviceNet master on one CAN port: explicit messaging with every node over the
// Predefined Master/Slave Connection Set (one ExplicitClient per node), the duplicate MAC ID
// check when it goes online, and a scanner that keeps the explicit connections of the nodes
// in its scanlist.
//
// Requests to one node run one at a time, in the order they were made; those to different
// nodes at once. A request blocks its calling thread until the node has answered, or until the
// node's time-out: the calling thread steps its node's client (StepToEnd) with the frames the
// port's delivery thread puts in the node's inbox, and with the time. The master's own thread
// steps what no caller waits for — the scanner's requests, the releases on the way offline
// and the duplicate MAC ID check — and answers nothing else. Every operation may be called
// from any thread, concurrently with the others, but none from the port's receive handler.
//
// Scanner: while scanning, the master allocates the explicit connection of every node in its
// scanlist, tries again while the node does not answer (so a node that restarts comes back by
// itself) and, when the connection has been idle for KeepAliveAfter, asks the node for its
// vendor ID. A node counts as present while its connection is allocated and it answered last;
// so a node that left or restarted is absent within KeepAliveAfter plus one time-out.
class Master : public drivercore::CanMaster {
public:
    // Each wait for a node: a response, an acknowledgement, the next fragment.
    static constexpr std::chrono::milliseconds Timeout =
        bus::devicenet::ExplicitClient::DefaultTimeout;
    static constexpr std::chrono::milliseconds KeepAliveAfter{1000};
    // How long the scanner waits before it asks again a node that refused the allocation.
    static constexpr std::chrono::milliseconds RetryAfterRefusal{1000};
    // The master's own identity in the duplicate MAC ID check.
    static constexpr std::uint16_t VendorId = 0x5A44;

    explicit Master(std::shared_ptr<bus::CanPort> port, MasterClock clock = SteadyMasterClock());
    // Shuts down.
    ~Master() override;

    // Goes offline for good: ends every transfer, stops the thread and lets go of the port's
    // frames. The port itself stays open, and is the owner's to close.
    void Shutdown() override;

    // The master's own MAC ID, 0 to 63 (0 until set). Only while offline.
    bool SetOwnMac(std::uint8_t mac);
    std::uint8_t OwnMac() const { return ownMac_.load(); }
    std::uint32_t OwnAddress() const override { return OwnMac(); }

    // Online: runs the duplicate MAC ID check (two requests a second apart, then a second of
    // silence) and blocks until it ends; false, and the master stays offline, when another
    // station has the MAC ID, when the port cannot send, or after Shutdown. Once online the
    // master answers the checks of stations that come with its MAC ID, and goes offline when
    // it hears another station claim it. Offline: every transfer ends failed, nothing is sent
    // and every node counts as absent; the scanlist stays.
    //
    // Going offline ends every transfer, then gives back the connection of every node whose
    // connection the master holds (Release_Master/Slave_Connection_Set, to all of them at once)
    // and returns when each has answered or had its time-out — so that another master, or this
    // one with another MAC ID, may allocate them at once rather than after the nodes'
    // inactivity watchdog. Shutdown does the same. A master that leaves because another
    // station claims its MAC ID sends nothing.
    bool SetOnline(bool online) override;
    bool Online() const override { return online_.load(); }
    // Whether the last attempt to go online met another station with the MAC ID, or an
    // online master heard one.
    bool DuplicateFound() const { return duplicate_.load(); }
    // ErrorDuplicateMac after meeting another station with the MAC ID, else ErrorWrongMode.
    std::uint32_t WhyNotOnline() const override;

    // An explicit request to the node: any service (the data are what follows class and
    // instance), allocating its explicit connection first when needed. Failed at once, and
    // nothing sent, for a MAC ID over 63, the master's own, or while offline.
    ExplicitResult Request(std::uint8_t node, std::uint8_t service, std::uint16_t classId,
                           std::uint16_t instance, std::vector<std::uint8_t> data);
    ExplicitResult GetAttribute(std::uint8_t node, std::uint16_t classId, std::uint16_t instance,
                                std::uint8_t attribute);
    ExplicitResult SetAttribute(std::uint8_t node, std::uint16_t classId, std::uint16_t instance,
                                std::uint8_t attribute, const std::vector<std::uint8_t>& value);
    // Allocates or releases the node's explicit connection now.
    ExplicitResult Allocate(std::uint8_t node);
    ExplicitResult Release(std::uint8_t node);
    // Releases every connection the master holds; true when each node took its release.
    bool ReleaseAll();

    // The scanlist: the connection flags must name the explicit connection (other bits, the
    // I/O connections, are not served and are ignored), the four parameters are kept as
    // given. Removing a node that is not in the scanlist succeeds, and so do flags without
    // the explicit connection (nothing changes). Both fail for a MAC ID over 63.
    bool AddToScanlist(std::uint8_t node, std::uint8_t flags,
                       const std::array<std::uint16_t, 4>& params);
    bool RemoveFromScanlist(std::uint8_t node, std::uint8_t flags);
    bool InScanlist(std::uint8_t node) const;
    void StartScan();
    void StopScan();
    bool Scanning() const;

    // Whether the node is present: the master is online and scanning, the node is in its
    // scanlist, its explicit connection is allocated and the node answered its last
    // request. Nothing for a MAC ID over 63.
    std::optional<bool> NodePresent(std::uint8_t node) const;

    // How many requests to the node wait their turn behind the one running.
    std::size_t Waiting(std::uint8_t node) const;

    // Wakes the master's thread to look at the clock again (for a clock a test drives), and
    // returns once it has, and has sent what was due.
    void Poke();

private:
    enum class Owner : std::uint8_t { None, Caller, Scanner, Leaving };

    struct Link {
        std::unique_ptr<bus::devicenet::ExplicitClient> client;
        Owner owner = Owner::None;
        // The callers waiting their turn, by ticket, in the order they came.
        std::deque<std::uint64_t> queue;
        std::uint64_t nextTicket = 0;
        TimePoint deadline = NoDeadline;
        bool scanned = false;
        std::uint8_t flags = 0;
        std::array<std::uint16_t, 4> params{};
        bool alive = false;
        TimePoint lastExchange{};
        TimePoint nextAttempt{};
        // The node's answers to the transfer that runs, for the thread that steps it.
        drivercore::Inbox inbox;
    };

    using Start = std::function<std::optional<bus::devicenet::Output>(
        bus::devicenet::ExplicitClient&, TimePoint)>;
    ExplicitResult run(std::uint8_t node, const Start& start);
    // Under mutex_: steps of the engines.
    void apply(Link& link, const bus::devicenet::Output& output);
    // On the master's thread: the transfers of the scanner and of leaving, and the check.
    void stepOwn(Link& link, TimePoint now);
    void stepCheck(TimePoint now);
    void finished(Link& link, TimePoint now);
    void settle(Link& link, const ExplicitResult& result, TimePoint now);
    void goOffline();
    // Goes offline from online, releasing the connections held (SetOnline, Shutdown).
    void leave(std::unique_lock<std::mutex>& lock);
    void wake();
    void OnFrame(const bus::CanFrame& frame) override;
    std::chrono::milliseconds SendPatience() const override { return Timeout; }
    void loop();
    TimePoint round(TimePoint now);

    const MasterClock clock_;

    std::atomic<bool> online_{false};
    std::atomic<bool> duplicate_{false};
    std::atomic<std::uint8_t> ownMac_{0};
    const std::uint32_t serialNumber_;

    mutable std::mutex mutex_;        // guards what follows
    std::condition_variable changed_; // a transfer ended, a link is free, the check ended
    std::condition_variable wake_;    // the thread has something to look at
    bool woken_ = false;
    bool stopping_ = false;
    bool checking_ = false;
    bool leaving_ = false; // offline, the releases on their way
    bool scanning_ = false;
    std::unique_ptr<bus::devicenet::DuplicateMacCheck> check_;
    drivercore::Inbox checkInbox_; // other stations' checks, for the master's thread
    std::array<Link, 64> links_;
    std::uint64_t pokes_ = 0;
    std::uint64_t pokesSeen_ = 0;
    std::condition_variable roundDone_;

    std::thread thread_;
};

} // namespace dnet
