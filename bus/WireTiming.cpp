#include "WireTiming.h"

#include <algorithm>

namespace bus {

namespace {

// Bits before stuffing outside the stuffed region: CRC delimiter, ACK slot and delimiter,
// end of frame, interframe space.
constexpr std::uint32_t TrailingBits = 1 + 2 + 7 + 3;

void appendBits(std::vector<bool>& bits, std::uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i)
        bits.push_back(((value >> i) & 1u) != 0);
}

std::uint32_t dataLength(const CanFrame& frame) {
    return frame.remote ? 0u : std::min<std::uint32_t>(frame.length, CanFrame::MaxLength);
}

} // namespace

std::uint16_t Crc15(const std::vector<bool>& bits) {
    std::uint16_t crc = 0;
    for (bool bit : bits) {
        const bool feedback = bit != (((crc >> 14) & 1u) != 0);
        crc = static_cast<std::uint16_t>((crc << 1) & 0x7FFF);
        if (feedback)
            crc ^= 0x4599;
    }
    return crc;
}

std::uint16_t Crc15(const std::uint8_t* bytes, std::size_t count) {
    std::vector<bool> bits;
    bits.reserve(count * 8);
    for (std::size_t i = 0; i < count; ++i)
        appendBits(bits, bytes[i], 8);
    return Crc15(bits);
}

std::vector<bool> StuffedRegionBits(const CanFrame& frame) {
    std::vector<bool> bits;
    bits.reserve(34 + 64);
    bits.push_back(false); // start of frame, dominant
    appendBits(bits, frame.id & CanFrame::MaxId, 11);
    bits.push_back(frame.remote); // RTR: recessive for a remote request
    bits.push_back(false);        // IDE: standard format
    bits.push_back(false);        // r0
    appendBits(bits, std::min<std::uint8_t>(frame.length, 15), 4);
    for (std::uint32_t i = 0; i < dataLength(frame); ++i)
        appendBits(bits, frame.data[i], 8);
    appendBits(bits, Crc15(bits), 15);
    return bits;
}

std::uint32_t StuffBitCount(const std::vector<bool>& bits) {
    std::uint32_t stuffed = 0;
    int run = 0;
    bool level = false;
    for (bool bit : bits) {
        if (run > 0 && bit == level) {
            ++run;
        } else {
            level = bit;
            run = 1;
        }
        if (run == 5) {
            ++stuffed;
            // The stuff bit has the other level and starts the next run.
            level = !level;
            run = 1;
        }
    }
    return stuffed;
}

std::uint32_t FrameBits(const CanFrame& frame, Stuffing stuffing) {
    const std::uint32_t region = 34 + 8 * dataLength(frame);
    const std::uint32_t stuff = stuffing == Stuffing::WorstCase
                                    ? (region - 1) / 4
                                    : StuffBitCount(StuffedRegionBits(frame));
    return region + stuff + TrailingBits;
}

std::chrono::nanoseconds FrameTime(const CanFrame& frame, std::uint32_t bitRate,
                                   Stuffing stuffing) {
    if (bitRate == 0)
        return std::chrono::nanoseconds::zero();
    const std::uint64_t bits = FrameBits(frame, stuffing);
    return std::chrono::nanoseconds((bits * 1'000'000'000ull + bitRate - 1) / bitRate);
}

} // namespace bus
