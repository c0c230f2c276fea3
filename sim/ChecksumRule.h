#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

// How a node sums a sector for its checksum: summands of 8 bits, or of 16 bits low byte
// first, over a window from the sector's start, added into 32 bits that wrap. The window is
// the sector's size, or a fixed length; bytes of the window beyond the sector count as 0xFF,
// and a 16-bit sum leaves out an odd last byte.
struct ChecksumRule {
    std::uint8_t width = 16;
    std::uint32_t window = 0; // bytes; 0: the sector's size

    std::uint32_t Sum(const std::uint8_t* sector, std::size_t size) const;
    bool Valid() const { return width == 8 || width == 16; }
};

} // namespace sim
