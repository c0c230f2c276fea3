// The DeviceNet Duplicate MAC ID check fed any frames and time steps.
//
// Promises checked, against the rules of its header kept in a small model:
// - a node that starts checking sends its request, and once more a second later, and is
//   online only when a further second has passed without a check message for its MAC ID;
// - a check message for its MAC ID while checking, or a response once online, makes it a
//   duplicate, with Other() the message that came; a duplicate (and an idle node) is silent;
// - online, it answers every request for its MAC ID with one response carrying its own
//   port, vendor ID and serial number;
// - it sends only check messages on its own MAC ID, and nothing times out before its
//   deadline;
// - EncodeDuplicateMac and DecodeDuplicateMac read back what they write.
//
// Input: a header, then operations until the input ends.
//   header  MAC ID (byte % 64), port byte, vendor ID (2 bytes), serial number (4 bytes)
//   op      one byte, the operation in its low three bits:
//     0 start checking                 1 online at once (SetOnline)
//     2 time passes: byte × 8 ms       3 time passes to the deadline the node asked for
//     4 a check message for the node's MAC ID: flag and port byte, vendor (2), serial (4)
//     5 any frame: id (2 bytes), length byte (% 10: 9 is a remote request), 8 bytes
//     6 a message encoded and decoded: MAC ID byte, then as 4
//     7 a check message for another MAC ID: MAC ID byte, then as 4

#include "FuzzCheck.h"
#include "FuzzFrames.h"
#include "FuzzInput.h"
#include "devicenet/DuplicateMac.h"

using namespace bus;
using namespace bus::devicenet;

namespace {

DuplicateMacMessage readMessage(FuzzInput& in) {
    DuplicateMacMessage m;
    const std::uint8_t first = in.Byte();
    m.response = (first & 0x80) != 0;
    m.port = first & 0x7F;
    m.vendorId = in.Word();
    m.serialNumber = in.Word();
    m.serialNumber |= static_cast<std::uint32_t>(in.Word()) << 16;
    return m;
}

class Harness {
public:
    explicit Harness(FuzzInput& in)
        : in_(in), mac_(in.Byte() % 64), port_(in.Byte()), vendor_(in.Word()),
          serial_(static_cast<std::uint32_t>(in.Word()) | static_cast<std::uint32_t>(in.Word())
                                                              << 16),
          check_(mac_, port_, vendor_, serial_) {}

    void Run() {
        while (!in_.Empty()) {
            const std::uint8_t op = in_.Byte();
            switch (op & 7) {
            case 0:
                start();
                break;
            case 1:
                check_.SetOnline();
                state_ = MacCheckState::Online;
                deadline_ = NoDeadline;
                FUZZ_CHECK(check_.State() == MacCheckState::Online, "SetOnline puts it online");
                break;
            case 2:
                advance(now_ + std::chrono::milliseconds(in_.Byte() * 8));
                break;
            case 3:
                if (deadline_ != NoDeadline)
                    advance(deadline_);
                break;
            case 4:
                frame(EncodeDuplicateMac(mac_, readMessage(in_)));
                break;
            case 5:
                frame(AnyFrame(in_));
                break;
            case 6: {
                const std::uint8_t mac = in_.Byte() % 64;
                const DuplicateMacMessage m = readMessage(in_);
                const auto decoded = DecodeDuplicateMac(EncodeDuplicateMac(mac, m));
                FUZZ_CHECK(decoded && decoded->mac == mac && decoded->message == m,
                           "a check message reads back as written");
                break;
            }
            case 7: {
                const auto mac = static_cast<std::uint8_t>(in_.Byte() % 64);
                frame(EncodeDuplicateMac(mac, readMessage(in_)));
                break;
            }
            }
        }
    }

private:
    DuplicateMacMessage self(bool response) const {
        return {response, static_cast<std::uint8_t>(port_ & 0x7F), vendor_, serial_};
    }

    void start() {
        const Output out = check_.Start(now_);
        state_ = MacCheckState::Checking;
        requests_ = 1;
        deadline_ = now_ + DuplicateMacCheck::RequestInterval;
        FUZZ_CHECK(out.frames.size() == 1 &&
                       out.frames.front() == EncodeDuplicateMac(mac_, self(false)),
                   "starting sends the node's check request");
        FUZZ_CHECK(out.deadline == deadline_, "the request is sent again a second later");
        FUZZ_CHECK(check_.State() == state_ && !check_.Other(), "starting checks afresh");
    }

    void advance(TimePoint to) {
        now_ = to;
        const Output out = check_.OnTime(now_);
        std::vector<CanFrame> expected;
        if (state_ == MacCheckState::Checking && now_ >= deadline_) {
            if (requests_ < 2) {
                ++requests_;
                expected.push_back(EncodeDuplicateMac(mac_, self(false)));
                deadline_ = now_ + DuplicateMacCheck::RequestInterval;
            } else {
                state_ = MacCheckState::Online;
                deadline_ = NoDeadline;
            }
        }
        FUZZ_CHECK(out.frames == expected, "the requests go out a second apart, twice");
        after(out);
    }

    void frame(const CanFrame& f) {
        const Output out = check_.OnFrame(f, now_);
        const auto decoded = DecodeDuplicateMac(f);
        std::vector<CanFrame> expected;
        if (decoded && decoded->mac == mac_) {
            switch (state_) {
            case MacCheckState::Checking:
                state_ = MacCheckState::Duplicate;
                other_ = decoded->message;
                deadline_ = NoDeadline;
                break;
            case MacCheckState::Online:
                if (decoded->message.response) {
                    state_ = MacCheckState::Duplicate;
                    other_ = decoded->message;
                } else {
                    expected.push_back(EncodeDuplicateMac(mac_, self(true)));
                }
                break;
            default:
                break;
            }
        }
        FUZZ_CHECK(out.frames == expected, "only an online node answers, and only requests");
        if (state_ == MacCheckState::Duplicate)
            FUZZ_CHECK(check_.Other() == other_, "a duplicate knows what the other node sent");
        after(out);
    }

    void after(const Output& out) {
        FUZZ_CHECK(check_.State() == state_, "the node's state follows the check's rules");
        FUZZ_CHECK(out.deadline == deadline_, "the node asks to be called at its deadline");
        for (const CanFrame& f : out.frames) {
            const auto decoded = DecodeDuplicateMac(f);
            FUZZ_CHECK(decoded && decoded->mac == mac_,
                       "the node sends only check messages on its own MAC ID");
        }
    }

    FuzzInput& in_;
    const std::uint8_t mac_;
    const std::uint8_t port_;
    const std::uint16_t vendor_;
    const std::uint32_t serial_;
    DuplicateMacCheck check_;
    TimePoint now_{std::chrono::seconds(1000)};

    MacCheckState state_ = MacCheckState::Idle;
    int requests_ = 0;
    TimePoint deadline_ = NoDeadline;
    std::optional<DuplicateMacMessage> other_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return RunHarness<Harness>(data, size);
}
