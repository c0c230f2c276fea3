#pragma once

#include "DeviceNet.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace bus::devicenet {

// The Duplicate MAC ID check message, on Group 2 message ID 7 of the MAC ID checked, seven
// bytes: request/response flag (bit 7; 0 request, 1 response) with the physical port number
// (bits 0-6), the vendor ID (UINT) and the serial number (UDINT), low byte first.
struct DuplicateMacMessage {
    bool response = false;
    std::uint8_t port = 0; // 0 to 127
    std::uint16_t vendorId = 0;
    std::uint32_t serialNumber = 0;

    friend bool operator==(const DuplicateMacMessage&, const DuplicateMacMessage&) = default;
};

CanFrame EncodeDuplicateMac(std::uint8_t mac, const DuplicateMacMessage& message);

struct DuplicateMacFrame {
    std::uint8_t mac;
    DuplicateMacMessage message;
};
// Nothing for a frame that is not a check message: another identifier, a remote request, a
// length other than 7.
std::optional<DuplicateMacFrame> DecodeDuplicateMac(const CanFrame& frame);

// A node's answer to a check request for its own MAC ID (the response, with its own port,
// vendor ID and serial number); nothing for any other frame.
std::optional<CanFrame> AnswerDuplicateMac(const CanFrame& frame, std::uint8_t mac,
                                           const DuplicateMacMessage& self);

enum class MacCheckState : std::uint8_t {
    Idle,      // not started
    Checking,  // the requests are going out
    Online,    // no other node has the MAC ID; checks from others are answered
    Duplicate, // another node has it: the communication fault state, silent until started anew
};

// Going online with a MAC ID: the check request goes out, and again one second later; when a
// second more has passed without a word the node is online. A response on the MAC ID — or a
// request, which comes from another node going online with it — while checking means that
// the MAC ID is taken: the node stays off the network. Once online, the node answers every
// request for its MAC ID with a response (the other node is the one to give way) and still
// takes a response as a duplicate (two networks joined while running).
//
// Step functions: the caller sends the frames of every Output, feeds every received frame to
// OnFrame and calls OnTime at the deadline. Not thread-safe.
class DuplicateMacCheck {
public:
    static constexpr std::chrono::milliseconds RequestInterval{1000};

    DuplicateMacCheck(std::uint8_t mac, std::uint8_t port, std::uint16_t vendorId,
                      std::uint32_t serialNumber);

    std::uint8_t Mac() const { return mac_; }
    // Starts (or starts again) the check: the first request now.
    Output Start(TimePoint now);
    // Online at once, without a check (a node that answers only).
    void SetOnline();

    Output OnFrame(const CanFrame& frame, TimePoint now);
    Output OnTime(TimePoint now);

    MacCheckState State() const { return state_; }
    // Duplicate: what the other node sent.
    const std::optional<DuplicateMacMessage>& Other() const { return other_; }

private:
    Output output(std::vector<CanFrame> frames = {}) const;

    const std::uint8_t mac_;
    const DuplicateMacMessage self_;
    MacCheckState state_ = MacCheckState::Idle;
    int requestsSent_ = 0;
    TimePoint deadline_ = NoDeadline;
    std::optional<DuplicateMacMessage> other_;
};

} // namespace bus::devicenet
