#pragma once

#include "CanFrame.h"
#include "CanPort.h"

#include <ostream>

// Frames and states in test messages as people read them.
namespace bus {

inline void PrintTo(const CanFrame& frame, std::ostream* os) {
    *os << ToCandump(frame);
}

inline void PrintTo(PortState state, std::ostream* os) {
    *os << PortStateName(state);
}

} // namespace bus
