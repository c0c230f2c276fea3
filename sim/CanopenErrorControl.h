#pragma once

#include "canopen/CanOpen.h"
#include "canopen/Nmt.h"

#include <chrono>
#include <cstdint>

namespace sim {

// The emergency message of node n: 0x80+n, 8 bytes: the error code (low byte first), the
// error register (0x1001), five manufacturer bytes.
constexpr std::uint16_t EmergencyCobId(std::uint8_t node) {
    return static_cast<std::uint16_t>(0x80 + node);
}
// The emergency error code of a life guarding event (the master's guard requests stopped).
constexpr std::uint16_t LifeGuardError = 0x8130;
// Error register bits: 0 generic error, 4 communication error.
constexpr std::uint8_t GenericError = 0x01;
constexpr std::uint8_t CommunicationError = 0x10;

// The node's side of CANopen error control beyond the guard replies, in time:
//
// - The heartbeat producer (0x1017, milliseconds): 0x700+n with one byte, the node's NMT state
//   (bit 7 clear), every heartbeat time from the boot-up on; 0 sends none. Each boot-up starts
//   again from the node's configured time.
// - A node whose heartbeat time is not 0 uses the heartbeat and no node guarding: it answers
//   no guard request, and its life time does not run.
// - The life time of node guarding (0x100C guard time × 0x100D life-time factor): it runs from
//   the master's first guard request once both are non-zero, and again from every request
//   after. When a life time passes without a request, the node sets the communication and
//   generic bits of its error register and sends one emergency message (0x8130); the next
//   guard request clears the register and starts the life time again. A stopped node sends
//   no emergency message (its register still tells).
//
// Step functions; not thread-safe.
class CanopenErrorControl {
public:
    using TimePoint = bus::canopen::TimePoint;

    CanopenErrorControl(std::uint8_t node, std::uint16_t heartbeatAtBoot);

    // The node (re)starts: the heartbeat from its configured time, guard time and life-time
    // factor 0, no error.
    void BootUp(TimePoint now);

    std::uint16_t HeartbeatTime() const { return heartbeatTime_; }
    // The next heartbeat one heartbeat time from now; 0 stops them.
    void SetHeartbeatTime(std::uint16_t milliseconds, TimePoint now);

    std::uint16_t GuardTime() const { return guardTime_; }
    std::uint8_t LifeTimeFactor() const { return lifeTimeFactor_; }
    // A change waits for the next guard request to count.
    void SetGuardTime(std::uint16_t milliseconds);
    void SetLifeTimeFactor(std::uint8_t factor);
    void OnGuardRequest(TimePoint now);

    std::uint8_t ErrorRegister() const { return errorRegister_; }

    // The heartbeat and emergency message due by now; state is the node's NMT state.
    bus::canopen::Output OnTime(TimePoint now, bus::canopen::NmtState state);
    // When OnTime has something to send next.
    TimePoint Deadline() const;

private:
    const std::uint8_t node_;
    const std::uint16_t heartbeatAtBoot_;
    std::uint16_t heartbeatTime_ = 0;
    TimePoint nextHeartbeat_ = bus::canopen::NoDeadline;
    std::uint16_t guardTime_ = 0;
    std::uint8_t lifeTimeFactor_ = 0;
    TimePoint lifeEnds_ = bus::canopen::NoDeadline;
    std::uint8_t errorRegister_ = 0;
};

} // namespace sim
