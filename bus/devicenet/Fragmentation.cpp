#include "Fragmentation.h"

#include <algorithm>
#include <utility>

namespace bus::devicenet {

std::optional<Fragment> ParseFragment(const CanFrame& frame) {
    if (frame.remote || frame.length < 2 || frame.length > CanFrame::MaxLength)
        return std::nullopt;
    Fragment fragment;
    fragment.header = MessageHeader::Parse(frame.data[0]);
    if (!fragment.header.fragmented)
        return std::nullopt;
    fragment.type = static_cast<FragmentType>(frame.data[1] >> 6);
    fragment.count = frame.data[1] & FragmentCountMask;
    if (fragment.type == FragmentType::Ack) {
        if (frame.length < 3)
            return std::nullopt;
        fragment.ackStatus = frame.data[2];
        return fragment;
    }
    fragment.bytes.assign(frame.data.begin() + 2, frame.data.begin() + frame.length);
    return fragment;
}

CanFrame FragmentFrame(std::uint16_t id, MessageHeader header, FragmentType type,
                       std::uint8_t count, const std::uint8_t* bytes, std::size_t size) {
    header.fragmented = true;
    CanFrame frame;
    frame.id = id;
    frame.data[0] = header.Byte();
    frame.data[1] = static_cast<std::uint8_t>(static_cast<std::uint8_t>(type) << 6 |
                                              (count & FragmentCountMask));
    const std::size_t n = std::min(size, FragmentPayload);
    std::copy(bytes, bytes + n, frame.data.begin() + 2);
    frame.length = static_cast<std::uint8_t>(2 + n);
    return frame;
}

CanFrame AckFrame(std::uint16_t id, MessageHeader header, std::uint8_t count, std::uint8_t status) {
    header.fragmented = true;
    return CanFrame::Data(
        id, {header.Byte(), static_cast<std::uint8_t>(0xC0 | (count & FragmentCountMask)), status});
}

void FragmentSender::Start(std::vector<std::uint8_t> body) {
    body_ = std::move(body);
    index_ = 0;
    active_ = true;
    refusal_ = 0;
}

void FragmentSender::Stop() {
    active_ = false;
    body_.clear();
    index_ = 0;
}

bool FragmentSender::LastInFlight() const {
    return (index_ + 1) * FragmentPayload >= body_.size();
}

CanFrame FragmentSender::Frame(std::uint16_t id, MessageHeader header) const {
    const std::size_t offset = std::min(index_ * FragmentPayload, body_.size());
    const std::size_t n = std::min(FragmentPayload, body_.size() - offset);
    const FragmentType type = index_ == 0      ? FragmentType::First
                              : LastInFlight() ? FragmentType::Last
                                               : FragmentType::Middle;
    return FragmentFrame(id, header, type, Count(), body_.data() + offset, n);
}

FragmentSender::AckResult FragmentSender::OnAck(const Fragment& ack) {
    if (!active_ || ack.type != FragmentType::Ack || ack.count != Count())
        return AckResult::Ignored;
    if (ack.ackStatus != AckStatus::Success) {
        refusal_ = ack.ackStatus;
        Stop();
        return AckResult::Refused;
    }
    if (LastInFlight()) {
        Stop();
        return AckResult::Done;
    }
    ++index_;
    return AckResult::Next;
}

FragmentReceiver::Outcome FragmentReceiver::Accept(const Fragment& fragment) {
    if (fragment.type == FragmentType::Ack)
        return Outcome::Dropped;
    if (fragment.type == FragmentType::First) {
        if (fragment.count != 0) {
            Reset();
            return Outcome::Dropped;
        }
        message_.clear();
        active_ = true;
        lastCount_ = 0;
    } else {
        if (!active_)
            return Outcome::Dropped;
        if (fragment.count == lastCount_)
            return Outcome::Repeat;
        if (fragment.count != ((lastCount_ + 1) & FragmentCountMask)) {
            Reset();
            return Outcome::Dropped;
        }
        lastCount_ = fragment.count;
    }
    if (message_.size() + fragment.bytes.size() > maxSize_) {
        Reset();
        return Outcome::TooMuchData;
    }
    message_.insert(message_.end(), fragment.bytes.begin(), fragment.bytes.end());
    if (fragment.type != FragmentType::Last)
        return Outcome::Taken;
    complete_ = std::move(message_);
    message_.clear();
    active_ = false;
    return Outcome::Complete;
}

std::vector<std::uint8_t> FragmentReceiver::TakeMessage() {
    return std::exchange(complete_, {});
}

void FragmentReceiver::Reset() {
    active_ = false;
    lastCount_ = 0;
    message_.clear();
}

} // namespace bus::devicenet
