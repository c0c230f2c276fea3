#pragma once

#include "CopnClock.h"
#include "canopen/Guarding.h"
#include "canopen/Nmt.h"
#include "canopen/SdoClient.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace copn {

// Which nodes of the network are there, as the master's own threads and the frames on the
// bus tell it. A node the master was told about (Add) is online on evidence — its boot-up
// message, a guarding reply, a heartbeat, any other frame it sends — and offline when its
// supervision misses it. Boot-ups and NMT states are kept for every node.
//
// Supervision, per node:
// - Node guarding, from the moment a node is seen: with the guard time and life-time factor
//   the program asks for (Guard), or, until it asks, with OwnGuardTime and
//   OwnLifeTimeFactor, so that a node that leaves the bus is found gone within
//   LongestLossTime (plus one guard time) whatever it was asked.
// - Its heartbeat, for a node that does not do guarding (it refused the guarding entries,
//   or two rounds of guard requests running went unanswered while it sent heartbeats, or it
//   never answered one): the producer heartbeat time it has (0x1017), or HeartbeatTimeAsked
//   written there; the node is lost when no heartbeat comes for 2.5 times that, so one lost
//   heartbeat does not lose it. Its own life guarding is switched off (0x100C = 0), since no
//   guard request comes any more.
// - SDO, for a node that takes neither: online while a read of 0x1000 succeeds, once every
//   ProbePeriod.
// A boot-up starts over with guarding. After a reset command (Reset), the nodes it addresses
// are offline until their boot-up, or until their guarding or heartbeat shows them again.
//
// A thread sends the guard requests when they are due and sleeps on a condition variable
// until the next deadline; a second thread does the SDO work of the switch to heartbeat and
// the reads of 0x1000, through the transfers the master hands in. Frames reach OnFrame on
// the port's delivery thread. Thread-safe.
class NodeSupervisor {
public:
    using Send = std::function<bool(const bus::CanFrame&)>;
    // SDO transfers with a node's default server, as the master makes them.
    using Upload = std::function<bus::canopen::SdoResult(
        std::uint8_t node, std::uint16_t index, std::uint8_t subIndex, std::size_t capacity)>;
    using Download = std::function<bus::canopen::SdoResult(std::uint8_t node, std::uint16_t index,
                                                           std::uint8_t subIndex,
                                                           std::vector<std::uint8_t> data)>;

    static constexpr std::chrono::milliseconds OwnGuardTime{800};
    static constexpr std::uint8_t OwnLifeTimeFactor = 2;
    // The longest a guarded node may stay silent before it counts as lost: guard time ×
    // (life-time factor + 1), the time from its last reply to the request that finds it lost.
    static constexpr std::chrono::milliseconds LongestLossTime{2400};
    // The producer heartbeat time written to a node that has none.
    static constexpr std::chrono::milliseconds HeartbeatTimeAsked{1000};
    static constexpr std::chrono::milliseconds ProbePeriod{1000};

    NodeSupervisor(Send send, Upload upload, Download download, MasterClock clock);
    ~NodeSupervisor();
    NodeSupervisor(const NodeSupervisor&) = delete;
    NodeSupervisor& operator=(const NodeSupervisor&) = delete;

    // Supervision on (the master is online) or off: off, every node is offline, nothing is
    // sent and frames are not looked at.
    void SetActive(bool active);
    // Ends the threads; afterwards nothing more is sent. A transfer the SDO thread has under
    // way is the master's to end first.
    void Stop();

    bool Add(std::uint8_t node);
    bool Remove(std::uint8_t node);
    bool Added(std::uint8_t node) const;

    // The program's guarding of the node: guard time and life-time factor (either 0: the
    // node is guarded with the master's own values again). False for a node not added.
    bool Guard(std::uint8_t node, std::chrono::milliseconds guardTime, std::uint8_t lifeTimeFactor);
    // The node refused guarding: supervises it by its heartbeat, or by SDO, on the calling
    // thread (it makes SDO transfers). False when the node did not answer them.
    bool SuperviseWithoutGuarding(std::uint8_t node);

    // A reset command is about to go to the node (0: to every node).
    void Reset(std::uint8_t node);

    // On the port's delivery thread: a frame the bus carried.
    void OnFrame(const bus::CanFrame& frame);

    // Nothing for a node that was not added.
    std::optional<bool> Online(std::uint8_t node) const;
    // Nothing for a node-ID outside 1 to 127.
    std::optional<bool> BootUpDetected(std::uint8_t node) const;
    bool ClearBootUpDetected(std::uint8_t node);
    // The state of the node's last guarding reply or heartbeat (pre-operational after its
    // boot-up); nothing when none has come.
    std::optional<bus::canopen::NmtState> State(std::uint8_t node) const;

    enum class Means : std::uint8_t { Guarding, Heartbeat, Sdo, Deciding };
    // How the node is supervised now; nothing for a node not added.
    std::optional<Means> SupervisedBy(std::uint8_t node) const;

    // Wakes the thread to look at the clock again, and returns once it has (and has sent
    // what was due); at once when the thread has ended.
    void Poke();
    // Returns once the SDO thread has nothing to do (for a clock a test drives: a transfer
    // that waits for its time-out needs the clock moved first).
    void WaitForSdoWork();

    // The guard time and life-time factor used for the program's values (either 0: none).
    struct Timing {
        std::chrono::milliseconds guardTime;
        std::uint8_t lifeTimeFactor;
    };
    static Timing EffectiveTiming(std::chrono::milliseconds guardTime, std::uint8_t lifeTimeFactor);

private:
    struct Watch {
        explicit Watch(std::uint8_t node) : guard(node) {}
        bus::canopen::GuardingMaster guard;
        bool added = false;
        bool online = false;
        bool restart = false; // (re)start guarding on the thread's next round
        bool bootUp = false;
        bool awaitingBootUp = false; // reset by the master, not seen since
        TimePoint quietUntil{};      // after the reset, nothing but a boot-up counts until then
        Means means = Means::Guarding;
        // A one-byte frame with bit 7 clear that answered no guard request, this round.
        bool heartbeatThisRound = false;
        // A round ended without a reply but with such a frame; cleared by a valid reply.
        bool suspicious = false;
        TimePoint lastHeartbeatLike{}; // when the last such frame came
        std::chrono::milliseconds heartbeatTime{0};
        TimePoint heartbeatDue = NoDeadline; // lost when no heartbeat by then
        TimePoint nextProbe = NoDeadline;
        bool sdoWorkQueued = false;
        std::uint64_t epoch = 0; // moves on when what SDO work found may be out of date
        std::optional<bus::canopen::NmtState> state;
        // The program's guarding; 0: none.
        std::chrono::milliseconds guardTime{0};
        std::uint8_t lifeTimeFactor = 0;
    };

    // What the SDO work found.
    struct Finding {
        enum Kind : std::uint8_t { Heartbeat, Sdo, Gone } kind;
        std::chrono::milliseconds heartbeatTime{0};
    };

    static std::optional<std::uint8_t> sourceOf(const bus::CanFrame& frame);
    Watch* watch(std::uint8_t node);
    const Watch* watch(std::uint8_t node) const;
    void startGuarding(Watch& w, TimePoint now, std::vector<bus::CanFrame>& frames);
    void guardRound(Watch& w, std::uint8_t node, TimePoint now, std::vector<bus::CanFrame>& frames);
    void onHeartbeat(Watch& w, std::uint8_t data, TimePoint now);
    static void apply(Watch& w, bus::canopen::GuardEvent event);
    void queueSdoWork(Watch& w, std::uint8_t node, bool probe);
    Finding findOtherMeans(std::uint8_t node);
    void settle(std::uint8_t node, std::uint64_t epoch, const Finding& finding);
    void probed(std::uint8_t node, std::uint64_t epoch, bool answered);
    void wake();
    void run();
    void runSdoWork();

    const Send send_;
    const Upload upload_;
    const Download download_;
    const MasterClock clock_;

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool active_ = false;
    bool stopping_ = false;
    bool woken_ = false;
    std::uint64_t pokes_ = 0;     // asked for
    std::uint64_t pokesSeen_ = 0; // the rounds done have looked at the clock after these
    std::condition_variable roundDone_;
    std::vector<Watch> watches_; // by node-ID; entry 0 unused

    std::deque<std::function<void()>> sdoWork_;
    std::deque<std::uint8_t> sdoWorkNodes_; // whose each piece of work is
    bool sdoBusy_ = false;
    std::condition_variable sdoChanged_;

    std::thread thread_;
    std::thread sdoThread_;
};

} // namespace copn
