#pragma once

#include "DeviceNet.h"

#include <cstdint>
#include <optional>
#include <vector>

// The fragmentation protocol of explicit messages, which carries a message body longer than
// one frame. Every fragment has the message header with its Frag bit set, then the fragment
// byte — type in bits 6-7 (first 0, middle 1, last 2, acknowledge 3) and a 6-bit count — then
// up to six bytes of the body. The first fragment has count 0, each further one the count
// before it plus one, modulo 64. The receiver acknowledges every fragment, the last one
// included, with three bytes: the header, type 3 with the count of the fragment it
// acknowledges, and a status (0 success, 1 too much data); the sender sends the next fragment
// only when the acknowledgement of the one before has come.
namespace bus::devicenet {

enum class FragmentType : std::uint8_t { First = 0, Middle = 1, Last = 2, Ack = 3 };

namespace AckStatus {
constexpr std::uint8_t Success = 0x00;
constexpr std::uint8_t TooMuchData = 0x01;
} // namespace AckStatus

constexpr std::size_t FragmentPayload = 6; // body bytes in one fragment
constexpr std::uint8_t FragmentCountMask = 0x3F;

struct Fragment {
    MessageHeader header;
    FragmentType type = FragmentType::First;
    std::uint8_t count = 0;
    std::vector<std::uint8_t> bytes; // First, Middle, Last: the body bytes it carries
    std::uint8_t ackStatus = 0;      // Ack: the status
};

// Nothing for a frame that is not a fragment: no Frag bit, no fragment byte, an
// acknowledgement without its status, a remote request.
std::optional<Fragment> ParseFragment(const CanFrame& frame);

// A fragment of body bytes (at most six are taken) and an acknowledgement. The header's Frag
// bit is set whatever the header given.
CanFrame FragmentFrame(std::uint16_t id, MessageHeader header, FragmentType type,
                       std::uint8_t count, const std::uint8_t* bytes, std::size_t size);
CanFrame AckFrame(std::uint16_t id, MessageHeader header, std::uint8_t count,
                  std::uint8_t status = AckStatus::Success);

// The sending side of one fragmented message: which fragment is in flight, and what an
// acknowledgement does to it.
class FragmentSender {
public:
    enum class AckResult : std::uint8_t {
        Ignored, // not an acknowledgement of the fragment in flight (an older one, a duplicate)
        Next,    // acknowledged: the next fragment is in flight now
        Done,    // the last fragment was acknowledged: the message has gone
        Refused, // acknowledged with a status other than success: the message is given up
    };

    // Starts a message of more than six bytes (a shorter one needs no fragments); its first
    // fragment is in flight.
    void Start(std::vector<std::uint8_t> body);
    void Stop();
    bool Active() const { return active_; }

    // The fragment in flight, as a frame with the given identifier and header.
    CanFrame Frame(std::uint16_t id, MessageHeader header) const;
    std::uint8_t Count() const { return static_cast<std::uint8_t>(index_ & FragmentCountMask); }
    bool LastInFlight() const;
    // The status of the refusal, after Refused.
    std::uint8_t RefusalStatus() const { return refusal_; }

    AckResult OnAck(const Fragment& ack);

private:
    std::vector<std::uint8_t> body_;
    std::size_t index_ = 0; // fragment in flight
    bool active_ = false;
    std::uint8_t refusal_ = 0;
};

// The receiving side: puts the fragments of one message together.
//
// A first fragment always starts a message afresh. A fragment with the count of the one
// before is a repeat (its acknowledgement was lost): acknowledged again, its bytes not taken
// twice. Any other count — a fragment missing, or out of order — ends the message unfinished,
// without an acknowledgement, and so does a middle or last fragment with no message begun:
// the sender, waiting in vain for its acknowledgement, gives up. A message that grows past
// the most bytes allowed is refused: acknowledged with status 1 and dropped.
class FragmentReceiver {
public:
    enum class Outcome : std::uint8_t {
        Taken,       // acknowledge with success; more to come
        Repeat,      // acknowledge with success again; nothing taken
        Complete,    // acknowledge with success; the message is whole (TakeMessage)
        TooMuchData, // acknowledge with status 1; the message is dropped
        Dropped,     // no acknowledgement: out of order, or nothing begun
    };

    explicit FragmentReceiver(std::size_t maxSize) : maxSize_(maxSize) {}
    void SetMaxSize(std::size_t maxSize) { maxSize_ = maxSize; }
    std::size_t MaxSize() const { return maxSize_; }

    // A fragment of type First, Middle or Last (an acknowledgement is Dropped).
    Outcome Accept(const Fragment& fragment);
    bool Active() const { return active_; }
    std::vector<std::uint8_t> TakeMessage();
    void Reset();

private:
    std::size_t maxSize_;
    bool active_ = false;
    std::uint8_t lastCount_ = 0;
    std::vector<std::uint8_t> message_;
    std::vector<std::uint8_t> complete_;
};

} // namespace bus::devicenet
