#include "SdoServer.h"

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
    default: // block transfers and anything else: not served
        Reset();
        return abort(indexOf(frame), frame.data[3], SdoAbort::BadCommand);
    }
}

Output SdoServer::OnTime(TimePoint now) {
    if (Busy() && now >= deadline_)
        return abort(index_, subIndex_, SdoAbort::Timeout);
    return waiting();
}

void SdoServer::Reset() {
    phase_ = Phase::Idle;
    deadline_ = NoDeadline;
    buffer_.clear();
    buffer_.shrink_to_fit();
    offset_ = 0;
    announced_.reset();
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
    if (sizeIndicated) {
        announced_ = le32(frame, 4);
        if (*announced_ > MaxDownloadSize)
            return abort(index, subIndex, SdoAbort::OutOfMemory);
    }
    if (const std::uint32_t code = dictionary_.CheckWrite(index, subIndex, announced_))
        return abort(index, subIndex, code);
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

} // namespace bus::canopen
