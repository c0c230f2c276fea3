#pragma once

#include "CanFrame.h"

#include <chrono>
#include <cstdint>
#include <utility>
#include <vector>

namespace sim {

// Frames of one kind: a CAN-ID (11 bits) and the first bytes of the data.
struct FramePattern {
    std::uint32_t id = 0;
    std::vector<std::uint8_t> start; // at most 8 bytes

    bool Matches(const bus::CanFrame& frame) const {
        if (frame.id != id || frame.remote || frame.length < start.size())
            return false;
        for (std::size_t i = 0; i < start.size(); ++i)
            if (frame.data[i] != start[i])
                return false;
        return true;
    }
};

// The faults a simulated network's [bus] section asks for, on the frames its nodes receive
// and send: every Nth frame is lost, arrives twice (as CAN's double reception does), or
// arrives later. An "every" of 0 turns its fault off. Besides, the first frame of each
// pattern in loseOnce is lost (one answer of a node, say).
struct BusFaultSettings {
    std::uint32_t loseEvery = 0;
    std::uint32_t duplicateEvery = 0;
    std::uint32_t delayEvery = 0;
    std::uint32_t delayMilliseconds = 0;
    std::vector<FramePattern> loseOnce;

    bool Any() const {
        return loseEvery != 0 || duplicateEvery != 0 ||
               (delayEvery != 0 && delayMilliseconds != 0) || !loseOnce.empty();
    }
};

// What befalls one frame.
struct FrameFate {
    bool lost = false;
    unsigned copies = 1; // 2: it arrives twice
    std::chrono::milliseconds delay{0};
};

// Counts the frames of a network from its start, in both directions, and tells each frame its
// fate: the same frames meet the same faults in every run. A lost frame is not duplicated or
// delayed; a frame may be both duplicated and delayed (both copies come late).
class BusFaults {
public:
    BusFaults() = default;
    explicit BusFaults(BusFaultSettings settings)
        : settings_(std::move(settings)), lostOnce_(settings_.loseOnce.size(), false) {}

    FrameFate Next(const bus::CanFrame& frame) {
        ++count_;
        FrameFate fate;
        if (nth(settings_.loseEvery) || firstOfItsPattern(frame)) {
            fate.lost = true;
            return fate;
        }
        if (nth(settings_.duplicateEvery))
            fate.copies = 2;
        if (nth(settings_.delayEvery))
            fate.delay = std::chrono::milliseconds(settings_.delayMilliseconds);
        return fate;
    }

    // Frames counted so far.
    std::uint64_t Count() const { return count_; }

private:
    bool nth(std::uint32_t every) const { return every != 0 && count_ % every == 0; }
    bool firstOfItsPattern(const bus::CanFrame& frame) {
        for (std::size_t i = 0; i < settings_.loseOnce.size(); ++i)
            if (!lostOnce_[i] && settings_.loseOnce[i].Matches(frame)) {
                lostOnce_[i] = true;
                return true;
            }
        return false;
    }

    BusFaultSettings settings_;
    std::vector<bool> lostOnce_; // by pattern: its frame is lost already
    std::uint64_t count_ = 0;
};

} // namespace sim
