#pragma once

#include "CanFrame.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace bus {

// How long a classic CAN frame with an 11-bit identifier occupies the wire.
//
// Its bits: start of frame 1, identifier 11, RTR 1, IDE 1, r0 1, DLC 4, data 8 per byte
// (none in a remote request), CRC 15, CRC delimiter 1, ACK slot and delimiter 2, end of
// frame 7, and the 3 bits of interframe space before the next frame may start: 47 + 8n.
// From the start of frame to the end of the CRC the transmitter inserts a stuff bit of the
// other level after five equal bits in a row (the stuff bit counts towards the next run).
enum class Stuffing : std::uint8_t {
    Computed,  // the stuff bits this frame's own bits need (CRC included)
    WorstCase, // the most any frame of this length could need
};

// The CAN CRC-15 (polynomial 0x4599, initial value 0) of a bit sequence, first bit first.
std::uint16_t Crc15(const std::vector<bool>& bits);
// The same over whole bytes, most significant bit of each byte first.
std::uint16_t Crc15(const std::uint8_t* bytes, std::size_t count);

// The frame's bits from start of frame to the last CRC bit, before stuffing.
std::vector<bool> StuffedRegionBits(const CanFrame& frame);
// The stuff bits a sequence of bits needs.
std::uint32_t StuffBitCount(const std::vector<bool>& bits);

// The frame's bits on the wire, interframe space included.
std::uint32_t FrameBits(const CanFrame& frame, Stuffing stuffing = Stuffing::Computed);
// The time those bits take at the bit rate (bits per second, above 0).
std::chrono::nanoseconds FrameTime(const CanFrame& frame, std::uint32_t bitRate,
                                   Stuffing stuffing = Stuffing::Computed);

} // namespace bus
