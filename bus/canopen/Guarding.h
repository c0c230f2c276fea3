#pragma once

#include "CanOpen.h"
#include "Nmt.h"

#include <chrono>
#include <cstdint>
#include <optional>

namespace bus::canopen {

// What a step of the guarding master saw happen to its node.
enum class GuardEvent : std::uint8_t {
    None,
    Alive,        // the first valid reply since guarding started, or since the node was lost
    StateChanged, // a valid reply with another NMT state than the one before
    Lost,         // no valid reply for the life time
    BootUp,       // the node (re)started: boot-up message 0x700+n, 0x00
};

struct GuardOutput : Output {
    GuardEvent event = GuardEvent::None;
};

// The master's side of node guarding for one node. It sends a remote request on 0x700+n
// (length 1, the length of the reply) a tenth of the guard time early, every RequestPeriod:
// the node checks that requests come within its life time (guard time × life-time factor),
// and a request sent on the dot, delayed by a busy bus or a late wake-up, would land past
// it. The node answers with one byte: a toggle bit (bit 7, 0 in the first reply after its
// boot-up, alternating after) and its NMT state. The first reply after Start sets the
// expectation, whatever its bit (the node may have answered others since its boot-up); after
// it, a reply whose toggle is not the expected one is not valid (the expectation follows
// it, so one lost reply costs one round, not the node). When lifeTimeFactor requests in a
// row go without a valid reply the node is lost. A boot-up message is seen with or without
// guarding: the node is there again, and its toggle starts again at 0.
//
// Step functions; not thread-safe.
class GuardingMaster {
public:
    explicit GuardingMaster(std::uint8_t node);

    std::uint8_t Node() const { return node_; }

    // The time between two requests for a guard time: a tenth less.
    static std::chrono::milliseconds RequestPeriod(std::chrono::milliseconds guardTime) {
        return guardTime - guardTime / 10;
    }

    // Starts (or restarts) guarding: the first request now. A guard time of 0 stops guarding;
    // a life-time factor of 0 counts as 1.
    GuardOutput Start(std::chrono::milliseconds guardTime, std::uint8_t lifeTimeFactor,
                      TimePoint now);
    void Stop();
    bool Guarding() const { return guarding_; }
    std::chrono::milliseconds GuardTime() const { return guardTime_; }
    std::uint8_t LifeTimeFactor() const { return lifeTimeFactor_; }
    // Other timing for the rounds after the one outstanding, which keeps its deadline; what
    // the node has answered and the toggle bit expected stay.
    void Retime(std::chrono::milliseconds guardTime, std::uint8_t lifeTimeFactor);
    // The round outstanding ends at until at the earliest: the next request waits for it (the
    // owner has no room on the bus for it now). The node has that much longer to answer.
    void PutOff(TimePoint until) {
        if (guarding_ && nextRequest_ < until)
            nextRequest_ = until;
    }
    // The round now outstanding does not count as missed (its owner has another sign of the
    // node); the toggle bit expected stays as it is.
    void Excuse() { answered_ = true; }
    // When the next request is due (NoDeadline when not guarding).
    TimePoint NextRequest() const { return guarding_ ? nextRequest_ : NoDeadline; }

    GuardOutput OnFrame(const CanFrame& frame, TimePoint now);
    GuardOutput OnTime(TimePoint now);

    // Lost, and no valid reply or boot-up since.
    bool Lost() const { return lost_; }
    // The request now outstanding has had a valid reply.
    bool Answered() const { return answered_; }
    // No valid reply (nor boot-up) since guarding started.
    bool NeverAnswered() const { return !seenAlive_; }
    // The state of the last valid reply (pre-operational after a boot-up).
    std::optional<NmtState> State() const { return state_; }

private:
    GuardOutput output(GuardEvent event = GuardEvent::None) const;
    CanFrame request() const;

    const std::uint8_t node_;
    bool guarding_ = false;
    std::chrono::milliseconds guardTime_{0};
    std::uint8_t lifeTimeFactor_ = 1;
    TimePoint nextRequest_ = NoDeadline;
    bool answered_ = false; // the request now outstanding has had a valid reply
    bool seenAlive_ = false;
    std::uint32_t missed_ = 0;
    std::optional<bool> expectedToggle_; // none until the first reply after Start
    bool lost_ = false;
    std::optional<NmtState> state_;
};

// The node's side of node guarding: answers each remote request on 0x700+n with its state
// and the toggle bit, which starts at 0 and alternates with every reply.
class GuardingNode {
public:
    explicit GuardingNode(std::uint8_t node, NmtState state = NmtState::PreOperational);

    void SetState(NmtState state) { state_ = state; }
    NmtState State() const { return state_; }

    // The reply to a guard request; nothing for any other frame.
    Output OnFrame(const CanFrame& frame);
    // The boot-up message, sent when the node starts: the toggle starts again at 0, and the
    // node is pre-operational.
    Output BootUp();

private:
    const std::uint8_t node_;
    NmtState state_;
    bool toggle_ = false;
};

} // namespace bus::canopen
