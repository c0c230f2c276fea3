#pragma once

#include "CanOpen.h"

#include <cstdint>
#include <optional>

namespace bus::canopen {

// NMT node control: id 0x000, two bytes: command specifier, node-ID (0: every node).
enum class NmtCommand : std::uint8_t {
    Start = 0x01,
    Stop = 0x02,
    EnterPreOperational = 0x80,
    ResetNode = 0x81,
    ResetCommunication = 0x82,
};

struct NmtMessage {
    NmtCommand command;
    std::uint8_t node; // 0: every node

    bool AddressesNode(std::uint8_t n) const { return node == 0 || node == n; }
};

CanFrame EncodeNmt(NmtCommand command, std::uint8_t node);
// Nothing for a frame that is not an NMT command: another id, a remote request, a length
// other than 2, an unknown command specifier or a node-ID over 127.
std::optional<NmtMessage> DecodeNmt(const CanFrame& frame);

// A node's NMT state as its guard replies and heartbeats carry it.
enum class NmtState : std::uint8_t {
    BootUp = 0x00,
    Stopped = 0x04,
    Operational = 0x05,
    PreOperational = 0x7F,
};

// The state a node enters on a command; nothing for the two resets, after which the node
// starts again and announces itself with a boot-up message.
std::optional<NmtState> StateAfter(NmtCommand command);

// The boot-up message: 0x700+n, one byte 0x00.
CanFrame EncodeBootUp(std::uint8_t node);
bool IsBootUp(const CanFrame& frame, std::uint8_t node);

} // namespace bus::canopen
