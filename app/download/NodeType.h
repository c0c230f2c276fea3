#pragma once

#include <cstdint>

// The kind of target one run of the program serves.
enum TNodeType : std::uint8_t {
    NodeTypeNone = 0, // only while the node-type dialog is open
    NodeTypeDeviceNet = 1,
    NodeTypeCANopen = 2,
    NodeTypeVARNIX = 3,
};
