#pragma once

#include "CanOpen.h"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace bus::canopen {

// The receiving side of an SDO block transfer (the server of a block download, the client of
// a block upload). Takes the segments of each sub-block in order; a segment out of order is
// dropped, and the sub-block ends at the segment numbered with the block size or at the one
// that says no more follow, taken or not: then the sender is told the last sequence number
// taken in order, and goes on after it. A segment that repeats one taken (CAN may deliver a
// frame twice) is dropped without ending anything.
//
// Which bytes of the last segment carry the value is known only at the end, so the last
// segment taken waits apart until the next one or the end; the CRC and the count are of the
// value bytes only. At most `keep` bytes are kept; the count and the CRC go on past them.
class SdoBlockReceiver {
public:
    struct Step {
        bool invalid = false;               // sequence number 0 or beyond the block size
        std::optional<std::uint8_t> ackseq; // the sub-block ended: acknowledge this
    };

    void Begin(std::uint8_t blockSize, std::size_t keep);
    void Clear();

    Step OnSegment(const CanFrame& frame);
    // The segment that says no more follow was taken: the end comes next.
    bool LastTaken() const { return lastTaken_; }
    // The frame is the segment taken last, again.
    bool Repeats(const CanFrame& frame) const { return taken_ && frame == lastSegment_; }
    // The end, with the bytes of the last segment that carry no value (0 to 7).
    void End(std::uint8_t unused);

    std::uint8_t BlockSize() const { return blockSize_; }
    // Value bytes so far (the last segment counts from the end on).
    std::size_t Count() const { return count_; }
    std::uint16_t Crc() const { return crc_; }
    const std::vector<std::uint8_t>& Kept() const { return kept_; }
    std::vector<std::uint8_t> TakeKept() { return std::move(kept_); }

private:
    void settle(std::size_t bytes); // the waiting segment's first bytes into the value

    std::uint8_t blockSize_ = 0;
    std::size_t keep_ = 0;
    std::uint8_t ackseq_ = 0;
    bool lastTaken_ = false;
    bool taken_ = false;
    CanFrame lastSegment_;
    bool waiting_ = false; // lastSegment_'s bytes are not in the value yet
    std::size_t count_ = 0;
    std::uint16_t crc_ = 0;
    std::vector<std::uint8_t> kept_;
};

} // namespace bus::canopen
