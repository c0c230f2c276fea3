#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace sim {

// Why a node refused an operation; a protocol layer maps it to its own error codes (an SDO
// abort code, a DeviceNet general status code, a driver's 0).
enum class NodeError : std::uint8_t {
    None = 0,
    NoSuchSector,      // the sector does not exist
    OutOfRange,        // an address or length outside the sector
    NotErased,         // a write would set a bit that only an erase sets
    NotInDownloadMode, // flash and boot changes need download mode
    WrongPassword,     // the download-mode password does not match
    StorageFailed,     // the change could not be stored: it did not happen
    Busy,              // the node is restarting and not on the bus
};

const char* NodeErrorText(NodeError error);

// An operation's outcome: true when it was done, else the reason it was refused.
struct [[nodiscard]] NodeResult {
    NodeError error = NodeError::None;

    NodeResult() = default;
    NodeResult(NodeError e) : error(e) {}
    explicit operator bool() const { return error == NodeError::None; }
    friend bool operator==(NodeResult a, NodeResult b) { return a.error == b.error; }
};

// Download mode runs the loader, which may change the flash; application mode runs the image
// of one sector.
enum class NodeMode : std::uint8_t { Download = 0, Application = 1 };

// Where a node takes the current time from: tests drive it, the drivers pass the real one.
using NodeClock = std::function<std::chrono::steady_clock::time_point()>;

inline NodeClock SteadyNodeClock() {
    return [] {
        return std::chrono::steady_clock::now();
    };
}

} // namespace sim
