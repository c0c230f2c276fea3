#pragma once

#include "CanOpen.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace bus::canopen {

// The sending side of an SDO block transfer (the client of a block download, the server of a
// block upload): cuts the value into segments of seven bytes and sends them in sub-blocks,
// numbered from 1 in each, moving on by the receiver's acknowledgements. An acknowledgement
// of fewer segments than were sent makes the next sub-block begin with the first segment not
// acknowledged. An empty value goes as one segment that carries nothing.
class SdoBlockSender {
public:
    void Begin(std::vector<std::uint8_t> value, std::uint8_t blockSize);
    void Clear();

    // The segments of the next sub-block, on cobId: as many as the block size allows.
    std::vector<CanFrame> SubBlock(std::uint16_t cobId);
    // The receiver's answer to the sub-block sent last: 0, or the abort code for an ackseq
    // beyond the segments sent (invalid sequence number) or a block size out of 1..127.
    std::uint32_t Acknowledge(std::uint8_t ackseq, std::uint8_t blockSize);
    bool AllAcknowledged() const { return acknowledged_ == segments_; }
    // The bytes of the value the receiver has acknowledged so far.
    std::size_t AcknowledgedBytes() const { return std::min(acknowledged_ * 7, value_.size()); }

    // For the end: the bytes of the last segment that carry no value, and the value's CRC.
    std::uint8_t UnusedInLast() const;
    std::uint16_t Crc() const;
    std::size_t Size() const { return value_.size(); }

private:
    std::vector<std::uint8_t> value_;
    std::size_t segments_ = 0;
    std::size_t acknowledged_ = 0; // segments
    std::size_t inFlight_ = 0;     // segments of the sub-block sent last
    std::uint8_t blockSize_ = 0;
};

} // namespace bus::canopen
