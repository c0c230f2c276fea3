#pragma once

#include "DeviceNet.h"
#include "Fragmentation.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace bus::devicenet {

enum class ExplicitStatus : std::uint8_t {
    Idle,    // nothing started yet
    Running, // waiting for the node
    Done,    // the node answered with success
    Failed,  // see ExplicitResult::failure
};

enum class ExplicitFailure : std::uint8_t {
    None,
    ErrorResponse,   // the node answered with an error response (general status, additional code)
    Timeout,         // the node did not answer, or did not acknowledge a fragment twice
    RequestTooLong,  // the node refused the fragmented request as too much data
    ResponseTooLong, // the response grew past this client's most (it was refused)
    FragmentLost,    // a response fragment came out of order: the response is incomplete
    BadResponse,     // an answer that is not one to the request (another service code, no data)
    InvalidRequest,  // the request cannot be sent: a response code as service, or a class or
                     // instance too wide for the node's message body format
    Cancelled,       // ended by Cancel
};

const char* ExplicitFailureText(ExplicitFailure failure);

struct ExplicitResult {
    ExplicitStatus status = ExplicitStatus::Idle;
    ExplicitFailure failure = ExplicitFailure::None;
    // ErrorResponse: the node's codes (additional code 0xFF when the node gave none).
    std::uint8_t generalStatus = 0;
    std::uint8_t additionalCode = 0;
    // The failure came while allocating the connection that a request needed (the request
    // itself was not sent).
    bool duringAllocation = false;
    // Done: the response's service data (a request), the message body format byte (an
    // allocation the node granted now; empty when it was granted before).
    std::vector<std::uint8_t> data;
};

// The master's side of explicit messaging with one node over the Predefined Master/Slave
// Connection Set, one operation at a time.
//
// Allocation: the Allocate_Master/Slave_Connection_Set request (0x4B to class 3, instance 1,
// allocation choice 0x01 = explicit, then the master's MAC ID) goes on the node's Group 2 Only
// Unconnected Explicit Request identifier (message ID 6); the node answers on message ID 3
// with 0xCB and its message body format. An error response "already in requested mode/state"
// (0x0B) counts as granted: the connection is this master's already. Release (0x4C, release
// choice 0x01) goes the same way; there, 0x0B counts as released.
//
// Requests go on message ID 4 with the master's MAC ID in the header, the response comes on
// message ID 3. A request body longer than seven bytes goes in fragments, each sent when the
// node has acknowledged the one before; a fragmented response is acknowledged fragment by
// fragment. Such a request is answered only after its last fragment has gone: an answer that
// comes while an earlier fragment waits for its acknowledgement is a late one to an earlier
// request and is ignored. Once the last fragment is out, an answer stands for its lost
// acknowledgement.
//
// The header's XID alternates from one request to the next — allocations and releases
// included, starting at 0 — and the node echoes it: an answer with the other XID, a late one
// to an earlier request, is ignored.
//
// A request on a connection that this client has not allocated — or that has been idle for
// ReallocateAfter, long enough that the node's inactivity watchdog may have released it —
// allocates it first, in the same operation. A time-out leaves the connection's state unknown
// and so does a successful Identity Reset (the node restarts): the next request allocates
// again.
//
// Time-out: each wait for the node (response, acknowledgement, next fragment) lasts the
// time-out; a fragment that is not acknowledged within it is sent once more, and the second
// wait ends the operation. DeviceNet has no abort message: a failed or cancelled operation
// sends nothing.
//
// Step functions, as the CANopen engines: the caller sends the frames of every Output it gets,
// feeds every received frame to OnFrame (frames of other identifiers, and answers addressed to
// another master, are ignored) and calls OnTime when the deadline comes. Not thread-safe: one
// caller at a time.
class ExplicitClient {
public:
    static constexpr std::chrono::milliseconds DefaultTimeout{1000};
    // Half the inactivity time of a node's explicit connection (4 × its expected packet rate
    // of 2500 ms): a connection idle this long is allocated again before it is used.
    static constexpr std::chrono::milliseconds DefaultReallocateAfter{5000};
    static constexpr std::size_t DefaultMaxResponseSize = 0xFFFF;

    ExplicitClient(std::uint8_t masterMac, std::uint8_t node,
                   std::chrono::milliseconds timeout = DefaultTimeout);

    std::uint8_t MasterMac() const { return masterMac_; }
    std::uint8_t Node() const { return node_; }

    // For the waits that begin from now on.
    void SetTimeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }
    std::chrono::milliseconds Timeout() const { return timeout_; }
    // 0: never allocate again only because the connection was idle.
    void SetReallocateAfter(std::chrono::milliseconds idle) { reallocateAfter_ = idle; }
    // A longer response is refused (acknowledged with "too much data") and fails.
    void SetMaxResponseSize(std::size_t size) { receiver_.SetMaxSize(size); }

    // Each Start… returns nothing (and changes nothing) while an operation runs.
    std::optional<Output> StartAllocate(TimePoint now);
    std::optional<Output> StartRelease(TimePoint now);
    // Any service: the request data is what follows the class and instance IDs.
    std::optional<Output> StartRequest(std::uint8_t service, std::uint16_t classId,
                                       std::uint16_t instance, std::vector<std::uint8_t> data,
                                       TimePoint now);
    // Get_Attribute_Single (0x0E) and Set_Attribute_Single (0x10).
    std::optional<Output> StartGetAttribute(std::uint16_t classId, std::uint16_t instance,
                                            std::uint8_t attribute, TimePoint now);
    std::optional<Output> StartSetAttribute(std::uint16_t classId, std::uint16_t instance,
                                            std::uint8_t attribute,
                                            const std::vector<std::uint8_t>& value, TimePoint now);

    Output OnFrame(const CanFrame& frame, TimePoint now);
    Output OnTime(TimePoint now);
    // Ends the running operation (Cancelled); nothing when idle. Sends nothing.
    Output Cancel();

    bool Busy() const { return result_.status == ExplicitStatus::Running; }
    const ExplicitResult& Result() const { return result_; }

    // Whether this client holds the node's explicit connection, as far as it knows.
    bool Allocated() const { return allocated_; }
    // Forget the connection (the node restarted, say): the next request allocates it again.
    void ForgetConnection() { allocated_ = false; }
    // The node's message body format, from its last allocate response (8/8 until then).
    BodyFormat Format() const { return format_; }

private:
    enum class Phase : std::uint8_t {
        Idle,
        Allocating, // unconnected allocate request sent
        Releasing,  // unconnected release request sent
        Sending,    // request fragment in flight, waiting for its acknowledgement
        Awaiting,   // request sent, waiting for the response
        Receiving,  // response fragments coming in
    };
    enum class Operation : std::uint8_t { Allocate, Release, Request };

    std::optional<Output> begin(Operation operation, TimePoint now);
    Output sendAllocate(TimePoint now);
    Output sendRequest(TimePoint now);
    Output onUnconnectedAnswer(const CanFrame& frame, TimePoint now);
    Output onFragment(const Fragment& fragment, TimePoint now);
    Output onReceiving(const Fragment& fragment, TimePoint now);
    Output onResponse(const std::uint8_t* body, std::size_t size, TimePoint now);
    Output wait(std::vector<CanFrame> frames, TimePoint now);
    Output finish(std::vector<std::uint8_t> data);
    Output fail(ExplicitFailure failure, std::uint8_t general = 0, std::uint8_t additional = 0);
    MessageHeader header() const { return {false, xid_, masterMac_}; }
    bool needsAllocation(TimePoint now) const;

    const std::uint8_t masterMac_;
    const std::uint8_t node_;
    std::chrono::milliseconds timeout_;
    std::chrono::milliseconds reallocateAfter_ = DefaultReallocateAfter;

    bool allocated_ = false;
    BodyFormat format_ = BodyFormat::Class8Instance8;
    TimePoint lastHeard_{}; // the last answer from the node

    Phase phase_ = Phase::Idle;
    Operation operation_ = Operation::Request;
    ExplicitRequest request_;
    bool xid_ = true; // of the request last sent: the first one toggles it to 0
    bool resent_ = false;
    TimePoint deadline_ = NoDeadline;
    FragmentSender sender_;
    FragmentReceiver receiver_{DefaultMaxResponseSize};

    ExplicitResult result_;
};

} // namespace bus::devicenet
