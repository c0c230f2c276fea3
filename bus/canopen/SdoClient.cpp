#include "SdoClient.h"

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

CanFrame sdoFrame(std::uint8_t node, std::uint8_t command, std::uint16_t index,
                  std::uint8_t subIndex) {
    return CanFrame::Data(SdoRxCobId(node),
                          {command, static_cast<std::uint8_t>(index),
                           static_cast<std::uint8_t>(index >> 8), subIndex, 0, 0, 0, 0});
}

} // namespace

SdoClient::SdoClient(std::uint8_t node, std::chrono::milliseconds timeout)
    : node_(node), timeout_(timeout) {}

std::optional<Output> SdoClient::StartUpload(std::uint16_t index, std::uint8_t subIndex,
                                             std::size_t capacity, TimePoint now) {
    if (Busy())
        return std::nullopt;
    begin(index, subIndex, Phase::UploadInitiate);
    capacity_ = capacity;
    announced_.reset();
    return request(sdoFrame(node_, 0x40, index, subIndex), now);
}

std::optional<Output> SdoClient::StartDownload(std::uint16_t index, std::uint8_t subIndex,
                                               std::vector<std::uint8_t> data, TimePoint now) {
    if (Busy())
        return std::nullopt;
    begin(index, subIndex, Phase::DownloadInitiate);
    outgoing_ = std::move(data);
    sentBytes_ = 0;
    lastSegmentSent_ = false;
    const std::size_t n = outgoing_.size();
    if (n >= 1 && n <= 4) {
        // Expedited, size indicated: n = the bytes of the four that carry no data.
        CanFrame frame =
            sdoFrame(node_, static_cast<std::uint8_t>(0x23 | (4 - n) << 2), index, subIndex);
        std::copy(outgoing_.begin(), outgoing_.end(), frame.data.begin() + 4);
        return request(frame, now);
    }
    // Segmented, size indicated.
    CanFrame frame = sdoFrame(node_, 0x21, index, subIndex);
    for (int i = 0; i < 4; ++i)
        frame.data[4 + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(n) >> (8 * i));
    return request(frame, now);
}

std::optional<Output> SdoClient::StartBlockDownload(std::uint16_t index, std::uint8_t subIndex,
                                                    std::vector<std::uint8_t> data, TimePoint now) {
    if (Busy())
        return std::nullopt;
    begin(index, subIndex, Phase::BlockDownloadInitiate);
    result_.blockTransfer = true;
    outgoing_ = std::move(data);
    return request(SdoBlockInitiateWithSize(SdoRxCobId(node_), index, subIndex, true,
                                            static_cast<std::uint32_t>(outgoing_.size())),
                   now);
}

std::optional<Output> SdoClient::StartBlockUpload(std::uint16_t index, std::uint8_t subIndex,
                                                  std::size_t capacity, std::uint8_t blockSize,
                                                  TimePoint now) {
    if (Busy() || !ValidBlockSize(blockSize))
        return std::nullopt;
    begin(index, subIndex, Phase::BlockUploadInitiate);
    result_.blockTransfer = true;
    whole_ = true;
    capacity_ = capacity;
    blockSize_ = blockSize;
    announced_.reset();
    return request(
        SdoBlockInitiateWithBlockSize(SdoRxCobId(node_), index, subIndex, true, blockSize), now);
}

Output SdoClient::OnFrame(const CanFrame& frame, TimePoint now) {
    if (!Busy() || frame.id != SdoTxCobId(node_) || frame.remote)
        return Output{{}, deadline_};
    if (frame.length != 8)
        return fail(SdoAbort::BadCommand);
    if (blockPhase())
        return onBlockFrame(frame, now);
    if (lastAnswer_ && frame == *lastAnswer_)
        return Output{{}, deadline_}; // the same frame twice
    const std::uint8_t command = frame.data[0];
    const std::uint8_t specifier = command >> 5;
    const bool initiateAnswer = specifier == 2 || specifier == 3;
    const bool segmentAnswer = specifier == 0 || specifier == 1;
    // Answers to an earlier, aborted request: another entry's, or a segment's while this
    // transfer has not begun its segments.
    if ((specifier == 4 || initiateAnswer) && !sameObject(frame))
        return Output{{}, deadline_};
    if (segmentAnswer && initiating())
        return Output{{}, deadline_};
    // A block transfer's answers (5, 6) belong to an earlier, cancelled or refused one: they
    // may still be on their way when the next transfer begins.
    if ((specifier == 5 || specifier == 6) && initiating())
        return Output{{}, deadline_};
    if (specifier == 4) {
        result_.abortCode = le32(frame, 4);
        result_.abortedByServer = true;
        result_.status = SdoStatus::Failed;
        phase_ = Phase::Idle;
        deadline_ = NoDeadline;
        return Output{};
    }
    if (initiateAnswer && !initiating())
        return Output{{}, deadline_}; // the transfer's initiate answer, late or repeated
    lastAnswer_ = frame;

    switch (phase_) {
    case Phase::UploadInitiate: {
        if (specifier != 2)
            return fail(SdoAbort::BadCommand);
        const bool expedited = command & 0x02;
        const bool sizeIndicated = command & 0x01;
        if (expedited) {
            const std::size_t n = sizeIndicated ? 4 - ((command >> 2) & 0x03) : 4;
            if (whole_ && sizeIndicated && n > capacity_)
                return fail(SdoAbort::OutOfMemory);
            result_.sizeUnstated = !sizeIndicated;
            result_.size = n;
            result_.data.assign(frame.data.begin() + 4,
                                frame.data.begin() + 4 + std::min(n, capacity_));
            return finish();
        }
        if (sizeIndicated)
            announced_ = le32(frame, 4);
        if (whole_ && announced_ && *announced_ > capacity_)
            return fail(SdoAbort::OutOfMemory);
        phase_ = Phase::UploadSegment;
        toggle_ = false;
        return request(CanFrame::Data(SdoRxCobId(node_), {0x60, 0, 0, 0, 0, 0, 0, 0}), now);
    }
    case Phase::UploadSegment: {
        if (specifier != 0)
            return fail(SdoAbort::BadCommand);
        if (((command & 0x10) != 0) != toggle_)
            return fail(SdoAbort::ToggleBit);
        const std::size_t n = 7 - ((command >> 1) & 0x07);
        const bool last = command & 0x01;
        const std::size_t room = capacity_ - std::min(capacity_, result_.data.size());
        result_.data.insert(result_.data.end(), frame.data.begin() + 1,
                            frame.data.begin() + 1 + std::min(n, room));
        result_.size += n;
        if (announced_ && result_.size > *announced_)
            return fail(SdoAbort::LengthTooHigh);
        if (whole_ && result_.size > capacity_)
            return fail(SdoAbort::OutOfMemory);
        if (last) {
            if (announced_ && result_.size < *announced_)
                return fail(SdoAbort::LengthTooLow);
            return finish();
        }
        toggle_ = !toggle_;
        return request(CanFrame::Data(SdoRxCobId(node_),
                                      {static_cast<std::uint8_t>(0x60 | (toggle_ ? 0x10 : 0)), 0, 0,
                                       0, 0, 0, 0, 0}),
                       now);
    }
    case Phase::DownloadInitiate: {
        if (specifier != 3)
            return fail(SdoAbort::BadCommand);
        if (outgoing_.size() >= 1 && outgoing_.size() <= 4) {
            result_.size = outgoing_.size();
            return finish();
        }
        phase_ = Phase::DownloadSegment;
        toggle_ = false;
        return nextDownloadSegment(now);
    }
    case Phase::DownloadSegment: {
        if (specifier != 1)
            return fail(SdoAbort::BadCommand);
        if (((command & 0x10) != 0) != toggle_)
            return fail(SdoAbort::ToggleBit);
        if (lastSegmentSent_) {
            result_.size = outgoing_.size();
            return finish();
        }
        toggle_ = !toggle_;
        return nextDownloadSegment(now);
    }
    default: // idle; the block transfers' phases are onBlockFrame's
        break;
    }
    return Output{{}, deadline_};
}

Output SdoClient::OnTime(TimePoint now) {
    if (Busy() && now >= deadline_)
        return fail(SdoAbort::Timeout);
    return Output{{}, deadline_};
}

Output SdoClient::FramesSent(TimePoint at) {
    if (Busy() && deadline_ != NoDeadline)
        deadline_ = std::max(deadline_, at + timeout_);
    return Output{{}, deadline_};
}

Output SdoClient::Abort(std::uint32_t code) {
    if (!Busy())
        return Output{};
    return fail(code);
}

Output SdoClient::request(const CanFrame& frame, TimePoint now) {
    deadline_ = now + timeout_;
    return Output{{frame}, deadline_};
}

Output SdoClient::fail(std::uint32_t code) {
    result_.status = SdoStatus::Failed;
    result_.abortCode = code;
    result_.abortedByServer = false;
    phase_ = Phase::Idle;
    deadline_ = NoDeadline;
    outgoing_.clear();
    sender_.Clear();
    receiver_.Clear();
    return Output{{SdoAbortFrame(SdoRxCobId(node_), index_, subIndex_, code)}, NoDeadline};
}

Output SdoClient::finish() {
    result_.status = SdoStatus::Done;
    phase_ = Phase::Idle;
    deadline_ = NoDeadline;
    outgoing_.clear();
    sender_.Clear();
    receiver_.Clear();
    return Output{};
}

Output SdoClient::nextDownloadSegment(TimePoint now) {
    const std::size_t n = std::min<std::size_t>(7, outgoing_.size() - sentBytes_);
    lastSegmentSent_ = sentBytes_ + n == outgoing_.size();
    CanFrame frame = CanFrame::Data(SdoRxCobId(node_), {0, 0, 0, 0, 0, 0, 0, 0});
    frame.data[0] =
        static_cast<std::uint8_t>((toggle_ ? 0x10 : 0) | (7 - n) << 1 | (lastSegmentSent_ ? 1 : 0));
    std::copy(outgoing_.begin() + static_cast<std::ptrdiff_t>(sentBytes_),
              outgoing_.begin() + static_cast<std::ptrdiff_t>(sentBytes_ + n),
              frame.data.begin() + 1);
    sentBytes_ += n;
    return request(frame, now);
}

Output SdoClient::onBlockFrame(const CanFrame& frame, TimePoint now) {
    const std::uint8_t command = frame.data[0];
    // While segments come, byte 0 is a sequence number, and sequence number 0 is the abort.
    const bool abort = phase_ == Phase::BlockUploadSubBlock ? command == 0x80 : (command >> 5) == 4;
    if (abort) {
        const std::uint32_t code = le32(frame, 4);
        // A server without block transfers refuses the initiate with 0x05040001, and some
        // name another object in it (the one they served last, or 0000:00): whatever it
        // names, the transfer goes on the other way.
        if (code == SdoAbort::BadCommand &&
            (phase_ == Phase::BlockDownloadInitiate || phase_ == Phase::BlockUploadInitiate))
            return fallBack(now);
        if (!sameObject(frame))
            return Output{{}, deadline_}; // an earlier transfer's
        result_.abortCode = code;
        result_.abortedByServer = true;
        result_.status = SdoStatus::Failed;
        phase_ = Phase::Idle;
        deadline_ = NoDeadline;
        sender_.Clear();
        receiver_.Clear();
        return Output{};
    }
    if (lastAnswer_ && frame == *lastAnswer_)
        return Output{{}, deadline_}; // the initiate answer again
    switch (phase_) {
    case Phase::BlockDownloadInitiate:
    case Phase::BlockUploadInitiate:
        return onBlockInitiateAnswer(frame, now);
    case Phase::BlockDownloadSubBlock:
    case Phase::BlockDownloadEnd:
        return onBlockDownloadFrame(frame, now);
    case Phase::BlockUploadSubBlock:
    case Phase::BlockUploadEnd:
        return onBlockUploadFrame(frame, now);
    default:
        return Output{{}, deadline_};
    }
}

Output SdoClient::onBlockInitiateAnswer(const CanFrame& frame, TimePoint now) {
    const std::uint8_t command = frame.data[0];
    const std::uint8_t specifier = command >> 5;
    // Answers to earlier requests: segments' answers, a block download's acknowledgement or
    // end answer, and another entry's initiate answer.
    if (specifier <= 1 || IsBlockAck(command) || IsBlockEndAnswer(command))
        return Output{{}, deadline_};
    const bool initiateAnswer = specifier == 2 || specifier == 3 ||
                                IsBlockInitiateWithBlockSize(command) ||
                                IsBlockInitiateWithSize(command);
    if (initiateAnswer && !sameObject(frame))
        return Output{{}, deadline_};
    if (phase_ == Phase::BlockDownloadInitiate) {
        if (!IsBlockInitiateWithBlockSize(command))
            return fail(SdoAbort::BadCommand);
        const std::uint8_t blockSize = frame.data[4];
        if (!ValidBlockSize(blockSize))
            return fail(SdoAbort::InvalidBlockSize);
        lastAnswer_ = frame;
        crc_ = BlockCrcFlag(command);
        sender_.Begin(std::move(outgoing_), blockSize);
        outgoing_.clear();
        phase_ = Phase::BlockDownloadSubBlock;
        return sendSubBlock(now);
    }
    if (!IsBlockInitiateWithSize(command))
        return fail(SdoAbort::BadCommand);
    lastAnswer_ = frame;
    crc_ = BlockCrcFlag(command);
    if (command & 0x02)
        announced_ = le32(frame, 4);
    if (announced_ && *announced_ > capacity_)
        return fail(SdoAbort::OutOfMemory);
    receiver_.Begin(blockSize_, capacity_);
    phase_ = Phase::BlockUploadSubBlock;
    return request(SdoBlockUploadStart(SdoRxCobId(node_)), now);
}

Output SdoClient::onBlockDownloadFrame(const CanFrame& frame, TimePoint now) {
    const std::uint8_t command = frame.data[0];
    if (phase_ == Phase::BlockDownloadEnd) {
        if (IsBlockAck(command))
            return Output{{}, deadline_}; // the last acknowledgement again
        if (!IsBlockEndAnswer(command))
            return fail(SdoAbort::BadCommand);
        result_.size = sender_.Size();
        return finish();
    }
    if (!IsBlockAck(command))
        return fail(SdoAbort::BadCommand);
    if (const std::uint32_t code = sender_.Acknowledge(frame.data[1], frame.data[2]))
        return fail(code);
    if (!sender_.AllAcknowledged())
        return sendSubBlock(now);
    phase_ = Phase::BlockDownloadEnd;
    return request(SdoBlockEnd(SdoRxCobId(node_), sender_.UnusedInLast(), crc_ ? sender_.Crc() : 0),
                   now);
}

Output SdoClient::onBlockUploadFrame(const CanFrame& frame, TimePoint now) {
    if (phase_ == Phase::BlockUploadSubBlock) {
        const SdoBlockReceiver::Step step = receiver_.OnSegment(frame);
        if (step.invalid)
            return fail(SdoAbort::InvalidSequence);
        if (announced_ && receiver_.Count() > *announced_)
            return fail(SdoAbort::LengthTooHigh);
        if (receiver_.Count() > capacity_)
            return fail(SdoAbort::OutOfMemory);
        if (!step.ackseq) {
            deadline_ = now + timeout_; // the server is sending
            return Output{{}, deadline_};
        }
        if (receiver_.LastTaken())
            phase_ = Phase::BlockUploadEnd;
        return request(SdoBlockAck(SdoRxCobId(node_), *step.ackseq, blockSize_), now);
    }
    const std::uint8_t command = frame.data[0];
    if (receiver_.RepeatsLast(frame))
        return Output{{}, deadline_};
    if (!IsBlockEnd(command))
        return fail(SdoAbort::BadCommand);
    receiver_.End(BlockEndUnused(command));
    const std::size_t size = receiver_.Count();
    if (announced_ && size > *announced_)
        return fail(SdoAbort::LengthTooHigh);
    if (size > capacity_)
        return fail(SdoAbort::OutOfMemory);
    if (announced_ && size < *announced_)
        return fail(SdoAbort::LengthTooLow);
    if (crc_ && BlockEndCrc(frame) != receiver_.Crc())
        return fail(SdoAbort::CrcError);
    result_.data = receiver_.TakeKept();
    result_.size = size;
    finish();
    return Output{{SdoBlockEndAnswer(SdoRxCobId(node_))}, NoDeadline};
}

void SdoClient::begin(std::uint16_t index, std::uint8_t subIndex, Phase phase) {
    result_ = SdoResult{};
    result_.status = SdoStatus::Running;
    index_ = index;
    subIndex_ = subIndex;
    lastAnswer_.reset();
    whole_ = false;
    phase_ = phase;
}

Output SdoClient::fallBack(TimePoint now) {
    const bool upload = phase_ == Phase::BlockUploadInitiate;
    const bool whole = whole_;
    result_.status = SdoStatus::Idle;
    phase_ = Phase::Idle;
    const std::optional<Output> out =
        upload ? StartUpload(index_, subIndex_, capacity_, now)
               : StartDownload(index_, subIndex_, std::move(outgoing_), now);
    whole_ = whole;
    return *out;
}

Output SdoClient::sendSubBlock(TimePoint now) {
    deadline_ = now + timeout_;
    return Output{sender_.SubBlock(SdoRxCobId(node_)), deadline_};
}

bool SdoClient::sameObject(const CanFrame& frame) const {
    return frame.data[1] == static_cast<std::uint8_t>(index_) &&
           frame.data[2] == static_cast<std::uint8_t>(index_ >> 8) && frame.data[3] == subIndex_;
}

std::size_t SdoClient::DownloadedBytes() const {
    switch (phase_) {
    case Phase::DownloadSegment:
        return sentBytes_;
    case Phase::BlockDownloadSubBlock:
    case Phase::BlockDownloadEnd:
        return sender_.AcknowledgedBytes();
    default:
        return 0;
    }
}

} // namespace bus::canopen
