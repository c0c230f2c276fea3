// The DeviceNet explicit client against a real explicit server over a link that the input
// disturbs.
//
// Promise checked: the client never reports success for an operation that the node's
// frames did not complete. A request that ends Done carries back exactly the service data
// the node's objects answered to exactly that request; an error response carries the
// objects' codes. Frames from outside the node (made up by the input) mark the operation as
// unverifiable: then only the shape of the result is checked. Always: the client sends only
// on the node's request identifiers (message ID 4 and 6) with the master's MAC ID in the
// header; a running operation has a deadline ahead; OnTime before the deadline ends nothing;
// a failed or cancelled operation sends nothing but the acknowledgement of the response
// fragment that ended it.
//
// Input: a header, then operations until the input ends.
//   header  master MAC ID (byte % 64), node MAC ID (byte % 64), most response bytes
//           (byte × 8, 0: the default)
//   op      one byte, the operation in its low four bits:
//     0 a request: service, class, instance bytes, data (length byte % 41, then bytes)
//       The node's objects answer class 0x66 with error 0x14 and the instance as additional
//       code, any other with (instance % 200) bytes: service + class + 3 × i.
//     1 allocate                  2 release
//     3 deliver to the node       4 deliver to the client
//     5 lose a frame to the node  6 lose a frame to the client
//     7 repeat the next frame to the node   8 repeat the next frame to the client
//     9 time passes: byte × 16 ms
//     10 a made-up frame to the client: message ID bits (byte % 8), length byte (% 9), bytes
//     11 cancel                   12 the node restarts (its server forgets the connection)
//     others: the link delivers everything queued both ways
// When the input ends, the queued frames are delivered and time passes until the client is
// idle again.

#include "FuzzCheck.h"
#include "FuzzFrames.h"
#include "FuzzInput.h"
#include "devicenet/ExplicitClient.h"
#include "devicenet/ExplicitServer.h"

#include <deque>
#include <optional>

using namespace bus;
using namespace bus::devicenet;

namespace {

constexpr std::uint16_t ErrorClass = 0x66;

struct Call {
    std::uint8_t service;
    std::uint16_t classId;
    std::uint16_t instance;
    std::vector<std::uint8_t> data;
    bool operator==(const Call&) const = default;
};

ServiceResult answerTo(const Call& call) {
    if (call.classId == ErrorClass)
        return ServiceResult::Error(GeneralStatus::AttributeNotSupported,
                                    static_cast<std::uint8_t>(call.instance));
    std::vector<std::uint8_t> data(call.instance % 200);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(call.service + call.classId + 3 * i);
    return ServiceResult::Ok(data);
}

class Objects : public ExplicitObjects {
public:
    std::optional<Call> last;
    ServiceResult Service(std::uint8_t service, std::uint16_t classId, std::uint16_t instance,
                          const std::vector<std::uint8_t>& request) override {
        last = Call{service, classId, instance, request};
        return answerTo(*last);
    }
};

class Harness {
public:
    explicit Harness(FuzzInput& in)
        : in_(in), master_(in.Byte() % 64), node_(in.Byte() % 64), client_(master_, node_),
          server_(node_, objects_) {
        if (const std::uint8_t most = in.Byte())
            client_.SetMaxResponseSize(most * 8u);
    }

    void Run() {
        while (!in_.Empty())
            step(in_.Byte());
        for (int round = 0; round < 64 && client_.Busy(); ++round) {
            deliverAll();
            if (client_.Busy())
                advance(std::chrono::milliseconds(250));
        }
        FUZZ_CHECK(!client_.Busy(), "an operation ends once its deadlines have passed");
    }

private:
    void step(std::uint8_t op) {
        switch (op & 0x0F) {
        case 0: {
            Call call;
            call.service = in_.Byte();
            call.classId = in_.Byte();
            call.instance = in_.Byte();
            call.data = in_.Run(40);
            start(client_.StartRequest(call.service, call.classId, call.instance, call.data, now_),
                  call);
            break;
        }
        case 1:
            start(client_.StartAllocate(now_), std::nullopt);
            break;
        case 2:
            start(client_.StartRelease(now_), std::nullopt);
            break;
        case 3:
            deliverToNode();
            break;
        case 4:
            deliverToClient();
            break;
        case 5:
            LoseFirst(toNode_);
            break;
        case 6:
            LoseFirst(toClient_);
            break;
        case 7:
            DoubleFirst(toNode_);
            break;
        case 8:
            DoubleFirst(toClient_);
            break;
        case 9:
            advance(std::chrono::milliseconds(in_.Byte() * 16));
            break;
        case 10: {
            CanFrame frame;
            frame.id = Group2Id(node_, static_cast<Group2Message>(in_.Byte() % 8));
            frame.length = in_.Byte() % 9;
            for (auto& b : frame.data)
                b = in_.Byte();
            if (frame.id == Group2Id(node_, Group2Message::SlaveResponse))
                verifiable_ = false;
            toClient(frame);
            break;
        }
        case 11: {
            const bool busy = client_.Busy();
            const Output out = client_.Cancel();
            FUZZ_CHECK(out.frames.empty(), "cancelling sends nothing");
            if (busy)
                FUZZ_CHECK(client_.Result().status == ExplicitStatus::Failed &&
                               client_.Result().failure == ExplicitFailure::Cancelled,
                           "a cancelled operation fails as cancelled");
            deadline_ = NoDeadline;
            break;
        }
        case 12:
            server_.Reset();
            break;
        default:
            deliverAll();
            break;
        }
    }

    void start(const std::optional<Output>& out, std::optional<Call> call) {
        if (!out)
            return;
        toNode_.clear();
        toClient_.clear();
        verifiable_ = true;
        request_ = std::move(call);
        if (request_ && request_->classId == DeviceNetClass && request_->instance == 1)
            verifiable_ = false; // the connection set answers itself, not the objects
        if (request_ && request_->service == (Service::ErrorResponse & ~Service::ResponseBit))
            verifiable_ = false; // its response code is the error response's
        clientSends(*out);
    }

    void deliverToNode() {
        if (toNode_.empty())
            return;
        const CanFrame frame = toNode_.front();
        toNode_.pop_front();
        for (const CanFrame& f : server_.OnFrame(frame, now_).frames)
            toClient_.push_back(f);
    }

    void deliverToClient() {
        if (toClient_.empty())
            return;
        const CanFrame frame = toClient_.front();
        toClient_.pop_front();
        toClient(frame);
    }

    void toClient(const CanFrame& frame) {
        const ExplicitStatus before = client_.Result().status;
        const Output out = client_.OnFrame(frame, now_);
        afterStep(before, out);
    }

    void deliverAll() {
        while (!toNode_.empty() || !toClient_.empty()) {
            deliverToNode();
            deliverToClient();
        }
    }

    void advance(std::chrono::milliseconds by) {
        now_ += by;
        for (const CanFrame& f : server_.OnTime(now_).frames)
            toClient_.push_back(f);
        const ExplicitStatus before = client_.Result().status;
        const TimePoint deadline = deadline_;
        const Output out = client_.OnTime(now_);
        if (now_ < deadline)
            FUZZ_CHECK(client_.Result().status == before && out.frames.empty(),
                       "nothing happens before the deadline");
        afterStep(before, out);
    }

    void afterStep(ExplicitStatus before, const Output& out) {
        const ExplicitResult& result = client_.Result();
        if (before == ExplicitStatus::Running && result.status == ExplicitStatus::Failed)
            for (const CanFrame& f : out.frames) {
                const auto fragment = ParseFragment(f);
                FUZZ_CHECK(fragment && fragment->type == FragmentType::Ack,
                           "a failed operation sends nothing but the acknowledgement of the "
                           "fragment that ended it");
            }
        if (before == ExplicitStatus::Running && result.status != ExplicitStatus::Running)
            checkEnd();
        clientSends(out);
    }

    void checkEnd() {
        const ExplicitResult& result = client_.Result();
        if (!request_ || result.duringAllocation)
            return;
        if (result.status == ExplicitStatus::Failed &&
            result.failure == ExplicitFailure::ResponseTooLong)
            FUZZ_CHECK(client_.Result().data.empty(), "a refused response keeps nothing");
        if (!verifiable_)
            return;
        const ServiceResult expected = answerTo(*request_);
        if (result.status == ExplicitStatus::Done) {
            FUZZ_CHECK(objects_.last && *objects_.last == *request_,
                       "a request succeeds only after the node's objects carried it out");
            FUZZ_CHECK(expected.ok() && result.data == expected.data,
                       "a request's response data is what the node's objects answered");
        } else if (result.failure == ExplicitFailure::ErrorResponse) {
            FUZZ_CHECK(result.generalStatus == expected.generalStatus &&
                           result.additionalCode == expected.additionalCode,
                       "an error response carries the node's codes");
        }
    }

    void clientSends(const Output& out) {
        for (const CanFrame& f : out.frames) {
            FUZZ_CHECK(f.id == Group2Id(node_, Group2Message::ExplicitRequest) ||
                           f.id == Group2Id(node_, Group2Message::UnconnectedRequest),
                       "the client sends on the node's request identifiers only");
            FUZZ_CHECK(!f.remote && f.length >= 2 && f.length <= 8 &&
                           MessageHeader::Parse(f.data[0]).mac == master_,
                       "the client's frames carry the master's MAC ID");
            toNode_.push_back(f);
        }
        if (client_.Busy())
            FUZZ_CHECK(out.deadline != NoDeadline && out.deadline > now_,
                       "a running operation has a deadline ahead");
        deadline_ = client_.Busy() ? out.deadline : NoDeadline;
    }

    FuzzInput& in_;
    const std::uint8_t master_;
    const std::uint8_t node_;
    Objects objects_;
    ExplicitClient client_;
    ExplicitServer server_;
    TimePoint now_{std::chrono::seconds(1000)};
    TimePoint deadline_ = NoDeadline;
    std::deque<CanFrame> toNode_;
    std::deque<CanFrame> toClient_;
    std::optional<Call> request_;
    bool verifiable_ = true;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return RunHarness<Harness>(data, size);
}
