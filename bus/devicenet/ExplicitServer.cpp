#include "ExplicitServer.h"

#include <algorithm>

namespace bus::devicenet {

ExplicitServer::ExplicitServer(std::uint8_t mac, ExplicitObjects& objects)
    : mac_(mac & MaxMac), objects_(objects) {}

std::optional<std::uint8_t> ExplicitServer::Master() const {
    if (!allocated_)
        return std::nullopt;
    return holder_;
}

Output ExplicitServer::OnFrame(const CanFrame& frame, TimePoint now) {
    if (frame.remote || frame.length < 2 || frame.length > CanFrame::MaxLength)
        return waiting();
    const auto address = ParseGroup2Id(frame.id);
    if (!address || address->mac != mac_)
        return waiting();
    if (watchdogExpired(now))
        release(); // before the frame is looked at: the connection ran out before it came
    switch (address->message) {
    case Group2Message::UnconnectedRequest:
        return unconnected(frame, now);
    case Group2Message::ExplicitRequest:
        return allocated_ ? connected(frame, now) : waiting();
    default:
        return waiting();
    }
}

Output ExplicitServer::unconnected(const CanFrame& frame, TimePoint now) {
    const MessageHeader head = MessageHeader::Parse(frame.data[0]);
    if (head.fragmented)
        return waiting(); // unconnected requests come whole
    const std::uint8_t* body = frame.data.data() + 1;
    const std::size_t size = frame.length - 1u;
    if ((body[0] & Service::ResponseBit) != 0)
        return waiting();
    std::vector<std::uint8_t> answer;
    const auto request = DecodeRequestBody(body, size);
    bool released = false;
    if (!request)
        answer = EncodeErrorBody(GeneralStatus::NotEnoughData);
    else if (request->service != Service::AllocateMasterSlave &&
             request->service != Service::ReleaseMasterSlave)
        answer = EncodeErrorBody(GeneralStatus::ServiceNotSupported);
    else if (request->classId != DeviceNetClass || request->instance != 1)
        answer = EncodeErrorBody(GeneralStatus::ObjectDoesNotExist);
    else
        answer = connectionSet(head.mac, *request, now, released);
    if (released)
        release();
    return waiting({ExplicitFrame(responseId(), {false, head.xid, head.mac}, answer)});
}

std::vector<std::uint8_t> ExplicitServer::connectionSet(std::uint8_t requester,
                                                        const ExplicitRequest& request,
                                                        TimePoint now, bool& released) {
    const std::vector<std::uint8_t>& data = request.data;
    if (request.service == Service::AllocateMasterSlave) {
        if (data.size() < 2)
            return EncodeErrorBody(GeneralStatus::NotEnoughData);
        if (data.size() > 2)
            return EncodeErrorBody(GeneralStatus::TooMuchData);
        const std::uint8_t choice = data[0];
        const std::uint8_t allocator = data[1];
        if (choice == 0 || !ValidMac(allocator))
            return EncodeErrorBody(GeneralStatus::InvalidParameter);
        if ((choice & ~Allocation::Explicit) != 0)
            return EncodeErrorBody(GeneralStatus::ResourceUnavailable);
        if (allocated_ && holder_ != allocator)
            return EncodeErrorBody(GeneralStatus::ObjectStateConflict, OwnedByAnotherMaster);
        if (allocated_)
            return EncodeErrorBody(GeneralStatus::AlreadyInRequestedState);
        allocated_ = true;
        holder_ = allocator;
        lastActivity_ = now;
        return EncodeResponseBody(Service::AllocateMasterSlave,
                                  {static_cast<std::uint8_t>(BodyFormat::Class8Instance8)});
    }
    // Release.
    if (data.empty())
        return EncodeErrorBody(GeneralStatus::NotEnoughData);
    if (data.size() > 1)
        return EncodeErrorBody(GeneralStatus::TooMuchData);
    const std::uint8_t choice = data[0];
    if (choice == 0)
        return EncodeErrorBody(GeneralStatus::InvalidParameter);
    if ((choice & Allocation::Explicit) == 0 || !allocated_)
        return EncodeErrorBody(GeneralStatus::AlreadyInRequestedState); // nothing of it is held
    if (holder_ != requester)
        return EncodeErrorBody(GeneralStatus::ObjectStateConflict, OwnedByAnotherMaster);
    released = true;
    return EncodeResponseBody(Service::ReleaseMasterSlave, {});
}

Output ExplicitServer::connected(const CanFrame& frame, TimePoint now) {
    const MessageHeader head = MessageHeader::Parse(frame.data[0]);
    if (head.mac != holder_)
        return waiting(); // the connection is another master's
    lastActivity_ = now;
    if (head.fragmented) {
        const auto parsed = ParseFragment(frame);
        if (!parsed)
            return waiting();
        return fragment(*parsed, now);
    }
    endTransfer(); // a new request ends whatever was in progress
    xid_ = head.xid;
    return carryOut(
        std::vector<std::uint8_t>(frame.data.begin() + 1, frame.data.begin() + frame.length), now);
}

Output ExplicitServer::fragment(const Fragment& fragment, TimePoint now) {
    const std::uint16_t id = responseId();
    const MessageHeader reply{true, fragment.header.xid, holder_};
    if (fragment.type == FragmentType::Ack) {
        if (phase_ != Phase::Sending || fragment.header.xid != xid_)
            return waiting();
        switch (sender_.OnAck(fragment)) {
        case FragmentSender::AckResult::Ignored:
            return waiting();
        case FragmentSender::AckResult::Next:
            resent_ = false;
            transferDeadline_ = now + ackTimeout_;
            return waiting({sender_.Frame(id, {false, xid_, holder_})});
        case FragmentSender::AckResult::Done:
        case FragmentSender::AckResult::Refused:
            endTransfer();
            return waiting();
        }
        return waiting();
    }
    if (fragment.type == FragmentType::First) {
        endTransfer();
        phase_ = Phase::Receiving;
        xid_ = fragment.header.xid;
    } else if (phase_ != Phase::Receiving || fragment.header.xid != xid_) {
        return waiting(); // no request of this transaction is being put together
    }
    switch (receiver_.Accept(fragment)) {
    case FragmentReceiver::Outcome::Taken:
    case FragmentReceiver::Outcome::Repeat:
        transferDeadline_ = now + reassemblyTimeout_;
        return waiting({AckFrame(id, reply, fragment.count)});
    case FragmentReceiver::Outcome::Complete: {
        phase_ = Phase::Idle;
        transferDeadline_ = NoDeadline;
        Output out = carryOut(receiver_.TakeMessage(), now);
        out.frames.insert(out.frames.begin(), AckFrame(id, reply, fragment.count));
        return out;
    }
    case FragmentReceiver::Outcome::TooMuchData:
        endTransfer();
        return waiting({AckFrame(id, reply, fragment.count, AckStatus::TooMuchData)});
    case FragmentReceiver::Outcome::Dropped:
        endTransfer();
        return waiting();
    }
    return waiting();
}

Output ExplicitServer::carryOut(const std::vector<std::uint8_t>& body, TimePoint now) {
    const std::uint8_t to = holder_;
    if (body.empty() || (body[0] & Service::ResponseBit) != 0)
        return waiting();
    const auto request = DecodeRequestBody(body.data(), body.size());
    if (!request)
        return respond(EncodeErrorBody(GeneralStatus::NotEnoughData), to, now);
    if (request->classId == DeviceNetClass && request->instance == 1 &&
        (request->service == Service::AllocateMasterSlave ||
         request->service == Service::ReleaseMasterSlave)) {
        bool released = false;
        Output out = respond(connectionSet(holder_, *request, now, released), to, now);
        if (released) {
            release();
            out.deadline = waiting().deadline;
        }
        return out;
    }
    const ServiceResult result =
        objects_.Service(request->service, request->classId, request->instance, request->data);
    return respond(result.ok() ? EncodeResponseBody(request->service, result.data)
                               : EncodeErrorBody(result.generalStatus, result.additionalCode),
                   to, now);
}

Output ExplicitServer::respond(std::vector<std::uint8_t> body, std::uint8_t to, TimePoint now) {
    const std::uint16_t id = responseId();
    const MessageHeader head{false, xid_, to};
    if (body.size() <= MaxUnfragmentedBody)
        return waiting({ExplicitFrame(id, head, body)});
    sender_.Start(std::move(body));
    phase_ = Phase::Sending;
    resent_ = false;
    transferDeadline_ = now + ackTimeout_;
    return waiting({sender_.Frame(id, head)});
}

Output ExplicitServer::OnTime(TimePoint now) {
    std::vector<CanFrame> frames;
    if (phase_ != Phase::Idle && now >= transferDeadline_) {
        if (phase_ == Phase::Sending && !resent_) {
            resent_ = true;
            transferDeadline_ = now + ackTimeout_;
            frames.push_back(sender_.Frame(responseId(), {false, xid_, holder_}));
        } else {
            endTransfer();
        }
    }
    if (watchdogExpired(now)) {
        release();
        frames.clear(); // the connection is gone, and what it carried with it
    }
    return waiting(std::move(frames));
}

bool ExplicitServer::watchdogExpired(TimePoint now) const {
    return allocated_ && inactivityTimeout_ > std::chrono::milliseconds::zero() &&
           now - lastActivity_ >= inactivityTimeout_;
}

void ExplicitServer::Reset() {
    release();
}

void ExplicitServer::endTransfer() {
    phase_ = Phase::Idle;
    transferDeadline_ = NoDeadline;
    receiver_.Reset();
    sender_.Stop();
    resent_ = false;
}

void ExplicitServer::release() {
    endTransfer();
    allocated_ = false;
    holder_ = 0;
}

Output ExplicitServer::waiting(std::vector<CanFrame> frames) const {
    TimePoint deadline = phase_ != Phase::Idle ? transferDeadline_ : NoDeadline;
    if (allocated_ && inactivityTimeout_ > std::chrono::milliseconds::zero())
        deadline = std::min(deadline, lastActivity_ + inactivityTimeout_);
    return Output{std::move(frames), deadline};
}

} // namespace bus::devicenet
