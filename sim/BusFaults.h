#pragma once

#include <chrono>
#include <cstdint>

namespace sim {

// The faults a simulated network's [bus] section asks for, on the frames its nodes receive
// and send: every Nth frame is lost, arrives twice (as CAN's double reception does), or
// arrives later. An "every" of 0 turns its fault off.
struct BusFaultSettings {
    std::uint32_t loseEvery = 0;
    std::uint32_t duplicateEvery = 0;
    std::uint32_t delayEvery = 0;
    std::uint32_t delayMilliseconds = 0;

    bool Any() const {
        return loseEvery != 0 || duplicateEvery != 0 || (delayEvery != 0 && delayMilliseconds != 0);
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
    explicit BusFaults(BusFaultSettings settings) : settings_(settings) {}

    FrameFate Next() {
        ++count_;
        FrameFate fate;
        if (nth(settings_.loseEvery)) {
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

    BusFaultSettings settings_;
    std::uint64_t count_ = 0;
};

} // namespace sim
