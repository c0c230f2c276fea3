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
// taken in order, and goes on after it. A lost segment is thus always answered at the end of
// its sub-block, whatever the bytes around it. A segment numbered at or below the last one
// taken in order is a repeat (CAN may deliver a frame twice), and so is the frame that ended
// the sub-block when it comes again with nothing else between: both are dropped without
// ending anything. The same bytes after other frames are the next sub-block's, and so are
// they when the sub-block ended with segment 1 or 2: a next sub-block begins with such a
// frame after one lost segment or none, where it would take two lost segments to begin with
// segment 3 or later.
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
    // The frame that ended the sub-block, again, with nothing else received since (and not
    // one that the next sub-block could begin with, see above).
    bool Repeats(const CanFrame& frame) const {
        return acknowledged_ && frame == ender_ && (ender_.data[0] & 0x7F) > 2;
    }
    // The segment that said no more follow, again, once it was taken: nothing but a repeat
    // can follow it before the end, whatever came between.
    bool RepeatsLast(const CanFrame& frame) const { return lastTaken_ && frame == ender_; }
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
    CanFrame lastSegment_;      // the segment taken last
    CanFrame ender_;            // the frame that ended the sub-block acknowledged last
    bool acknowledged_ = false; // that acknowledgement is the last thing that happened
    bool waiting_ = false;      // lastSegment_'s bytes are not in the value yet
    std::size_t count_ = 0;
    std::uint16_t crc_ = 0;
    std::vector<std::uint8_t> kept_;
};

} // namespace bus::canopen
