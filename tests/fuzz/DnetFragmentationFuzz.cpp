// DeviceNet fragmentation: a FragmentSender and a FragmentReceiver over a link that the input
// disturbs, and fragments and acknowledgements the input makes up.
//
// Promises checked:
// - the receiver follows its rules to the letter: a first fragment of count 0 starts afresh,
//   a fragment with the count of the one before is a repeat (nothing taken), the next count
//   is taken, anything else ends the message unfinished; a message never grows past its
//   most and a complete one holds exactly the bytes of the fragments taken, in order;
// - end to end, with only the sender's own frames on the link (lost, repeated, sent again):
//   a message the receiver completes is the sender's body, a sender that is Done had its body
//   completed, and a refusal comes only for a body longer than the receiver takes;
// - ParseFragment reads back what FragmentFrame and AckFrame make, and makes no fragment of
//   more than six bytes of any frame.
//
// Input: a header, then operations until the input ends.
//   header  the receiver's most (byte × 4), then the first body: length (2 bytes, % 1000) and
//           a seed byte (byte i of the body: seed + 5 × i)
//   op      one byte, the operation in its low four bits:
//     0 the sender sends its fragment in flight again     1 deliver the next fragment
//     2 deliver the next acknowledgement                   3 lose the next fragment
//     4 lose the next acknowledgement                      5 repeat the next fragment
//     6 repeat the next acknowledgement
//     7 a made-up fragment to the receiver: fragment byte, length byte (% 7), bytes
//     8 a made-up acknowledgement to the sender: count byte, status byte
//     9 a new body: length (2 bytes, % 1000), seed byte
//     10 a frame of any bytes parsed: length byte (% 10: 9 is a remote request), 8 bytes
//     others: the link delivers everything queued both ways

#include "FuzzCheck.h"
#include "FuzzFrames.h"
#include "FuzzInput.h"
#include "devicenet/Fragmentation.h"

#include <algorithm>
#include <deque>

using namespace bus;
using namespace bus::devicenet;

namespace {

constexpr std::uint16_t RequestId = Group2Id(5, Group2Message::ExplicitRequest);
constexpr std::uint16_t ResponseId = Group2Id(5, Group2Message::SlaveResponse);
constexpr MessageHeader Head{true, false, 1};

// The receiver's rules, as its header states them.
struct ReceiverModel {
    std::size_t maxSize;
    bool active = false;
    std::uint8_t lastCount = 0;
    std::vector<std::uint8_t> taken;

    FragmentReceiver::Outcome Expect(const Fragment& f) {
        using O = FragmentReceiver::Outcome;
        if (f.type == FragmentType::Ack)
            return O::Dropped;
        if (f.type == FragmentType::First) {
            if (f.count != 0) {
                reset();
                return O::Dropped;
            }
            active = true;
            lastCount = 0;
            taken.clear();
        } else {
            if (!active)
                return O::Dropped;
            if (f.count == lastCount)
                return O::Repeat;
            if (f.count != ((lastCount + 1) & FragmentCountMask)) {
                reset();
                return O::Dropped;
            }
            lastCount = f.count;
        }
        if (taken.size() + f.bytes.size() > maxSize) {
            reset();
            return O::TooMuchData;
        }
        taken.insert(taken.end(), f.bytes.begin(), f.bytes.end());
        if (f.type != FragmentType::Last)
            return O::Taken;
        active = false;
        return O::Complete;
    }
    void reset() {
        active = false;
        lastCount = 0;
        taken.clear();
    }
};

std::vector<std::uint8_t> makeBody(FuzzInput& in) {
    const std::size_t length = in.Word() % 1000;
    const std::uint8_t seed = in.Byte();
    std::vector<std::uint8_t> body(length);
    for (std::size_t i = 0; i < length; ++i)
        body[i] = static_cast<std::uint8_t>(seed + 5 * i);
    return body;
}

class Harness {
public:
    explicit Harness(FuzzInput& in)
        : in_(in), receiver_(in.Byte() * 4u), model_{receiver_.MaxSize(), false, 0, {}} {
        start(makeBody(in));
    }

    void Run() {
        while (!in_.Empty())
            step(in_.Byte());
        for (int round = 0; round < 4000 && sender_.Active(); ++round) {
            if (toReceiver_.empty() && toSender_.empty())
                send();
            deliverAll();
        }
    }

private:
    void step(std::uint8_t op) {
        switch (op & 0x0F) {
        case 0:
            send();
            break;
        case 1:
            deliverFragment();
            break;
        case 2:
            deliverAck();
            break;
        case 3:
            LoseFirst(toReceiver_);
            break;
        case 4:
            LoseFirst(toSender_);
            break;
        case 5:
            DoubleFirst(toReceiver_);
            break;
        case 6:
            DoubleFirst(toSender_);
            break;
        case 7: {
            const std::uint8_t fragmentByte = in_.Byte();
            const auto bytes = in_.Run(6);
            CanFrame frame =
                FragmentFrame(RequestId, Head, static_cast<FragmentType>(fragmentByte >> 6),
                              fragmentByte & FragmentCountMask, bytes.data(), bytes.size());
            verifiable_ = false;
            receive(frame);
            break;
        }
        case 8: {
            const std::uint8_t count = in_.Byte();
            const std::uint8_t status = in_.Byte();
            verifiable_ = false;
            ack(AckFrame(ResponseId, Head, count, status));
            break;
        }
        case 9:
            start(makeBody(in_));
            break;
        case 10:
            parseAny();
            break;
        default:
            deliverAll();
            break;
        }
    }

    void start(std::vector<std::uint8_t> body) {
        toReceiver_.clear();
        toSender_.clear();
        verifiable_ = true;
        completed_ = false;
        sentIndex_ = 0;
        body_ = body;
        if (body.size() <= FragmentPayload) {
            sender_.Stop();
            return; // needs no fragments
        }
        sender_.Start(std::move(body));
        send();
    }

    void send() {
        if (!sender_.Active())
            return;
        const CanFrame frame = sender_.Frame(RequestId, Head);
        const auto parsed = ParseFragment(frame);
        FUZZ_CHECK(parsed && parsed->count == sender_.Count() && parsed->header.fragmented,
                   "the sender's fragment reads back with its count");
        const FragmentType type = sentIndex_ == 0          ? FragmentType::First
                                  : sender_.LastInFlight() ? FragmentType::Last
                                                           : FragmentType::Middle;
        const std::size_t offset = sentIndex_ * FragmentPayload;
        const std::size_t n = std::min(FragmentPayload, body_.size() - offset);
        FUZZ_CHECK(parsed->type == type &&
                       parsed->bytes == std::vector<std::uint8_t>(body_.begin() + offset,
                                                                  body_.begin() + offset + n),
                   "each fragment carries the next six bytes of the body, typed by its place");
        toReceiver_.push_back(frame);
    }

    void deliverFragment() {
        if (toReceiver_.empty())
            return;
        const CanFrame frame = toReceiver_.front();
        toReceiver_.pop_front();
        receive(frame);
    }

    void receive(const CanFrame& frame) {
        const auto fragment = ParseFragment(frame);
        if (!fragment)
            return; // a made-up acknowledgement without its status
        using O = FragmentReceiver::Outcome;
        const O expected = model_.Expect(*fragment);
        const O outcome = receiver_.Accept(*fragment);
        FUZZ_CHECK(outcome == expected, "the receiver takes, repeats and drops by its rules");
        FUZZ_CHECK(receiver_.Active() == model_.active, "the receiver is busy by its rules");
        switch (outcome) {
        case O::Taken:
        case O::Repeat:
            toSender_.push_back(AckFrame(ResponseId, Head, fragment->count));
            break;
        case O::Complete: {
            const auto message = receiver_.TakeMessage();
            FUZZ_CHECK(message == model_.taken, "a complete message is the bytes taken");
            FUZZ_CHECK(message.size() <= receiver_.MaxSize(), "no message is longer than the most");
            if (verifiable_) {
                FUZZ_CHECK(message == body_, "the message received is the message sent");
                completed_ = true;
            }
            model_.taken.clear();
            toSender_.push_back(AckFrame(ResponseId, Head, fragment->count));
            break;
        }
        case O::TooMuchData:
            toSender_.push_back(
                AckFrame(ResponseId, Head, fragment->count, AckStatus::TooMuchData));
            break;
        case O::Dropped:
            break;
        }
    }

    void deliverAck() {
        if (toSender_.empty())
            return;
        const CanFrame frame = toSender_.front();
        toSender_.pop_front();
        ack(frame);
    }

    void ack(const CanFrame& frame) {
        const auto parsed = ParseFragment(frame);
        FUZZ_CHECK(parsed && parsed->type == FragmentType::Ack, "an acknowledgement reads back");
        using R = FragmentSender::AckResult;
        const bool wasActive = sender_.Active();
        const std::uint8_t count = sender_.Count();
        const bool last = sender_.LastInFlight();
        const R result = sender_.OnAck(*parsed);
        if (!wasActive || parsed->count != count) {
            FUZZ_CHECK(result == R::Ignored, "an acknowledgement of another fragment is ignored");
            return;
        }
        if (parsed->ackStatus != AckStatus::Success) {
            FUZZ_CHECK(result == R::Refused && sender_.RefusalStatus() == parsed->ackStatus &&
                           !sender_.Active(),
                       "a refusal gives the message up");
            if (verifiable_)
                FUZZ_CHECK(body_.size() > receiver_.MaxSize(),
                           "only a message longer than the receiver takes is refused");
            return;
        }
        FUZZ_CHECK(result == (last ? R::Done : R::Next), "an acknowledgement moves the sender on");
        ++sentIndex_;
        if (result == R::Done) {
            if (verifiable_)
                FUZZ_CHECK(completed_, "a sender is done only when its message was received");
            return;
        }
        send();
    }

    void deliverAll() {
        while (!toReceiver_.empty() || !toSender_.empty()) {
            deliverFragment();
            deliverAck();
        }
    }

    void parseAny() {
        const CanFrame frame = FrameWithId(in_, RequestId);
        const auto fragment = ParseFragment(frame);
        if (!fragment)
            return;
        FUZZ_CHECK(!frame.remote && frame.length >= 2 && (frame.data[0] & 0x80),
                   "only a data frame with the Frag bit and a fragment byte is a fragment");
        if (fragment->type != FragmentType::Ack)
            FUZZ_CHECK(fragment->bytes.size() == frame.length - 2u &&
                           fragment->bytes.size() <= FragmentPayload,
                       "a fragment carries the frame's bytes after its fragment byte");
    }

    FuzzInput& in_;
    FragmentSender sender_;
    FragmentReceiver receiver_;
    ReceiverModel model_;
    std::deque<CanFrame> toReceiver_;
    std::deque<CanFrame> toSender_;
    std::vector<std::uint8_t> body_;
    bool verifiable_ = true;
    bool completed_ = false;
    std::size_t sentIndex_ = 0; // of the fragment in flight
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return RunHarness<Harness>(data, size);
}
