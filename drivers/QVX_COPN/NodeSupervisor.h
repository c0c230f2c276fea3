#pragma once

#include "MasterClock.h"
#include "canopen/Guarding.h"
#include "canopen/Nmt.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace copn {

// Which nodes of the network are there, as the master's own thread and the frames on the
// bus tell it. A node the master was told about (Add) is online on evidence — its boot-up
// message, a guarding reply, any other frame it sends — and offline when node guarding misses
// its life time. Every such node that has been seen is guarded: with the guard time and
// life-time factor the program asks for (Guard), or, until it asks, with OwnGuardTime and
// OwnLifeTimeFactor, so that a node that leaves the bus is found gone within LongestLossTime
// (plus one guard time) whatever it was asked. Boot-ups and NMT states are kept for every
// node.
//
// The thread sends the guard requests when they are due and sleeps on a condition variable
// until the next one; frames reach OnFrame on the port's delivery thread. Thread-safe.
class NodeSupervisor {
public:
    using Send = std::function<bool(const bus::CanFrame&)>;

    static constexpr std::chrono::milliseconds OwnGuardTime{800};
    static constexpr std::uint8_t OwnLifeTimeFactor = 2;
    // The longest a guarded node may stay silent before it counts as lost: guard time ×
    // (life-time factor + 1), the time from its last reply to the request that finds it lost.
    static constexpr std::chrono::milliseconds LongestLossTime{2400};

    NodeSupervisor(Send send, MasterClock clock);
    ~NodeSupervisor();
    NodeSupervisor(const NodeSupervisor&) = delete;
    NodeSupervisor& operator=(const NodeSupervisor&) = delete;

    // Supervision on (the master is online) or off: off, every node is offline, nothing is
    // sent and frames are not looked at.
    void SetActive(bool active);
    // Ends the thread; afterwards nothing more is sent.
    void Stop();

    bool Add(std::uint8_t node);
    bool Remove(std::uint8_t node);
    bool Added(std::uint8_t node) const;

    // The program's guarding of the node: guard time and life-time factor (either 0: the
    // node is guarded with the master's own values again). False for a node not added.
    bool Guard(std::uint8_t node, std::chrono::milliseconds guardTime, std::uint8_t lifeTimeFactor);

    // On the port's delivery thread: a frame the bus carried.
    void OnFrame(const bus::CanFrame& frame);

    // Nothing for a node that was not added.
    std::optional<bool> Online(std::uint8_t node) const;
    // Nothing for a node-ID outside 1 to 127.
    std::optional<bool> BootUpDetected(std::uint8_t node) const;
    bool ClearBootUpDetected(std::uint8_t node);
    // The state of the node's last guarding reply (pre-operational after its boot-up);
    // nothing when none has come.
    std::optional<bus::canopen::NmtState> State(std::uint8_t node) const;

    // Wakes the thread to look at the clock again, and returns once it has (and has sent
    // what was due); at once when the thread has ended.
    void Poke();

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
        // The toggle bit of the node's next guarding reply, when known.
        std::optional<bool> nextToggle;
        std::optional<bus::canopen::NmtState> state;
        // The program's guarding; 0: none.
        std::chrono::milliseconds guardTime{0};
        std::uint8_t lifeTimeFactor = 0;
    };

    static std::optional<std::uint8_t> sourceOf(const bus::CanFrame& frame);
    Watch* watch(std::uint8_t node);
    const Watch* watch(std::uint8_t node) const;
    void startGuarding(Watch& w, std::uint8_t node, TimePoint now,
                       std::vector<bus::CanFrame>& frames);
    static void apply(Watch& w, bus::canopen::GuardEvent event);
    void wake();
    void run();

    const Send send_;
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

    std::thread thread_;
};

} // namespace copn
