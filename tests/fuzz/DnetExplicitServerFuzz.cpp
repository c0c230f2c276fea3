// The DeviceNet explicit server fed any frames and time steps.
//
// Promises checked:
// - the connection set: Allocate and Release on the unconnected identifier are answered by
//   the rules of the server's header (granted only while free, with choice 0x01 and a valid
//   allocator; 0x0B, 0x0C/0x01, 0x02, 0x20, 0x13, 0x15 otherwise), the answer goes to the
//   requester with its XID, and Allocated()/Master() follow;
// - the node's objects see only whole requests from the holder: an unfragmented request's
//   own body, or the bytes of the fragments the server acknowledged (repeats once), ending
//   with a last fragment;
// - a response goes to the holder with the request's XID and is, put together from its
//   fragments, exactly what the objects answered;
// - the inactivity watchdog: the connection is released once the holder has been silent on
//   it for the inactivity time, and not before;
// - the server sends only on its response identifier, frames of 2 to 8 bytes.
//
// Input: a header, then operations until the input ends.
//   header  the server's MAC ID (byte % 64)
//   op      one byte, the operation in its low four bits; bit 4 picks the holder's MAC ID
//           (when one holds the connection) instead of the MAC ID byte that follows
//     0 an unconnected request: MAC ID, XID bit, body (length byte % 8, bytes)
//     1 allocate: MAC ID, XID bit, choice byte, allocator byte
//     2 release: MAC ID, XID bit, choice byte
//     3 a request on the connection: MAC ID, XID bit, body (length byte % 8, bytes)
//     4 a fragmented request on the connection: MAC ID, XID bit, service, class, instance,
//       data (length byte % 64, bytes), then a byte: bit i set loses fragment i % 8
//     5 a made-up fragment on the connection: MAC ID, XID bit, fragment byte, bytes (% 7)
//     6 acknowledge the response fragment last received, from the holder
//     7 a made-up acknowledgement from the holder: XID bit, count byte, status byte
//     8 time passes: 2 bytes of milliseconds, % 12000
//     9 any frame: id (2 bytes), length byte (% 10: 9 is a remote request), 8 bytes
//     10 the node restarts (Reset)
//     others: nothing
// The objects answer class 0x66 with error 0x14, any other with (instance % 100) bytes.

#include "FuzzCheck.h"
#include "FuzzFrames.h"
#include "FuzzInput.h"
#include "devicenet/ExplicitServer.h"

#include <optional>

using namespace bus;
using namespace bus::devicenet;

namespace {

constexpr auto Inactivity = ExplicitServer::DefaultInactivityTimeout;

struct Call {
    std::uint8_t service;
    std::uint16_t classId;
    std::uint16_t instance;
    std::vector<std::uint8_t> data;
    bool operator==(const Call&) const = default;
};

ServiceResult answerTo(const Call& call) {
    if (call.classId == 0x66)
        return ServiceResult::Error(GeneralStatus::AttributeNotSupported);
    std::vector<std::uint8_t> data(call.instance % 100);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(call.classId + 11 * i);
    return ServiceResult::Ok(data);
}

class Objects : public ExplicitObjects {
public:
    std::vector<Call> calls;
    ServiceResult Service(std::uint8_t service, std::uint16_t classId, std::uint16_t instance,
                          const std::vector<std::uint8_t>& request) override {
        calls.push_back({service, classId, instance, request});
        return answerTo(calls.back());
    }
};

class Harness {
public:
    explicit Harness(FuzzInput& in)
        : in_(in), mac_(in.Byte() % 64), server_(mac_, objects_),
          requestId_(Group2Id(mac_, Group2Message::ExplicitRequest)),
          unconnectedId_(Group2Id(mac_, Group2Message::UnconnectedRequest)),
          responseId_(Group2Id(mac_, Group2Message::SlaveResponse)) {}

    void Run() {
        while (!in_.Empty())
            step(in_.Byte());
    }

private:
    std::uint8_t mac(std::uint8_t op) {
        if ((op & 0x10) && allocated_)
            return holder_;
        return in_.Byte() % 64;
    }

    void step(std::uint8_t op) {
        switch (op & 0x0F) {
        case 0: {
            const std::uint8_t from = mac(op);
            const bool xid = in_.Bit();
            unconnected(from, xid, in_.Run(7));
            break;
        }
        case 1: {
            const std::uint8_t from = mac(op);
            const bool xid = in_.Bit();
            const std::uint8_t choice = in_.Byte();
            const std::uint8_t allocator = in_.Byte();
            unconnected(from, xid,
                        {Service::AllocateMasterSlave, DeviceNetClass, 1, choice, allocator});
            break;
        }
        case 2: {
            const std::uint8_t from = mac(op);
            const bool xid = in_.Bit();
            unconnected(from, xid, {Service::ReleaseMasterSlave, DeviceNetClass, 1, in_.Byte()});
            break;
        }
        case 3: {
            const std::uint8_t from = mac(op);
            const bool xid = in_.Bit();
            auto body = in_.Run(7);
            if (body.empty())
                body.push_back(Service::GetAttributeSingle);
            send(ExplicitFrame(requestId_, {false, xid, from}, body));
            break;
        }
        case 4:
            fragmented(op);
            break;
        case 5: {
            const std::uint8_t from = mac(op);
            const bool xid = in_.Bit();
            const std::uint8_t fragmentByte = in_.Byte();
            const auto bytes = in_.Run(6);
            send(FragmentFrame(requestId_, {true, xid, from},
                               static_cast<FragmentType>(fragmentByte >> 6),
                               fragmentByte & FragmentCountMask, bytes.data(), bytes.size()));
            break;
        }
        case 6:
            if (response_ && response_->fragmented)
                send(AckFrame(requestId_, {true, response_->xid, holder_}, response_->count));
            break;
        case 7: {
            const bool xid = in_.Bit();
            const std::uint8_t count = in_.Byte();
            const std::uint8_t status = in_.Byte();
            send(AckFrame(requestId_, {true, xid, holder_}, count, status));
            break;
        }
        case 8:
            advance(std::chrono::milliseconds(in_.Word() % 12000));
            break;
        case 9:
            send(AnyFrame(in_));
            break;
        case 10:
            server_.Reset();
            allocated_ = false;
            request_.reset();
            response_.reset();
            break;
        default:
            break;
        }
    }

    void unconnected(std::uint8_t from, bool xid, const std::vector<std::uint8_t>& body) {
        const CanFrame frame = ExplicitFrame(unconnectedId_, {false, xid, from}, body);
        send(frame);
    }

    // A whole request cut into fragments, some of them lost; the server's acknowledgements
    // are checked as they come.
    void fragmented(std::uint8_t op) {
        const std::uint8_t from = mac(op);
        const bool xid = in_.Bit();
        const std::uint8_t service = in_.Byte();
        const std::uint8_t classId = in_.Byte();
        const std::uint8_t instance = in_.Byte();
        auto data = in_.Run(63);
        const std::uint8_t lost = in_.Byte();
        std::vector<std::uint8_t> body{service, classId, instance};
        body.insert(body.end(), data.begin(), data.end());
        FragmentSender sender;
        sender.Start(body);
        for (int i = 0; sender.Active() && i < 64; ++i) {
            const CanFrame frame = sender.Frame(requestId_, {true, xid, from});
            if (lost & (1u << (i % 8)))
                continue;
            send(frame);
            Fragment ack;
            ack.type = FragmentType::Ack;
            ack.count = sender.Count();
            if (sender.OnAck(ack) == FragmentSender::AckResult::Done)
                break;
        }
    }

    void send(const CanFrame& frame) {
        objects_.calls.clear();
        const bool watchdogDue = watchdogDue_();
        const Output out = server_.OnFrame(frame, now_);
        const bool forServer = !frame.remote && frame.length >= 2 && frame.length <= 8 &&
                               ParseGroup2Id(frame.id) && ParseGroup2Id(frame.id)->mac == mac_;
        if (forServer && watchdogDue) {
            allocated_ = false; // released before the frame was looked at
            request_.reset();
            response_.reset();
        }
        if (!forServer) {
            FUZZ_CHECK(out.frames.empty() && objects_.calls.empty(),
                       "frames not for the server change nothing");
            checkOutput(out);
            return;
        }
        const MessageHeader head = MessageHeader::Parse(frame.data[0]);
        if (frame.id == unconnectedId_)
            onUnconnected(frame, head, out);
        else if (frame.id == requestId_)
            onConnected(frame, head, out);
        else
            FUZZ_CHECK(out.frames.empty() && objects_.calls.empty(),
                       "only the request identifiers are served");
        checkOutput(out);
    }

    bool watchdogDue_() const { return allocated_ && now_ - lastActivity_ >= Inactivity; }

    void onUnconnected(const CanFrame& frame, MessageHeader head, const Output& out) {
        FUZZ_CHECK(objects_.calls.empty(), "unconnected requests never reach the objects");
        const std::uint8_t* body = frame.data.data() + 1;
        const std::size_t size = frame.length - 1u;
        if (head.fragmented || (body[0] & Service::ResponseBit)) {
            FUZZ_CHECK(out.frames.empty(), "fragments and responses are not answered there");
            return;
        }
        FUZZ_CHECK(out.frames.size() == 1, "an unconnected request is answered once");
        const CanFrame& answer = out.frames.front();
        const MessageHeader answerHead = MessageHeader::Parse(answer.data[0]);
        FUZZ_CHECK(answer.id == responseId_ && !answerHead.fragmented &&
                       answerHead.mac == head.mac && answerHead.xid == head.xid,
                   "the answer goes to the requester with its XID");
        const std::vector<std::uint8_t> got(answer.data.begin() + 1,
                                            answer.data.begin() + answer.length);
        const auto request = DecodeRequestBody(body, size);
        std::vector<std::uint8_t> expected;
        if (!request)
            expected = EncodeErrorBody(GeneralStatus::NotEnoughData);
        else if (request->service != Service::AllocateMasterSlave &&
                 request->service != Service::ReleaseMasterSlave)
            expected = EncodeErrorBody(GeneralStatus::ServiceNotSupported);
        else if (request->classId != DeviceNetClass || request->instance != 1)
            expected = EncodeErrorBody(GeneralStatus::ObjectDoesNotExist);
        else
            expected = connectionSet(head.mac, *request);
        FUZZ_CHECK(got == expected, "the connection set answers by its rules");
        FUZZ_CHECK(server_.Allocated() == allocated_ &&
                       (!allocated_ || server_.Master() == holder_),
                   "the connection is held by the master it was granted to");
    }

    // The connection set's rules, as the server's header states them.
    std::vector<std::uint8_t> connectionSet(std::uint8_t requester, const ExplicitRequest& r) {
        const auto& data = r.data;
        if (r.service == Service::AllocateMasterSlave) {
            if (data.size() < 2)
                return EncodeErrorBody(GeneralStatus::NotEnoughData);
            if (data.size() > 2)
                return EncodeErrorBody(GeneralStatus::TooMuchData);
            if (data[0] == 0 || !ValidMac(data[1]))
                return EncodeErrorBody(GeneralStatus::InvalidParameter);
            if (data[0] != Allocation::Explicit)
                return EncodeErrorBody(GeneralStatus::ResourceUnavailable);
            if (allocated_)
                return holder_ != data[1] ? EncodeErrorBody(GeneralStatus::ObjectStateConflict,
                                                            OwnedByAnotherMaster)
                                          : EncodeErrorBody(GeneralStatus::AlreadyInRequestedState);
            allocated_ = true;
            holder_ = data[1];
            lastActivity_ = now_;
            return {Service::AllocateMasterSlave | Service::ResponseBit, 0};
        }
        if (data.empty())
            return EncodeErrorBody(GeneralStatus::NotEnoughData);
        if (data.size() > 1)
            return EncodeErrorBody(GeneralStatus::TooMuchData);
        if (data[0] == 0)
            return EncodeErrorBody(GeneralStatus::InvalidParameter);
        if (!(data[0] & Allocation::Explicit) || !allocated_)
            return EncodeErrorBody(GeneralStatus::AlreadyInRequestedState);
        if (holder_ != requester)
            return EncodeErrorBody(GeneralStatus::ObjectStateConflict, OwnedByAnotherMaster);
        allocated_ = false;
        request_.reset();
        response_.reset();
        return {Service::ReleaseMasterSlave | Service::ResponseBit};
    }

    void onConnected(const CanFrame& frame, MessageHeader head, const Output& out) {
        if (!allocated_ || head.mac != holder_) {
            FUZZ_CHECK(out.frames.empty() && objects_.calls.empty(),
                       "only the holder's requests on the connection are served");
            return;
        }
        lastActivity_ = now_;
        FUZZ_CHECK(objects_.calls.size() <= 1, "one frame carries out at most one request");
        std::size_t next = 0; // the output frame to look at next
        std::optional<std::vector<std::uint8_t>> whole;
        if (head.fragmented) {
            const auto fragment = ParseFragment(frame);
            if (!fragment) {
                FUZZ_CHECK(out.frames.empty() && objects_.calls.empty(),
                           "a frame that is no fragment is dropped");
                return;
            }
            if (fragment->type == FragmentType::Ack) {
                onAck(*fragment, out);
                return;
            }
            whole = onFragment(*fragment, out, next);
        } else {
            response_.reset();
            request_.reset();
            whole = std::vector<std::uint8_t>(frame.data.begin() + 1,
                                              frame.data.begin() + frame.length);
            requestXid_ = head.xid;
        }
        const auto decoded = whole ? DecodeRequestBody(whole->data(), whole->size()) : std::nullopt;
        if (decoded && decoded->classId == DeviceNetClass && decoded->instance == 1 &&
            (decoded->service == Service::AllocateMasterSlave ||
             decoded->service == Service::ReleaseMasterSlave) &&
            !((*whole)[0] & Service::ResponseBit)) {
            FUZZ_CHECK(objects_.calls.empty() && next < out.frames.size(),
                       "the connection set answers on the connection too");
            const CanFrame& answer = out.frames[next++];
            checkResponseHead(answer, false);
            FUZZ_CHECK(std::vector<std::uint8_t>(answer.data.begin() + 1,
                                                 answer.data.begin() + answer.length) ==
                           connectionSet(holder_, *decoded),
                       "the connection set answers by its rules");
        } else if (!objects_.calls.empty()) {
            FUZZ_CHECK(whole.has_value(), "only a whole request reaches the objects");
            FUZZ_CHECK(decoded.has_value(), "only a request that decodes reaches the objects");
            const Call& call = objects_.calls.front();
            FUZZ_CHECK(call == (Call{decoded->service, decoded->classId, decoded->instance,
                                     decoded->data}),
                       "the objects see the request exactly as the holder sent it");
            const ServiceResult result = answerTo(call);
            expectResponse(result.ok()
                               ? EncodeResponseBody(call.service, result.data)
                               : EncodeErrorBody(result.generalStatus, result.additionalCode),
                           out, next);
        } else if (whole && next < out.frames.size()) {
            // Answered by the connection set, or refused: a short answer, still to the holder.
            checkResponseHead(out.frames[next], false);
            ++next;
        }
        FUZZ_CHECK(next == out.frames.size() || (response_ && response_->fragmented),
                   "a request is answered with one response");
    }

    // A request fragment: its acknowledgement checked; the whole request when it was the last.
    std::optional<std::vector<std::uint8_t>> onFragment(const Fragment& fragment, const Output& out,
                                                        std::size_t& next) {
        if (fragment.type == FragmentType::First) {
            response_.reset();
            request_ = Assembly{fragment.header.xid, fragment.count, {}};
            if (fragment.count != 0)
                request_.reset();
        } else if (!request_ || request_->xid != fragment.header.xid) {
            FUZZ_CHECK(out.frames.empty() && objects_.calls.empty(),
                       "a fragment of no request being put together is dropped");
            return std::nullopt;
        }
        if (out.frames.empty()) {
            FUZZ_CHECK(objects_.calls.empty(), "an unacknowledged fragment completes nothing");
            request_.reset();
            return std::nullopt;
        }
        const auto ack = ParseFragment(out.frames.front());
        FUZZ_CHECK(ack && ack->type == FragmentType::Ack && ack->count == fragment.count &&
                       ack->header.xid == fragment.header.xid && ack->header.mac == holder_,
                   "a fragment is acknowledged with its count and XID, to the holder");
        next = 1;
        if (ack->ackStatus != AckStatus::Success) {
            FUZZ_CHECK(objects_.calls.empty() && out.frames.size() == 1,
                       "a refused request is not carried out");
            request_.reset();
            return std::nullopt;
        }
        FUZZ_CHECK(request_.has_value(), "only a fragment of a request begun is acknowledged");
        request_->deadline = now_ + ExplicitServer::DefaultReassemblyTimeout;
        const bool repeat =
            fragment.type != FragmentType::First && fragment.count == request_->lastCount;
        if (!repeat) {
            request_->lastCount = fragment.count;
            request_->bytes.insert(request_->bytes.end(), fragment.bytes.begin(),
                                   fragment.bytes.end());
        }
        if (fragment.type != FragmentType::Last || repeat) {
            FUZZ_CHECK(objects_.calls.empty() && out.frames.size() == 1,
                       "a request is carried out only at its last fragment");
            return std::nullopt;
        }
        auto whole = std::move(request_->bytes);
        requestXid_ = request_->xid;
        request_.reset();
        return whole;
    }

    void expectResponse(std::vector<std::uint8_t> body, const Output& out, std::size_t& next) {
        FUZZ_CHECK(next < out.frames.size(), "a request carried out is answered");
        const CanFrame& frame = out.frames[next++];
        const bool fragmented = body.size() > MaxUnfragmentedBody;
        checkResponseHead(frame, fragmented);
        response_ = Response{requestXid_, fragmented, 0, std::move(body), {}};
        response_->deadline = now_ + ExplicitServer::DefaultAckTimeout;
        if (!fragmented) {
            FUZZ_CHECK(std::vector<std::uint8_t>(frame.data.begin() + 1,
                                                 frame.data.begin() + frame.length) ==
                           response_->expected,
                       "a response is what the objects answered");
            response_.reset();
            return;
        }
        onResponseFragment(frame);
    }

    void checkResponseHead(const CanFrame& frame, bool fragmented) {
        const MessageHeader head = MessageHeader::Parse(frame.data[0]);
        FUZZ_CHECK(head.mac == holder_ && head.xid == requestXid_ && head.fragmented == fragmented,
                   "a response goes to the holder with the request's XID");
    }

    void onResponseFragment(const CanFrame& frame) {
        const auto fragment = ParseFragment(frame);
        FUZZ_CHECK(fragment && fragment->type != FragmentType::Ack,
                   "a response fragment reads back");
        Response& r = *response_;
        if (fragment->type == FragmentType::First)
            r.received.clear();
        else if (fragment->count == r.count)
            return; // sent again
        r.count = fragment->count;
        r.received.insert(r.received.end(), fragment->bytes.begin(), fragment->bytes.end());
        FUZZ_CHECK(r.received.size() <= r.expected.size() &&
                       std::equal(r.received.begin(), r.received.end(), r.expected.begin()),
                   "response fragments carry the response, in order");
        if (fragment->type == FragmentType::Last) {
            FUZZ_CHECK(r.received == r.expected, "a fragmented response is what the objects "
                                                 "answered");
        }
    }

    void onAck(const Fragment& ack, const Output& out) {
        FUZZ_CHECK(objects_.calls.empty(), "an acknowledgement carries out nothing");
        if (!response_ || !response_->fragmented || ack.header.xid != response_->xid ||
            ack.count != response_->count) {
            FUZZ_CHECK(out.frames.empty(), "an acknowledgement of nothing sent is ignored");
            return;
        }
        if (ack.ackStatus != AckStatus::Success ||
            response_->received.size() == response_->expected.size()) {
            FUZZ_CHECK(out.frames.empty(), "the last acknowledgement or a refusal ends it");
            response_.reset();
            return;
        }
        FUZZ_CHECK(out.frames.size() == 1, "an acknowledgement brings the next fragment");
        response_->deadline = now_ + ExplicitServer::DefaultAckTimeout;
        response_->resent = false;
        checkResponseHead(out.frames.front(), true);
        onResponseFragment(out.frames.front());
    }

    void advance(std::chrono::milliseconds by) {
        now_ += by;
        objects_.calls.clear();
        const Output out = server_.OnTime(now_);
        FUZZ_CHECK(objects_.calls.empty(), "time carries out nothing");
        if (watchdogDue_()) {
            allocated_ = false;
            request_.reset();
            response_.reset();
            FUZZ_CHECK(out.frames.empty(), "a connection that ran out sends nothing more");
        } else if (response_ && response_->fragmented && now_ >= response_->deadline) {
            if (response_->resent) {
                FUZZ_CHECK(out.frames.empty(), "a response not acknowledged twice is given up");
                response_.reset();
            } else {
                FUZZ_CHECK(out.frames.size() == 1 &&
                               ParseFragment(out.frames.front())->count == response_->count,
                           "a response fragment not acknowledged in time is sent once more");
                response_->resent = true;
                response_->deadline = now_ + ExplicitServer::DefaultAckTimeout;
                checkResponseHead(out.frames.front(), true);
                onResponseFragment(out.frames.front());
            }
        } else {
            FUZZ_CHECK(out.frames.empty(), "nothing is sent before its time");
            if (request_ && now_ >= request_->deadline)
                request_.reset(); // a request that stalled is dropped
        }
        checkOutput(out);
    }

    void checkOutput(const Output& out) {
        for (const CanFrame& f : out.frames)
            FUZZ_CHECK(f.id == responseId_ && !f.remote && f.length >= 2 && f.length <= 8,
                       "the server sends on its response identifier only");
        FUZZ_CHECK(server_.Allocated() == allocated_ &&
                       (!allocated_ || server_.Master() == holder_),
                   "the connection is held as granted, until released or run out");
        if (out.deadline != NoDeadline)
            FUZZ_CHECK(out.deadline > now_ || watchdogDue_(), "deadlines lie ahead");
    }

    struct Assembly {
        bool xid;
        std::uint8_t lastCount;
        std::vector<std::uint8_t> bytes;
        TimePoint deadline{};
    };
    struct Response {
        bool xid;
        bool fragmented;
        std::uint8_t count;
        std::vector<std::uint8_t> expected;
        std::vector<std::uint8_t> received;
        TimePoint deadline{};
        bool resent = false;
    };

    FuzzInput& in_;
    const std::uint8_t mac_;
    Objects objects_;
    ExplicitServer server_;
    const std::uint16_t requestId_;
    const std::uint16_t unconnectedId_;
    const std::uint16_t responseId_;
    TimePoint now_{std::chrono::seconds(1000)};

    // The model: who holds the connection since when, the request being put together, the
    // response going out.
    bool allocated_ = false;
    std::uint8_t holder_ = 0;
    TimePoint lastActivity_{};
    std::optional<Assembly> request_;
    bool requestXid_ = false;
    std::optional<Response> response_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return RunHarness<Harness>(data, size);
}
