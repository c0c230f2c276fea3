#pragma once

#include "DeviceNet.h"
#include "Fragmentation.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace bus::devicenet {

// What an object of the node made of a service request: success with the response's service
// data, or an error response's two codes.
struct ServiceResult {
    std::uint8_t generalStatus = GeneralStatus::Success;
    std::uint8_t additionalCode = NoAdditionalCode;
    std::vector<std::uint8_t> data;

    static ServiceResult Ok(std::vector<std::uint8_t> data = {}) {
        return {GeneralStatus::Success, NoAdditionalCode, std::move(data)};
    }
    static ServiceResult Error(std::uint8_t generalStatus,
                               std::uint8_t additionalCode = NoAdditionalCode) {
        return {generalStatus, additionalCode, {}};
    }
    bool ok() const { return generalStatus == GeneralStatus::Success; }
};

// The objects of a node, as its explicit messaging server reaches them.
class ExplicitObjects {
public:
    virtual ~ExplicitObjects() = default;

    // Carries out one service request — Get_Attribute_Single (data: the attribute ID),
    // Set_Attribute_Single (the attribute ID, then the value), Reset, or any other — and
    // answers. Fragmented requests arrive whole. Unknown objects answer
    // GeneralStatus::ObjectDoesNotExist, unknown services ServiceNotSupported, and so on.
    virtual ServiceResult Service(std::uint8_t service, std::uint16_t classId,
                                  std::uint16_t instance,
                                  const std::vector<std::uint8_t>& request) = 0;
};

// The slave's side of explicit messaging for one node (a Group 2 Only server) with the
// message body format 8/8.
//
// On its Group 2 Only Unconnected Explicit Request identifier (message ID 6) it answers
// Allocate_Master/Slave_Connection_Set and Release_Master/Slave_Connection_Set to the
// DeviceNet object (class 3, instance 1) and refuses everything else there (service not
// supported; object does not exist for another class or instance). Of the connection set it
// offers the explicit connection alone:
// - allocation choice 0x01 from a master while free: granted, answer 0xCB 0x00 (format 8/8);
// - by the master that holds it: "already in requested mode/state" (0x0B);
// - by another master: "object state conflict" (0x0C), additional code 0x01;
// - any other choice bit: "resource unavailable" (0x02); choice 0, or an allocator MAC ID
//   over 63: "invalid parameter" (0x20); a request without its two data bytes "not enough
//   data" (0x13), with more "too much data" (0x15).
// Release (choice bit 0x01) by the master that holds it frees the connection (answer 0xCC);
// by another master: 0x0C / 0x01; when nothing is allocated: 0x0B. Both services are also
// accepted on the connection itself.
//
// Once allocated, requests on message ID 4 whose header carries the holder's MAC ID go to the
// node's objects and are answered on message ID 3 with the holder's MAC ID and the request's
// XID in the header. A fragmented request is acknowledged fragment by fragment and carried
// out when whole; a response longer than seven bytes goes in fragments, each sent when the
// one before is acknowledged. A new request ends any transfer in progress.
//
// Time-outs, chosen to fit the master's waits (ExplicitClient::DefaultTimeout, 1000 ms): a
// response fragment not acknowledged within the ack time-out (500 ms) is sent once more, and
// after a second wait the response is given up — so a lost fragment or acknowledgement is
// mended before the master stops waiting. A fragmented request that stalls for the reassembly
// time-out (2500 ms: longer than the master's wait for an acknowledgement and its one repeat)
// is dropped.
//
// Inactivity watchdog: the explicit connection's expected packet rate is 2500 ms, and when
// nothing comes from the holder on the connection for four times that (10 s; settable, 0 =
// never) the connection is released, as a node deletes a timed-out explicit connection. The
// master must then allocate again.
//
// Step functions, as ExplicitClient; not thread-safe.
class ExplicitServer {
public:
    static constexpr std::chrono::milliseconds DefaultAckTimeout{500};
    static constexpr std::chrono::milliseconds DefaultReassemblyTimeout{2500};
    static constexpr std::chrono::milliseconds DefaultInactivityTimeout{4 * 2500};
    // A fragmented request growing past this is refused with "too much data".
    static constexpr std::size_t DefaultMaxRequestSize = 4096;

    ExplicitServer(std::uint8_t mac, ExplicitObjects& objects);

    std::uint8_t Mac() const { return mac_; }
    void SetAckTimeout(std::chrono::milliseconds timeout) { ackTimeout_ = timeout; }
    void SetReassemblyTimeout(std::chrono::milliseconds timeout) { reassemblyTimeout_ = timeout; }
    void SetInactivityTimeout(std::chrono::milliseconds timeout) { inactivityTimeout_ = timeout; }
    void SetMaxRequestSize(std::size_t size) { receiver_.SetMaxSize(size); }

    Output OnFrame(const CanFrame& frame, TimePoint now);
    Output OnTime(TimePoint now);
    // Forgets the connection and any transfer without a word (the node restarts).
    void Reset();

    bool Allocated() const { return allocated_; }
    // The MAC ID of the master that holds the connection.
    std::optional<std::uint8_t> Master() const;
    // A fragmented request or response in progress.
    bool Busy() const { return phase_ != Phase::Idle; }
    // When the server wants OnTime next (a fragment's time-out, the inactivity watchdog), as
    // its last step returned it; NoDeadline when only a frame can change anything.
    TimePoint Deadline() const { return waiting().deadline; }

private:
    enum class Phase : std::uint8_t { Idle, Receiving, Sending };

    Output unconnected(const CanFrame& frame, TimePoint now);
    Output connected(const CanFrame& frame, TimePoint now);
    Output fragment(const Fragment& fragment, TimePoint now);
    // Carries out a whole request body from the holder; the response frames.
    Output carryOut(const std::vector<std::uint8_t>& body, TimePoint now);
    std::vector<std::uint8_t> connectionSet(std::uint8_t requester, const ExplicitRequest& request,
                                            TimePoint now, bool& released);
    Output respond(std::vector<std::uint8_t> body, std::uint8_t to, TimePoint now);
    bool watchdogExpired(TimePoint now) const;
    void endTransfer();
    void release();
    Output waiting(std::vector<CanFrame> frames = {}) const;
    std::uint16_t responseId() const { return Group2Id(mac_, Group2Message::SlaveResponse); }

    const std::uint8_t mac_;
    ExplicitObjects& objects_;
    std::chrono::milliseconds ackTimeout_ = DefaultAckTimeout;
    std::chrono::milliseconds reassemblyTimeout_ = DefaultReassemblyTimeout;
    std::chrono::milliseconds inactivityTimeout_ = DefaultInactivityTimeout;

    bool allocated_ = false;
    std::uint8_t holder_ = 0;
    TimePoint lastActivity_{};

    Phase phase_ = Phase::Idle;
    bool xid_ = false; // of the request in progress
    bool resent_ = false;
    TimePoint transferDeadline_ = NoDeadline;
    FragmentReceiver receiver_{DefaultMaxRequestSize};
    FragmentSender sender_;
};

} // namespace bus::devicenet
