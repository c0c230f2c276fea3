#include "SdoBlockSender.h"

#include "Crc16.h"
#include "Sdo.h"
#include "SdoBlockFrames.h"

#include <algorithm>

namespace bus::canopen {

void SdoBlockSender::Begin(std::vector<std::uint8_t> value, std::uint8_t blockSize) {
    value_ = std::move(value);
    segments_ =
        std::max<std::size_t>(1, (value_.size() + BlockSegmentBytes - 1) / BlockSegmentBytes);
    acknowledged_ = 0;
    inFlight_ = 0;
    blockSize_ = blockSize;
}

void SdoBlockSender::Clear() {
    value_.clear();
    value_.shrink_to_fit();
    segments_ = acknowledged_ = inFlight_ = 0;
}

std::vector<CanFrame> SdoBlockSender::SubBlock(std::uint16_t cobId) {
    inFlight_ = std::min<std::size_t>(blockSize_, segments_ - acknowledged_);
    std::vector<CanFrame> frames;
    frames.reserve(inFlight_);
    for (std::size_t i = 0; i < inFlight_; ++i) {
        const std::size_t segment = acknowledged_ + i;
        const std::size_t from = std::min(value_.size(), segment * BlockSegmentBytes);
        const std::size_t to = std::min(value_.size(), from + BlockSegmentBytes);
        const bool last = segment + 1 == segments_;
        CanFrame frame = CanFrame::Data(cobId, {0, 0, 0, 0, 0, 0, 0, 0});
        frame.data[0] = static_cast<std::uint8_t>((last ? 0x80 : 0) | (i + 1));
        std::copy(value_.begin() + static_cast<std::ptrdiff_t>(from),
                  value_.begin() + static_cast<std::ptrdiff_t>(to), frame.data.begin() + 1);
        frames.push_back(frame);
    }
    return frames;
}

std::uint32_t SdoBlockSender::Acknowledge(std::uint8_t ackseq, std::uint8_t blockSize) {
    if (ackseq > inFlight_)
        return SdoAbort::InvalidSequence;
    if (!ValidBlockSize(blockSize))
        return SdoAbort::InvalidBlockSize;
    acknowledged_ += ackseq;
    inFlight_ = 0;
    blockSize_ = blockSize;
    return 0;
}

std::uint8_t SdoBlockSender::UnusedInLast() const {
    return static_cast<std::uint8_t>(segments_ * BlockSegmentBytes - value_.size());
}

std::uint16_t SdoBlockSender::Crc() const {
    return Crc16Ccitt(value_);
}

} // namespace bus::canopen
