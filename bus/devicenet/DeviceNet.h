#pragma once

#include "CanFrame.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

// The parts of DeviceNet that the master and the simulated nodes share: Group 2 identifiers of
// the Predefined Master/Slave Connection Set, explicit message bodies and error responses.
// Every engine here is a step function: it is fed a received frame and/or the current time —
// given in, never read inside — and returns the frames to send and the time by which it wants
// to be called again. No threads, no I/O, no clock of their own.
namespace bus::devicenet {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
constexpr TimePoint NoDeadline = TimePoint::max();

// What a step asks of its caller: send these frames, in this order, and call again (with the
// time, or a frame) no later than the deadline.
struct Output {
    std::vector<CanFrame> frames;
    TimePoint deadline = NoDeadline;
};

// MAC IDs 0 to 63.
constexpr std::uint8_t MaxMac = 63;
constexpr bool ValidMac(std::uint8_t mac) {
    return mac <= MaxMac;
}

// The message IDs of Group 2 (identifier bits 0-2).
enum class Group2Message : std::uint8_t {
    BitStrobe = 0,          // master's I/O bit-strobe command (source MAC: the master)
    MulticastPoll = 1,      // master's multicast poll
    ChangeOfStateAck = 2,   // master's change-of-state or cyclic acknowledge
    SlaveResponse = 3,      // slave's explicit / unconnected response (source MAC: slave)
    ExplicitRequest = 4,    // master's explicit request (destination MAC: slave)
    IoPoll = 5,             // master's I/O poll command / change of state / cyclic
    UnconnectedRequest = 6, // Group 2 Only Unconnected Explicit Request (destination: slave)
    DuplicateMacCheck = 7,  // Duplicate MAC ID check request and response (the MAC checked)
};

// Group 2 identifier: bits 10-9 = 10, bits 8-3 = MAC ID, bits 2-0 = message ID.
constexpr std::uint16_t Group2Id(std::uint8_t mac, Group2Message message) {
    return static_cast<std::uint16_t>(0x400 | (mac & 0x3F) << 3 |
                                      (static_cast<std::uint8_t>(message) & 0x07));
}

struct Group2Address {
    std::uint8_t mac;
    Group2Message message;
};

// Nothing for an identifier outside Group 2.
constexpr std::optional<Group2Address> ParseGroup2Id(std::uint16_t id) {
    if ((id & 0x600) != 0x400)
        return std::nullopt;
    return Group2Address{static_cast<std::uint8_t>((id >> 3) & 0x3F),
                         static_cast<Group2Message>(id & 0x07)};
}

// The first byte of every explicit message: Frag (bit 7), XID (bit 6), MAC ID (bits 0-5). On
// the Group 2 identifiers the MAC ID in the header is the one the identifier does not carry:
// the master's, in requests (its source) and in responses (their destination) alike.
struct MessageHeader {
    bool fragmented = false;
    bool xid = false;
    std::uint8_t mac = 0;

    constexpr std::uint8_t Byte() const {
        return static_cast<std::uint8_t>((fragmented ? 0x80 : 0) | (xid ? 0x40 : 0) | (mac & 0x3F));
    }
    static constexpr MessageHeader Parse(std::uint8_t byte) {
        return {(byte & 0x80) != 0, (byte & 0x40) != 0, static_cast<std::uint8_t>(byte & 0x3F)};
    }
};

// Service codes. A response carries the request's code with bit 7 (R/R) set.
namespace Service {
constexpr std::uint8_t GetAttributesAll = 0x01;
constexpr std::uint8_t Reset = 0x05;
constexpr std::uint8_t GetAttributeSingle = 0x0E;
constexpr std::uint8_t SetAttributeSingle = 0x10;
constexpr std::uint8_t AllocateMasterSlave = 0x4B; // Allocate_Master/Slave_Connection_Set
constexpr std::uint8_t ReleaseMasterSlave = 0x4C;  // Release_Master/Slave_Connection_Set
constexpr std::uint8_t ErrorResponse = 0x94;       // 0x14 with the response bit
constexpr std::uint8_t ResponseBit = 0x80;
} // namespace Service

// Object classes the protocol itself names.
constexpr std::uint8_t IdentityClass = 0x01;
constexpr std::uint8_t DeviceNetClass = 0x03;

// Allocation and release choice bits of the Predefined Master/Slave Connection Set.
namespace Allocation {
constexpr std::uint8_t Explicit = 0x01;
constexpr std::uint8_t Poll = 0x02;
constexpr std::uint8_t BitStrobe = 0x04;
constexpr std::uint8_t MulticastPoll = 0x08;
constexpr std::uint8_t ChangeOfState = 0x10;
constexpr std::uint8_t Cyclic = 0x20;
constexpr std::uint8_t AckSuppression = 0x40;
} // namespace Allocation

// General status codes of an error response.
namespace GeneralStatus {
constexpr std::uint8_t Success = 0x00;
constexpr std::uint8_t ConnectionFailure = 0x01;
constexpr std::uint8_t ResourceUnavailable = 0x02;
constexpr std::uint8_t PathDestinationUnknown = 0x05;
constexpr std::uint8_t ServiceNotSupported = 0x08;
constexpr std::uint8_t InvalidAttributeValue = 0x09;
constexpr std::uint8_t AlreadyInRequestedState = 0x0B;
constexpr std::uint8_t ObjectStateConflict = 0x0C;
constexpr std::uint8_t AttributeNotSettable = 0x0E;
constexpr std::uint8_t PrivilegeViolation = 0x0F;
constexpr std::uint8_t DeviceStateConflict = 0x10;
constexpr std::uint8_t ReplyDataTooLarge = 0x11;
constexpr std::uint8_t NotEnoughData = 0x13;
constexpr std::uint8_t AttributeNotSupported = 0x14;
constexpr std::uint8_t TooMuchData = 0x15;
constexpr std::uint8_t ObjectDoesNotExist = 0x16;
constexpr std::uint8_t StoreOperationFailure = 0x19;
constexpr std::uint8_t InvalidParameter = 0x20;
constexpr std::uint8_t VendorSpecific = 0x1F;
} // namespace GeneralStatus

// The additional code of an error response that has nothing to add.
constexpr std::uint8_t NoAdditionalCode = 0xFF;
// The additional code with which a node refuses the connection set that another master owns.
constexpr std::uint8_t OwnedByAnotherMaster = 0x01;

// The meaning of a general status code in words ("unknown general status" for others).
const char* GeneralStatusText(std::uint8_t generalStatus);

// How wide the class and instance IDs of a request are, as a node's allocate response gives
// it (bits 0-3 of its one data byte): DeviceNet 8/8, 8/16, 16/16 or 16/8 bits.
enum class BodyFormat : std::uint8_t {
    Class8Instance8 = 0,
    Class8Instance16 = 1,
    Class16Instance16 = 2,
    Class16Instance8 = 3,
};

// A request's message body (what follows the header): service code (bit 7 clear), class ID,
// instance ID — each 8 or 16 bits, low byte first — then the service data.
struct ExplicitRequest {
    std::uint8_t service = 0;
    std::uint16_t classId = 0;
    std::uint16_t instance = 0;
    std::vector<std::uint8_t> data;
};

// Nothing when the class or instance does not fit the format.
std::optional<std::vector<std::uint8_t>>
EncodeRequestBody(const ExplicitRequest& request, BodyFormat format = BodyFormat::Class8Instance8);
// Nothing for a body too short for its service, class and instance, or one with the response
// bit set.
std::optional<ExplicitRequest> DecodeRequestBody(const std::uint8_t* body, std::size_t size,
                                                 BodyFormat format = BodyFormat::Class8Instance8);

// A response's message body: the request's service code with bit 7 set, then the service data.
std::vector<std::uint8_t> EncodeResponseBody(std::uint8_t requestService,
                                             const std::vector<std::uint8_t>& data);
// An error response: 0x94, general status, additional code.
std::vector<std::uint8_t> EncodeErrorBody(std::uint8_t generalStatus,
                                          std::uint8_t additionalCode = NoAdditionalCode);

// An unfragmented explicit message: the header (its Frag bit clear), then the body, which must
// fit: at most 7 bytes.
constexpr std::size_t MaxUnfragmentedBody = 7;
CanFrame ExplicitFrame(std::uint16_t id, MessageHeader header,
                       const std::vector<std::uint8_t>& body);

} // namespace bus::devicenet
