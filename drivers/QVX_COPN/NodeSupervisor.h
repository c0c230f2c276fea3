#pragma once

#include "CopnClock.h"
#include "SupervisionBudget.h"
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
//   LongestLossTime (plus one guard time) whatever it was asked — on a bus with room for it.
// - Its heartbeat, for a node that does not answer guard requests but has a heartbeat of its
//   own (0x1017), which it keeps; the node is lost when no heartbeat comes for 2.5 times
//   that, so one lost heartbeat does not lose it, and when it does not answer an SDO read of
//   0x1017 then either (a node that answers goes on with the time read, or by SDO when its
//   heartbeat was switched off). A heartbeat off its period, or a write of 0x1017 through the
//   master, has the time followed.
// - HeartbeatTimeAsked written to 0x1017 of a node that has neither guarding nor a heartbeat;
//   put back when the master goes offline.
// - SDO, for a node that takes neither: online while a read of 0x1000 succeeds, once every
//   ProbePeriod.
// Only a node that shows it does not do guarding has its 0x1017 written, or its 0x100C written
// 0 (its life guarding off, as no guard request comes any more; only where the master wrote
// it): it refused the guarding entries, or it sends heartbeats while its guard requests go
// unanswered, or SilentRounds requests went unanswered on a bus that has room. Late replies
// on a saturated bus show nothing: such a node is only missed.
//
// The traffic of supervision stays within a share of the bus (SupervisionBudget, 10 % by
// default): the guard and probe periods stretch as the number of nodes and the bit rate
// need, and guard requests go no faster than the share refills. The guard time written to a
// node (Guard) is long enough for the periods its added nodes may need, so that its life
// guarding does not fire; should the periods pass it, it is written again.
//
// A thread sends the guard requests when they are due and sleeps on a condition variable
// until the next deadline; SdoWorkers threads do the SDO work (the switch to heartbeat, the
// reads of 0x1017 and 0x1000), through the transfers the master hands in, taking the nodes
// in turn so that one node's time-outs do not hold up the others. Frames reach OnFrame on
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
    static constexpr int SdoWorkers = 4;
    // Rounds without any reply, on a bus with room, that show a node does not do guarding.
    static constexpr int SilentRounds = 3;
    // The bus counts as saturated from this share of its capacity on (per cent, over the last
    // second): unanswered guard requests then prove nothing.
    static constexpr unsigned SaturatedPercent = 80;

    NodeSupervisor(Send send, Upload upload, Download download, MasterClock clock);
    ~NodeSupervisor();
    NodeSupervisor(const NodeSupervisor&) = delete;
    NodeSupervisor& operator=(const NodeSupervisor&) = delete;

    // Supervision on (the master is online) or off: off, every node is offline, nothing is
    // sent and frames are not looked at.
    void SetActive(bool active);
    // The bus's bit rate (0: unknown, 500 kbit/s assumed) and the share of it supervision may
    // take, in per cent (1 to 100).
    void SetBitRate(std::uint32_t bitRate);
    void SetBusShare(unsigned percent);
    SupervisionBudget Budget() const;
    // The factor by which the guard and probe periods are stretched now (1: not at all).
    double Stretch() const;
    // Ends the threads; afterwards nothing more is sent. A transfer the SDO thread has under
    // way is the master's to end first.
    void Stop();

    bool Add(std::uint8_t node);
    bool Remove(std::uint8_t node);
    bool Added(std::uint8_t node) const;

    // The guard time and life-time factor used for the program's values (either 0: none).
    struct Timing {
        std::chrono::milliseconds guardTime;
        std::uint8_t lifeTimeFactor;
        bool operator==(const Timing&) const = default;
    };

    // The program's guarding of the node: guard time and life-time factor (either 0: the
    // node is guarded with the master's own values again). Nothing for a node not added;
    // else what to write to the node's 0x100C and 0x100D: the values asked, the guard time
    // longer where the bus's share needs it.
    std::optional<Timing> Guard(std::uint8_t node, std::chrono::milliseconds guardTime,
                                std::uint8_t lifeTimeFactor);
    // What the node's 0x100C and 0x100D hold now, as the master wrote them (a guard time of
    // 0 when the write of 0x100C failed).
    void GuardingWritten(std::uint8_t node, Timing written);
    // The guarding the master does now: the guard time between requests (a tenth less is
    // the request period) and the life-time factor; nothing when the node is not guarded.
    std::optional<Timing> GuardingOf(std::uint8_t node) const;
    // A write of the node's 0x1017 with these bytes went through the master (not the
    // supervisor's own).
    void HeartbeatTimeWritten(std::uint8_t node, const std::vector<std::uint8_t>& value);
    // Writes back the 0x1017 of the nodes the supervisor wrote, on the calling thread, while
    // the master can still send; before it goes offline.
    void RestoreWrites();
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
    // Returns once the SDO threads have nothing to do (for a clock a test drives: a transfer
    // that waits for its time-out needs the clock moved first).
    void WaitForSdoWork();

    static Timing EffectiveTiming(std::chrono::milliseconds guardTime, std::uint8_t lifeTimeFactor);

private:
    struct Watch {
        explicit Watch(std::uint8_t node) : guard(node) {}
        bus::canopen::GuardingMaster guard;
        bool added = false;
        bool online = false;
        bool restart = false; // (re)start guarding on the thread's next round
        bool bootUp = false;
        bool awaitingBootUp = false;    // reset by the master, not seen since
        TimePoint quietUntil{};         // after the reset, nothing but a boot-up counts until then
        TimePoint startAt = NoDeadline; // guarding starts then, when the bus has room
        Means means = Means::Guarding;
        // A one-byte frame with bit 7 clear that answered no guard request, this round.
        bool heartbeatThisRound = false;
        // A round ended without a reply but with such a frame; cleared by a valid reply.
        bool suspicious = false;
        int silentRounds = 0; // rounds without a reply since guarding started, on a bus with room
        TimePoint lastHeartbeatLike{}; // when the last such frame came
        std::chrono::milliseconds heartbeatTime{0};
        TimePoint heartbeatDue = NoDeadline; // lost when no heartbeat by then
        TimePoint checkedAt{};               // when 0x1017 was last read for its heartbeat
        bool checkQueued = false;
        TimePoint nextProbe = NoDeadline;
        bool probeQueued = false;
        // What the master wrote to the node's 0x100C and 0x100D (0: nothing), and a write of
        // a longer guard time queued.
        Timing written{std::chrono::milliseconds(0), 0};
        bool rewriteQueued = false;
        // The supervisor wrote the node's 0x1017; what it held before.
        std::optional<std::uint16_t> heartbeatBefore;
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
        std::optional<std::uint16_t> heartbeatBefore; // 0x1017 written; what it held
        bool lifeGuardingOff = false;                 // 0x100C written 0
    };

    static std::optional<std::uint8_t> sourceOf(const bus::CanFrame& frame);
    Watch* watch(std::uint8_t node);
    const Watch* watch(std::uint8_t node) const;
    void startGuarding(Watch& w, TimePoint now, std::vector<bus::CanFrame>& frames);
    void guardRound(Watch& w, std::uint8_t node, TimePoint now, std::vector<bus::CanFrame>& frames);
    void onHeartbeat(Watch& w, std::uint8_t data, TimePoint now);
    static void apply(Watch& w, bus::canopen::GuardEvent event);
    void queueSdoWork(std::uint8_t node, std::function<void()> work);
    // The node does not do guarding (its rounds showed it): other means are looked for.
    void decide(Watch& w, std::uint8_t node);
    Finding findOtherMeans(std::uint8_t node, bool lifeWritten,
                           std::chrono::milliseconds heartbeatAsked);
    void settle(std::uint8_t node, std::uint64_t epoch, const Finding& finding);
    void queueProbe(Watch& w, std::uint8_t node);
    void probed(std::uint8_t node, std::uint64_t epoch, bool answered);
    void queueCheck(Watch& w, std::uint8_t node);
    void checked(std::uint8_t node, std::uint64_t epoch, const bus::canopen::SdoResult& read);
    void queueRewrite(Watch& w, std::uint8_t node, Timing timing);
    Timing baseTiming(const Watch& w) const;
    Timing masterTiming(const Watch& w) const;
    SupervisionBudget::Load loadBesideGuarding() const;
    double stretchFor(std::size_t guardedNodes, Timing base) const;
    void probeFrom(Watch& w, TimePoint now);
    void followHeartbeat(Watch& w, std::chrono::milliseconds producerTime, TimePoint now);
    void restretch();
    void countBits(std::uint32_t bits, TimePoint now);
    bool saturated(TimePoint now) const;
    bool takeRoom(TimePoint now, TimePoint* retry);
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

    SupervisionBudget budget_;
    double stretch_ = 1.0;
    // Room for guard requests, in bits: refills at the share's rate, up to a short burst.
    double room_ = 0;
    TimePoint roomAt_{};
    // The bus's load, from the frames seen and the guard requests sent, over whole seconds.
    std::uint64_t windowBits_ = 0;
    TimePoint windowStart_{};
    double lastLoad_ = 0; // of the last whole window, 0 to 1

    std::vector<std::deque<std::function<void()>>> sdoWork_; // by node-ID
    std::vector<bool> sdoRunning_;                           // by node-ID
    std::size_t sdoTurn_ = 0;                                // the node served next
    int sdoBusy_ = 0;
    std::condition_variable sdoChanged_;

    std::thread thread_;
    std::vector<std::thread> sdoThreads_;
};

} // namespace copn
