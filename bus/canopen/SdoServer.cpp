#include "SdoServer.h"

#include "SdoBlockFrames.h"

#include <algorithm>

namespace bus::canopen {

namespace {

std::uint32_t le32(const CanFrame& frame, std::size_t at) {
    return static_cast<std::uint32_t>(frame.data[at]) |
           static_cast<std::uint32_t>(frame.data[at + 1]) << 8 |
           static_cast<std::uint32_t>(frame.data[at + 2]) << 16 |
           static_cast<std::uint32_t>(frame.data[at + 3]) << 24;
}

std::uint16_t indexOf(const CanFrame& frame) {
    return static_cast<std::uint16_t>(frame.data[1] | frame.data[2] << 8);
}

} // namespace

SdoServer::SdoServer(std::uint8_t node, ObjectDictionary& dictionary,
                     std::chrono::milliseconds timeout)
    : node_(node), dictionary_(dictionary), timeout_(timeout) {}

Output SdoServer::OnFrame(const CanFrame& frame, TimePoint now) {
    if (frame.id != SdoRxCobId(node_) || frame.remote || frame.length != 8)
        return waiting();
    const bool blockDownload =
        phase_ == Phase::BlockDownloadSubBlock || phase_ == Phase::BlockDownloadEnd;
    if (blockDownload && frame == blockInitiate_)
        return waiting(); // the initiate again, not a segment
    if (phase_ == Phase::BlockDownloadSubBlock) {
        if (frame.data[0] == 0x80) { // the client aborts
            Reset();
            return Output{};
        }
        return blockDownloadSegment(frame, now);
    }
    if (phase_ == Phase::BlockDownloadEnd && receiver_.RepeatsLast(frame))
        return waiting(); // the last segment again
    switch (frame.data[0] >> 5) {
    case 0:
        return downloadSegment(frame, now);
    case 1:
        return initiateDownload(frame, now);
    case 2:
        return initiateUpload(frame, now);
    case 3:
        return uploadSegment(frame, now);
    case 4: // the client aborts
        Reset();
        return Output{};
    case 5:
    case 6:
        if (blockTransfer_)
            return blockRequest(frame, now);
        [[fallthrough]];
    default: // block transfers when not served, and anything else
        Reset();
        return abort(indexOf(frame), frame.data[3], SdoAbort::BadCommand);
    }
}

Output SdoServer::OnTime(TimePoint now) {
    if (Busy() && now >= deadline_)
        return abort(index_, subIndex_, SdoAbort::Timeout);
    return waiting();
}

Output SdoServer::FramesSent(TimePoint at) {
    if (Busy() && deadline_ != NoDeadline)
        deadline_ = std::max(deadline_, at + timeout_);
    return waiting();
}

void SdoServer::SetBlockSize(std::uint8_t blockSize) {
    if (ValidBlockSize(blockSize))
        blockSize_ = blockSize;
}

void SdoServer::Reset() {
    phase_ = Phase::Idle;
    deadline_ = NoDeadline;
    buffer_.clear();
    buffer_.shrink_to_fit();
    offset_ = 0;
    announced_.reset();
    crc_ = false;
    lastSegment_.reset();
    sender_.Clear();
    receiver_.Clear();
}

Output SdoServer::reply(const CanFrame& frame, TimePoint now) {
    deadline_ = Busy() ? now + timeout_ : NoDeadline;
    return Output{{frame}, deadline_};
}

Output SdoServer::abort(std::uint16_t index, std::uint8_t subIndex, std::uint32_t code) {
    Reset();
    return Output{{SdoAbortFrame(SdoTxCobId(node_), index, subIndex, code)}, NoDeadline};
}

Output SdoServer::waiting() const {
    return Output{{}, deadline_};
}

Output SdoServer::initiateDownload(const CanFrame& frame, TimePoint now) {
    Reset(); // a new request ends whatever ran before it
    const std::uint8_t command = frame.data[0];
    const std::uint16_t index = indexOf(frame);
    const std::uint8_t subIndex = frame.data[3];
    const bool expedited = command & 0x02;
    const bool sizeIndicated = command & 0x01;
    const CanFrame done = CanFrame::Data(
        SdoTxCobId(node_), {0x60, frame.data[1], frame.data[2], subIndex, 0, 0, 0, 0});
    if (expedited) {
        const std::size_t n = sizeIndicated ? 4 - ((command >> 2) & 0x03) : 4;
        const std::vector<std::uint8_t> value(frame.data.begin() + 4, frame.data.begin() + 4 + n);
        if (const std::uint32_t code = dictionary_.Write(index, subIndex, value))
            return abort(index, subIndex, code);
        return reply(done, now);
    }
    if (sizeIndicated)
        announced_ = le32(frame, 4);
    if (auto refused = refusedDownload(index, subIndex))
        return *refused;
    phase_ = Phase::Downloading;
    index_ = index;
    subIndex_ = subIndex;
    toggle_ = false;
    if (announced_)
        buffer_.reserve(*announced_);
    return reply(done, now);
}

Output SdoServer::downloadSegment(const CanFrame& frame, TimePoint now) {
    if (phase_ != Phase::Downloading)
        return abort(Busy() ? index_ : 0, Busy() ? subIndex_ : 0, SdoAbort::BadCommand);
    if (lastSegment_ && frame == *lastSegment_)
        return waiting(); // the segment just taken, received twice
    lastSegment_ = frame;
    const std::uint8_t command = frame.data[0];
    if (((command & 0x10) != 0) != toggle_)
        return abort(index_, subIndex_, SdoAbort::ToggleBit);
    const std::size_t n = 7 - ((command >> 1) & 0x07);
    const bool last = command & 0x01;
    buffer_.insert(buffer_.end(), frame.data.begin() + 1, frame.data.begin() + 1 + n);
    if (announced_ && buffer_.size() > *announced_)
        return abort(index_, subIndex_, SdoAbort::LengthTooHigh);
    if (buffer_.size() > MaxDownloadSize)
        return abort(index_, subIndex_, SdoAbort::OutOfMemory);
    const CanFrame ack =
        CanFrame::Data(SdoTxCobId(node_), {static_cast<std::uint8_t>(0x20 | (toggle_ ? 0x10 : 0)),
                                           0, 0, 0, 0, 0, 0, 0});
    if (!last) {
        toggle_ = !toggle_;
        return reply(ack, now);
    }
    if (announced_ && buffer_.size() < *announced_)
        return abort(index_, subIndex_, SdoAbort::LengthTooLow);
    if (const std::uint32_t code = dictionary_.Write(index_, subIndex_, buffer_))
        return abort(index_, subIndex_, code);
    Reset();
    return reply(ack, now);
}

Output SdoServer::initiateUpload(const CanFrame& frame, TimePoint now) {
    Reset();
    const std::uint16_t index = indexOf(frame);
    const std::uint8_t subIndex = frame.data[3];
    SdoReadResult read = dictionary_.Read(index, subIndex);
    if (read.abortCode)
        return abort(index, subIndex, read.abortCode);
    const std::size_t n = read.data.size();
    if (n > 0xFFFFFFFFu)
        return abort(index, subIndex, SdoAbort::LengthTooHigh);
    if (n >= 1 && n <= 4) {
        const auto command = static_cast<std::uint8_t>(sizeIndicated_ ? 0x43 | (4 - n) << 2 : 0x42);
        CanFrame expedited = CanFrame::Data(
            SdoTxCobId(node_), {command, frame.data[1], frame.data[2], subIndex, 0, 0, 0, 0});
        std::copy(read.data.begin(), read.data.end(), expedited.data.begin() + 4);
        return reply(expedited, now);
    }
    phase_ = Phase::Uploading;
    index_ = index;
    subIndex_ = subIndex;
    toggle_ = false;
    buffer_ = std::move(read.data);
    offset_ = 0;
    return reply(
        CanFrame::Data(SdoTxCobId(node_),
                       {0x41, frame.data[1], frame.data[2], subIndex, static_cast<std::uint8_t>(n),
                        static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n >> 16),
                        static_cast<std::uint8_t>(n >> 24)}),
        now);
}

Output SdoServer::uploadSegment(const CanFrame& frame, TimePoint now) {
    if (phase_ != Phase::Uploading)
        return abort(Busy() ? index_ : 0, Busy() ? subIndex_ : 0, SdoAbort::BadCommand);
    if (lastSegment_ && frame == *lastSegment_)
        return waiting(); // the request just answered, received twice
    lastSegment_ = frame;
    if (((frame.data[0] & 0x10) != 0) != toggle_)
        return abort(index_, subIndex_, SdoAbort::ToggleBit);
    const std::size_t n = std::min<std::size_t>(7, buffer_.size() - offset_);
    const bool last = offset_ + n == buffer_.size();
    CanFrame segment = CanFrame::Data(SdoTxCobId(node_), {0, 0, 0, 0, 0, 0, 0, 0});
    segment.data[0] =
        static_cast<std::uint8_t>((toggle_ ? 0x10 : 0) | (7 - n) << 1 | (last ? 1 : 0));
    std::copy(buffer_.begin() + static_cast<std::ptrdiff_t>(offset_),
              buffer_.begin() + static_cast<std::ptrdiff_t>(offset_ + n), segment.data.begin() + 1);
    offset_ += n;
    if (last)
        Reset();
    else
        toggle_ = !toggle_;
    return reply(segment, now);
}

Output SdoServer::outOfPlace() {
    return abort(Busy() ? index_ : 0, Busy() ? subIndex_ : 0, SdoAbort::BadCommand);
}

Output SdoServer::blockRequest(const CanFrame& frame, TimePoint now) {
    const std::uint8_t command = frame.data[0];
    if (IsBlockInitiateWithSize(command))
        return initiateBlockDownload(frame, now);
    if (IsBlockInitiateWithBlockSize(command))
        return initiateBlockUpload(frame, now);
    if (IsBlockEnd(command))
        return phase_ == Phase::BlockDownloadEnd ? blockDownloadEnd(frame, now) : outOfPlace();
    if (command >> 5 == 5)
        return blockUploadStep(frame, now);
    return outOfPlace();
}

std::optional<Output> SdoServer::refusedDownload(std::uint16_t index, std::uint8_t subIndex) {
    if (announced_ && *announced_ > MaxDownloadSize)
        return abort(index, subIndex, SdoAbort::OutOfMemory);
    if (const std::uint32_t code = dictionary_.CheckWrite(index, subIndex, announced_))
        return abort(index, subIndex, code);
    return std::nullopt;
}

Output SdoServer::initiateBlockDownload(const CanFrame& frame, TimePoint now) {
    Reset(); // a new request ends whatever ran before it
    const std::uint8_t command = frame.data[0];
    const std::uint16_t index = indexOf(frame);
    const std::uint8_t subIndex = frame.data[3];
    if (command & 0x02)
        announced_ = le32(frame, 4);
    if (auto refused = refusedDownload(index, subIndex))
        return *refused;
    phase_ = Phase::BlockDownloadSubBlock;
    index_ = index;
    subIndex_ = subIndex;
    crc_ = BlockCrcFlag(command);
    blockInitiate_ = frame;
    receiver_.Begin(blockSize_, MaxDownloadSize);
    return reply(
        SdoBlockInitiateWithBlockSize(SdoTxCobId(node_), index, subIndex, true, blockSize_), now);
}

Output SdoServer::blockDownloadSegment(const CanFrame& frame, TimePoint now) {
    const SdoBlockReceiver::Step step = receiver_.OnSegment(frame);
    if (step.invalid)
        return abort(index_, subIndex_, SdoAbort::InvalidSequence);
    if (announced_ && receiver_.Count() > *announced_)
        return abort(index_, subIndex_, SdoAbort::LengthTooHigh);
    if (receiver_.Count() > MaxDownloadSize)
        return abort(index_, subIndex_, SdoAbort::OutOfMemory);
    if (!step.ackseq) {
        deadline_ = now + timeout_; // the client is sending
        return waiting();
    }
    if (receiver_.LastTaken())
        phase_ = Phase::BlockDownloadEnd;
    return reply(SdoBlockAck(SdoTxCobId(node_), *step.ackseq, receiver_.BlockSize()), now);
}

Output SdoServer::blockDownloadEnd(const CanFrame& frame, TimePoint now) {
    receiver_.End(BlockEndUnused(frame.data[0]));
    const std::size_t size = receiver_.Count();
    if (announced_ && size > *announced_)
        return abort(index_, subIndex_, SdoAbort::LengthTooHigh);
    if (announced_ && size < *announced_)
        return abort(index_, subIndex_, SdoAbort::LengthTooLow);
    if (size > MaxDownloadSize)
        return abort(index_, subIndex_, SdoAbort::OutOfMemory);
    if (crc_ && BlockEndCrc(frame) != receiver_.Crc())
        return abort(index_, subIndex_, SdoAbort::CrcError);
    if (const std::uint32_t code = dictionary_.Write(index_, subIndex_, receiver_.Kept()))
        return abort(index_, subIndex_, code);
    Reset();
    return reply(SdoBlockEndAnswer(SdoTxCobId(node_)), now);
}

Output SdoServer::initiateBlockUpload(const CanFrame& frame, TimePoint now) {
    Reset();
    const std::uint16_t index = indexOf(frame);
    const std::uint8_t subIndex = frame.data[3];
    const std::uint8_t blockSize = frame.data[4];
    if (!ValidBlockSize(blockSize))
        return abort(index, subIndex, SdoAbort::InvalidBlockSize);
    SdoReadResult read = dictionary_.Read(index, subIndex);
    if (read.abortCode)
        return abort(index, subIndex, read.abortCode);
    const std::size_t n = read.data.size();
    if (n > 0xFFFFFFFFu)
        return abort(index, subIndex, SdoAbort::LengthTooHigh);
    phase_ = Phase::BlockUploadStart;
    index_ = index;
    subIndex_ = subIndex;
    crc_ = BlockCrcFlag(frame.data[0]);
    sender_.Begin(std::move(read.data), blockSize);
    return reply(SdoBlockInitiateWithSize(SdoTxCobId(node_), index, subIndex, true,
                                          static_cast<std::uint32_t>(n)),
                 now);
}

// The client's go-ahead, acknowledgements and end answer of a block upload.
Output SdoServer::blockUploadStep(const CanFrame& frame, TimePoint now) {
    const std::uint8_t command = frame.data[0];
    switch (phase_) {
    case Phase::BlockUploadStart:
        if (!IsBlockUploadStart(command))
            return outOfPlace();
        phase_ = Phase::BlockUploadSubBlock;
        return sendSubBlock(now);
    case Phase::BlockUploadSubBlock:
        if (IsBlockUploadStart(command))
            return waiting(); // the go-ahead again
        if (!IsBlockAck(command))
            return outOfPlace();
        if (const std::uint32_t code = sender_.Acknowledge(frame.data[1], frame.data[2]))
            return abort(index_, subIndex_, code);
        if (!sender_.AllAcknowledged())
            return sendSubBlock(now);
        phase_ = Phase::BlockUploadEnd;
        return reply(
            SdoBlockEnd(SdoTxCobId(node_), sender_.UnusedInLast(), crc_ ? sender_.Crc() : 0), now);
    case Phase::BlockUploadEnd:
        if (IsBlockAck(command) || IsBlockUploadStart(command))
            return waiting(); // the last acknowledgement again
        if (!IsBlockEndAnswer(command))
            return outOfPlace();
        Reset();
        return Output{};
    default:
        return outOfPlace();
    }
}

Output SdoServer::sendSubBlock(TimePoint now) {
    deadline_ = now + timeout_;
    return Output{sender_.SubBlock(SdoTxCobId(node_)), deadline_};
}

} // namespace bus::canopen
