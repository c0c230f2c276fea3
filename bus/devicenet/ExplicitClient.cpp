#include "ExplicitClient.h"

#include <utility>

namespace bus::devicenet {

const char* ExplicitFailureText(ExplicitFailure failure) {
    switch (failure) {
    case ExplicitFailure::None:
        return "no failure";
    case ExplicitFailure::ErrorResponse:
        return "the node answered with an error response";
    case ExplicitFailure::Timeout:
        return "the node did not answer in time";
    case ExplicitFailure::RequestTooLong:
        return "the node refused the request as too much data";
    case ExplicitFailure::ResponseTooLong:
        return "the response was longer than allowed";
    case ExplicitFailure::FragmentLost:
        return "a fragment of the response was lost";
    case ExplicitFailure::BadResponse:
        return "the node's answer does not fit the request";
    case ExplicitFailure::InvalidRequest:
        return "the request cannot be sent";
    case ExplicitFailure::Cancelled:
        return "cancelled";
    }
    return "unknown failure";
}

ExplicitClient::ExplicitClient(std::uint8_t masterMac, std::uint8_t node,
                               std::chrono::milliseconds timeout)
    : masterMac_(masterMac & MaxMac), node_(node & MaxMac), timeout_(timeout) {}

std::optional<Output> ExplicitClient::begin(Operation operation, TimePoint now) {
    if (Busy())
        return std::nullopt;
    result_ = ExplicitResult{};
    result_.status = ExplicitStatus::Running;
    operation_ = operation;
    sender_.Stop();
    receiver_.Reset();
    if (operation == Operation::Release) {
        phase_ = Phase::Releasing;
        xid_ = !xid_;
        const std::vector<std::uint8_t> body{Service::ReleaseMasterSlave, DeviceNetClass, 0x01,
                                             Allocation::Explicit};
        return wait(
            {ExplicitFrame(Group2Id(node_, Group2Message::UnconnectedRequest), header(), body)},
            now);
    }
    if (operation == Operation::Allocate || needsAllocation(now))
        return sendAllocate(now);
    return sendRequest(now);
}

std::optional<Output> ExplicitClient::StartAllocate(TimePoint now) {
    return begin(Operation::Allocate, now);
}

std::optional<Output> ExplicitClient::StartRelease(TimePoint now) {
    return begin(Operation::Release, now);
}

std::optional<Output> ExplicitClient::StartRequest(std::uint8_t service, std::uint16_t classId,
                                                   std::uint16_t instance,
                                                   std::vector<std::uint8_t> data, TimePoint now) {
    if (Busy())
        return std::nullopt;
    request_ = ExplicitRequest{service, classId, instance, std::move(data)};
    if ((service & Service::ResponseBit) != 0 || !EncodeRequestBody(request_, format_)) {
        result_ = ExplicitResult{};
        return fail(ExplicitFailure::InvalidRequest); // refused before anything is sent
    }
    return begin(Operation::Request, now);
}

std::optional<Output> ExplicitClient::StartGetAttribute(std::uint16_t classId,
                                                        std::uint16_t instance,
                                                        std::uint8_t attribute, TimePoint now) {
    return StartRequest(Service::GetAttributeSingle, classId, instance, {attribute}, now);
}

std::optional<Output> ExplicitClient::StartSetAttribute(std::uint16_t classId,
                                                        std::uint16_t instance,
                                                        std::uint8_t attribute,
                                                        const std::vector<std::uint8_t>& value,
                                                        TimePoint now) {
    std::vector<std::uint8_t> data;
    data.reserve(1 + value.size());
    data.push_back(attribute);
    data.insert(data.end(), value.begin(), value.end());
    return StartRequest(Service::SetAttributeSingle, classId, instance, std::move(data), now);
}

bool ExplicitClient::needsAllocation(TimePoint now) const {
    if (!allocated_)
        return true;
    return reallocateAfter_ > std::chrono::milliseconds::zero() &&
           now - lastHeard_ >= reallocateAfter_;
}

Output ExplicitClient::sendAllocate(TimePoint now) {
    phase_ = Phase::Allocating;
    xid_ = !xid_;
    const std::vector<std::uint8_t> body{Service::AllocateMasterSlave, DeviceNetClass, 0x01,
                                         Allocation::Explicit, masterMac_};
    return wait({ExplicitFrame(Group2Id(node_, Group2Message::UnconnectedRequest), header(), body)},
                now);
}

Output ExplicitClient::sendRequest(TimePoint now) {
    const auto body = EncodeRequestBody(request_, format_);
    if (!body)
        return fail(ExplicitFailure::InvalidRequest);
    xid_ = !xid_;
    const std::uint16_t id = Group2Id(node_, Group2Message::ExplicitRequest);
    if (body->size() <= MaxUnfragmentedBody) {
        phase_ = Phase::Awaiting;
        return wait({ExplicitFrame(id, header(), *body)}, now);
    }
    phase_ = Phase::Sending;
    resent_ = false;
    sender_.Start(*body);
    return wait({sender_.Frame(id, header())}, now);
}

Output ExplicitClient::OnFrame(const CanFrame& frame, TimePoint now) {
    if (!Busy() || frame.id != Group2Id(node_, Group2Message::SlaveResponse) || frame.remote ||
        frame.length < 2 || frame.length > CanFrame::MaxLength)
        return Output{{}, deadline_};
    const MessageHeader head = MessageHeader::Parse(frame.data[0]);
    if (head.mac != masterMac_)
        return Output{{}, deadline_}; // an answer to another master
    if (head.xid != xid_)
        return Output{{}, deadline_}; // an answer to an earlier request
    if (phase_ == Phase::Allocating || phase_ == Phase::Releasing)
        return head.fragmented ? Output{{}, deadline_} : onUnconnectedAnswer(frame, now);
    if (head.fragmented) {
        const auto fragment = ParseFragment(frame);
        if (!fragment)
            return Output{{}, deadline_};
        return onFragment(*fragment, now);
    }
    if (phase_ == Phase::Sending && !sender_.LastInFlight())
        // The request is still going out: the node cannot have answered it yet, so this is a
        // late answer to an earlier request with the same XID.
        return Output{{}, deadline_};
    if (phase_ == Phase::Sending || phase_ == Phase::Awaiting) {
        // While the last fragment waits for its acknowledgement, a response still counts: the
        // node has had the whole request, and its acknowledgement was lost.
        sender_.Stop();
        return onResponse(frame.data.data() + 1, frame.length - 1u, now);
    }
    return Output{{}, deadline_};
}

Output ExplicitClient::onUnconnectedAnswer(const CanFrame& frame, TimePoint now) {
    const std::uint8_t service = frame.data[1];
    if (service == Service::ErrorResponse) {
        if (frame.length < 3)
            return fail(ExplicitFailure::BadResponse);
        const std::uint8_t general = frame.data[2];
        const std::uint8_t additional = frame.length >= 4 ? frame.data[3] : NoAdditionalCode;
        lastHeard_ = now;
        if (general == GeneralStatus::AlreadyInRequestedState) {
            // Allocated to this master, or released already.
            allocated_ = phase_ == Phase::Allocating;
            if (phase_ == Phase::Allocating && operation_ == Operation::Request)
                return sendRequest(now);
            return finish({});
        }
        allocated_ = false; // refused: the connection is not this master's
        result_.duringAllocation = operation_ == Operation::Request;
        return fail(ExplicitFailure::ErrorResponse, general, additional);
    }
    if (phase_ == Phase::Releasing) {
        if (service != (Service::ReleaseMasterSlave | Service::ResponseBit))
            return Output{{}, deadline_};
        lastHeard_ = now;
        allocated_ = false;
        return finish({});
    }
    if (service != (Service::AllocateMasterSlave | Service::ResponseBit))
        return Output{{}, deadline_}; // a late answer on the connection
    lastHeard_ = now;
    const std::uint8_t formatByte = frame.length >= 3 ? frame.data[2] : 0;
    if ((formatByte & 0x0F) > static_cast<std::uint8_t>(BodyFormat::Class16Instance8)) {
        allocated_ = false;
        result_.duringAllocation = operation_ == Operation::Request;
        return fail(ExplicitFailure::BadResponse);
    }
    allocated_ = true;
    format_ = static_cast<BodyFormat>(formatByte & 0x0F);
    if (operation_ == Operation::Request)
        return sendRequest(now);
    return finish({formatByte});
}

Output ExplicitClient::onFragment(const Fragment& fragment, TimePoint now) {
    if (fragment.type == FragmentType::Ack) {
        if (phase_ != Phase::Sending)
            return Output{{}, deadline_};
        switch (sender_.OnAck(fragment)) {
        case FragmentSender::AckResult::Ignored:
            return Output{{}, deadline_};
        case FragmentSender::AckResult::Next:
            lastHeard_ = now;
            resent_ = false;
            return wait({sender_.Frame(Group2Id(node_, Group2Message::ExplicitRequest), header())},
                        now);
        case FragmentSender::AckResult::Done:
            lastHeard_ = now;
            phase_ = Phase::Awaiting;
            return wait({}, now);
        case FragmentSender::AckResult::Refused:
            lastHeard_ = now;
            return fail(ExplicitFailure::RequestTooLong);
        }
        return Output{{}, deadline_};
    }
    if (phase_ == Phase::Sending && sender_.LastInFlight() &&
        fragment.type == FragmentType::First) {
        sender_.Stop(); // the response begins: the last fragment has arrived
        phase_ = Phase::Awaiting;
    }
    if (phase_ == Phase::Awaiting && fragment.type == FragmentType::First)
        phase_ = Phase::Receiving;
    if (phase_ != Phase::Receiving)
        return Output{{}, deadline_};
    return onReceiving(fragment, now);
}

Output ExplicitClient::onReceiving(const Fragment& fragment, TimePoint now) {
    const std::uint16_t id = Group2Id(node_, Group2Message::ExplicitRequest);
    const FragmentReceiver::Outcome outcome = receiver_.Accept(fragment);
    switch (outcome) {
    case FragmentReceiver::Outcome::Taken:
    case FragmentReceiver::Outcome::Repeat:
        lastHeard_ = now;
        return wait({AckFrame(id, header(), fragment.count)}, now);
    case FragmentReceiver::Outcome::Complete: {
        lastHeard_ = now;
        const std::vector<std::uint8_t> body = receiver_.TakeMessage();
        Output out = onResponse(body.data(), body.size(), now);
        out.frames.insert(out.frames.begin(), AckFrame(id, header(), fragment.count));
        return out;
    }
    case FragmentReceiver::Outcome::TooMuchData: {
        Output out = fail(ExplicitFailure::ResponseTooLong);
        out.frames.push_back(AckFrame(id, header(), fragment.count, AckStatus::TooMuchData));
        return out;
    }
    case FragmentReceiver::Outcome::Dropped:
        return fail(ExplicitFailure::FragmentLost);
    }
    return Output{{}, deadline_};
}

Output ExplicitClient::onResponse(const std::uint8_t* body, std::size_t size, TimePoint now) {
    lastHeard_ = now;
    if (size == 0)
        return fail(ExplicitFailure::BadResponse);
    if (body[0] == Service::ErrorResponse) {
        if (size < 2)
            return fail(ExplicitFailure::BadResponse);
        return fail(ExplicitFailure::ErrorResponse, body[1],
                    size >= 3 ? body[2] : NoAdditionalCode);
    }
    if (body[0] != (request_.service | Service::ResponseBit))
        return fail(ExplicitFailure::BadResponse);
    if (request_.service == Service::Reset && request_.classId == IdentityClass)
        allocated_ = false; // the node restarts, and its connections with it
    return finish(std::vector<std::uint8_t>(body + 1, body + size));
}

Output ExplicitClient::OnTime(TimePoint now) {
    if (!Busy() || now < deadline_)
        return Output{{}, deadline_};
    if (phase_ == Phase::Sending && !resent_) {
        resent_ = true;
        return wait({sender_.Frame(Group2Id(node_, Group2Message::ExplicitRequest), header())},
                    now);
    }
    result_.duringAllocation = phase_ == Phase::Allocating && operation_ == Operation::Request;
    allocated_ = false; // whether the node still holds the connection is not known
    return fail(ExplicitFailure::Timeout);
}

Output ExplicitClient::Cancel() {
    if (!Busy())
        return Output{};
    return fail(ExplicitFailure::Cancelled);
}

Output ExplicitClient::wait(std::vector<CanFrame> frames, TimePoint now) {
    deadline_ = now + timeout_;
    return Output{std::move(frames), deadline_};
}

Output ExplicitClient::finish(std::vector<std::uint8_t> data) {
    result_.status = ExplicitStatus::Done;
    result_.data = std::move(data);
    phase_ = Phase::Idle;
    deadline_ = NoDeadline;
    sender_.Stop();
    receiver_.Reset();
    return Output{};
}

Output ExplicitClient::fail(ExplicitFailure failure, std::uint8_t general,
                            std::uint8_t additional) {
    result_.status = ExplicitStatus::Failed;
    result_.failure = failure;
    result_.generalStatus = general;
    result_.additionalCode = additional;
    result_.data.clear();
    phase_ = Phase::Idle;
    deadline_ = NoDeadline;
    sender_.Stop();
    receiver_.Reset();
    return Output{};
}

} // namespace bus::devicenet
