#include "SdoClient.h"

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
    result_ = SdoResult{};
    result_.status = SdoStatus::Running;
    index_ = index;
    subIndex_ = subIndex;
    capacity_ = capacity;
    announced_.reset();
    lastAnswer_.reset();
    phase_ = Phase::UploadInitiate;
    return request(sdoFrame(node_, 0x40, index, subIndex), now);
}

std::optional<Output> SdoClient::StartDownload(std::uint16_t index, std::uint8_t subIndex,
                                               std::vector<std::uint8_t> data, TimePoint now) {
    if (Busy())
        return std::nullopt;
    result_ = SdoResult{};
    result_.status = SdoStatus::Running;
    index_ = index;
    subIndex_ = subIndex;
    outgoing_ = std::move(data);
    sentBytes_ = 0;
    lastSegmentSent_ = false;
    lastAnswer_.reset();
    phase_ = Phase::DownloadInitiate;
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

Output SdoClient::OnFrame(const CanFrame& frame, TimePoint now) {
    if (!Busy() || frame.id != SdoTxCobId(node_) || frame.remote)
        return Output{{}, deadline_};
    if (frame.length != 8)
        return fail(SdoAbort::BadCommand);
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
            result_.sizeUnstated = !sizeIndicated;
            result_.size = n;
            result_.data.assign(frame.data.begin() + 4,
                                frame.data.begin() + 4 + std::min(n, capacity_));
            return finish();
        }
        if (sizeIndicated)
            announced_ = le32(frame, 4);
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
    case Phase::Idle:
        break;
    }
    return Output{{}, deadline_};
}

Output SdoClient::OnTime(TimePoint now) {
    if (Busy() && now >= deadline_)
        return fail(SdoAbort::Timeout);
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
    return Output{{SdoAbortFrame(SdoRxCobId(node_), index_, subIndex_, code)}, NoDeadline};
}

Output SdoClient::finish() {
    result_.status = SdoStatus::Done;
    phase_ = Phase::Idle;
    deadline_ = NoDeadline;
    outgoing_.clear();
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

bool SdoClient::sameObject(const CanFrame& frame) const {
    return frame.data[1] == static_cast<std::uint8_t>(index_) &&
           frame.data[2] == static_cast<std::uint8_t>(index_ >> 8) && frame.data[3] == subIndex_;
}

} // namespace bus::canopen
