#include "DuplicateMac.h"

#include <utility>

namespace bus::devicenet {

CanFrame EncodeDuplicateMac(std::uint8_t mac, const DuplicateMacMessage& message) {
    const std::uint32_t serial = message.serialNumber;
    return CanFrame::Data(
        Group2Id(mac, Group2Message::DuplicateMacCheck),
        {static_cast<std::uint8_t>((message.response ? 0x80 : 0) | (message.port & 0x7F)),
         static_cast<std::uint8_t>(message.vendorId),
         static_cast<std::uint8_t>(message.vendorId >> 8), static_cast<std::uint8_t>(serial),
         static_cast<std::uint8_t>(serial >> 8), static_cast<std::uint8_t>(serial >> 16),
         static_cast<std::uint8_t>(serial >> 24)});
}

std::optional<DuplicateMacFrame> DecodeDuplicateMac(const CanFrame& frame) {
    const auto address = ParseGroup2Id(frame.id);
    if (!address || address->message != Group2Message::DuplicateMacCheck || frame.remote ||
        frame.length != 7)
        return std::nullopt;
    DuplicateMacMessage message;
    message.response = (frame.data[0] & 0x80) != 0;
    message.port = frame.data[0] & 0x7F;
    message.vendorId = static_cast<std::uint16_t>(frame.data[1] | frame.data[2] << 8);
    message.serialNumber = static_cast<std::uint32_t>(frame.data[3]) |
                           static_cast<std::uint32_t>(frame.data[4]) << 8 |
                           static_cast<std::uint32_t>(frame.data[5]) << 16 |
                           static_cast<std::uint32_t>(frame.data[6]) << 24;
    return DuplicateMacFrame{address->mac, message};
}

std::optional<CanFrame> AnswerDuplicateMac(const CanFrame& frame, std::uint8_t mac,
                                           const DuplicateMacMessage& self) {
    const auto check = DecodeDuplicateMac(frame);
    if (!check || check->mac != mac || check->message.response)
        return std::nullopt;
    DuplicateMacMessage answer = self;
    answer.response = true;
    return EncodeDuplicateMac(mac, answer);
}

DuplicateMacCheck::DuplicateMacCheck(std::uint8_t mac, std::uint8_t port, std::uint16_t vendorId,
                                     std::uint32_t serialNumber)
    : mac_(mac & MaxMac), self_{false, static_cast<std::uint8_t>(port & 0x7F), vendorId,
                                serialNumber} {}

Output DuplicateMacCheck::Start(TimePoint now) {
    state_ = MacCheckState::Checking;
    other_.reset();
    requestsSent_ = 1;
    deadline_ = now + RequestInterval;
    return output({EncodeDuplicateMac(mac_, self_)});
}

void DuplicateMacCheck::SetOnline() {
    state_ = MacCheckState::Online;
    other_.reset();
    deadline_ = NoDeadline;
}

Output DuplicateMacCheck::OnFrame(const CanFrame& frame, TimePoint) {
    const auto check = DecodeDuplicateMac(frame);
    if (!check || check->mac != mac_)
        return output();
    switch (state_) {
    case MacCheckState::Checking:
        state_ = MacCheckState::Duplicate;
        other_ = check->message;
        deadline_ = NoDeadline;
        return output();
    case MacCheckState::Online:
        if (check->message.response) {
            state_ = MacCheckState::Duplicate;
            other_ = check->message;
            return output();
        }
        return output({*AnswerDuplicateMac(frame, mac_, self_)});
    case MacCheckState::Idle:
    case MacCheckState::Duplicate:
        break;
    }
    return output();
}

Output DuplicateMacCheck::OnTime(TimePoint now) {
    if (state_ != MacCheckState::Checking || now < deadline_)
        return output();
    if (requestsSent_ < 2) {
        ++requestsSent_;
        deadline_ = now + RequestInterval;
        return output({EncodeDuplicateMac(mac_, self_)});
    }
    state_ = MacCheckState::Online;
    deadline_ = NoDeadline;
    return output();
}

Output DuplicateMacCheck::output(std::vector<CanFrame> frames) const {
    return Output{std::move(frames), deadline_};
}

} // namespace bus::devicenet
