#pragma once

#include "CanFrame.h"
#include "FuzzInput.h"

#include <cstdint>
#include <deque>

// The frames and the link a protocol target decodes from its input, one way for every target.

// A frame with the identifier given, and the rest from the input: a length byte (% 10: 9 is a
// remote request) and 8 data bytes.
inline bus::CanFrame FrameWithId(FuzzInput& in, std::uint16_t id) {
    bus::CanFrame frame;
    frame.id = id;
    const std::uint8_t length = in.Byte() % 10;
    frame.remote = length == 9;
    frame.length = frame.remote ? 0 : length;
    for (auto& b : frame.data)
        b = in.Byte();
    return frame;
}

// Any frame: its identifier (2 bytes, & 0x7FF) first, then as FrameWithId.
inline bus::CanFrame AnyFrame(FuzzInput& in) {
    const auto id = static_cast<std::uint16_t>(in.Word() & bus::CanFrame::MaxId);
    return FrameWithId(in, id);
}

// One direction of a link that loses and doubles frames.
inline void LoseFirst(std::deque<bus::CanFrame>& queue) {
    if (!queue.empty())
        queue.pop_front();
}

inline void DoubleFirst(std::deque<bus::CanFrame>& queue) {
    if (!queue.empty())
        queue.push_front(queue.front());
}
