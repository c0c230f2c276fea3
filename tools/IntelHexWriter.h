#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Intel HEX text for an image placed at a start address: extended linear address records
// where the upper 16 bits change, data records of at most recordSize bytes, an end record.
std::string IntelHexText(const std::vector<std::uint8_t>& image, std::uint32_t startAddress,
                         unsigned recordSize = 32);
