#pragma once

#include "CanFrame.h"

#include <chrono>
#include <cstdint>
#include <vector>

// The parts of CiA 301 that the CANopen master and the simulated nodes share. Every engine
// here is a step function: it is fed a received frame and/or the current time — given in,
// never read inside — and returns the frames to send and the time by which it wants to be
// called again. No threads, no I/O, no clock of their own.
namespace bus::canopen {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
constexpr TimePoint NoDeadline = TimePoint::max();

// Node-IDs 1 to 127; 0 addresses every node in an NMT command.
constexpr bool ValidNodeId(std::uint8_t node) {
    return node >= 1 && node <= 127;
}

// The predefined connection set.
constexpr std::uint16_t NmtCobId = 0x000;
constexpr std::uint16_t SdoTxCobId(std::uint8_t node) { // server -> client
    return static_cast<std::uint16_t>(0x580 + node);
}
constexpr std::uint16_t SdoRxCobId(std::uint8_t node) { // client -> server
    return static_cast<std::uint16_t>(0x600 + node);
}
constexpr std::uint16_t ErrorControlCobId(std::uint8_t node) { // guarding, heartbeat, boot-up
    return static_cast<std::uint16_t>(0x700 + node);
}

// What a step asks of its caller: send these frames, in this order, and call again (with
// the time, or a frame) no later than the deadline.
struct Output {
    std::vector<CanFrame> frames;
    TimePoint deadline = NoDeadline;
};

} // namespace bus::canopen
