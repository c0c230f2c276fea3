#include "SdoBlockReceiver.h"

#include "Crc16.h"
#include "SdoBlockFrames.h"

#include <algorithm>

namespace bus::canopen {

void SdoBlockReceiver::Begin(std::uint8_t blockSize, std::size_t keep) {
    Clear();
    blockSize_ = blockSize;
    keep_ = keep;
}

void SdoBlockReceiver::Clear() {
    *this = SdoBlockReceiver{};
}

SdoBlockReceiver::Step SdoBlockReceiver::OnSegment(const CanFrame& frame) {
    const std::uint8_t seqno = frame.data[0] & 0x7F;
    const bool last = (frame.data[0] & 0x80) != 0;
    if (seqno == 0 || seqno > blockSize_)
        return Step{true, std::nullopt};
    if (Repeats(frame))
        return Step{}; // the sub-block's end again
    acknowledged_ = false;
    if (lastTaken_)
        return Step{}; // nothing follows the last segment
    if (seqno == ackseq_ + 1) {
        if (waiting_)
            settle(BlockSegmentBytes);
        lastSegment_ = frame;
        waiting_ = true;
        ackseq_ = seqno;
        lastTaken_ = last;
    } else if (seqno <= ackseq_) {
        return Step{}; // had it already
    }
    if (!last && seqno != blockSize_)
        return Step{};
    const std::uint8_t ackseq = ackseq_;
    ackseq_ = 0;
    ender_ = frame;
    acknowledged_ = true;
    return Step{false, ackseq};
}

void SdoBlockReceiver::End(std::uint8_t unused) {
    if (waiting_)
        settle(BlockSegmentBytes - std::min<std::size_t>(unused, BlockSegmentBytes));
    waiting_ = false;
}

void SdoBlockReceiver::settle(std::size_t bytes) {
    const auto first = lastSegment_.data.begin() + 1;
    crc_ = Crc16Ccitt(std::span<const std::uint8_t>(&*first, bytes), crc_);
    const std::size_t room = keep_ - std::min(keep_, kept_.size());
    kept_.insert(kept_.end(), first, first + static_cast<std::ptrdiff_t>(std::min(room, bytes)));
    count_ += bytes;
    waiting_ = false;
}

} // namespace bus::canopen
