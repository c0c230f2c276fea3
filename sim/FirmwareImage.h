#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// The header every firmware image carries in its first 76 bytes: name (16), description
// (32), build date (12), build time (12), revision (32 bits, little-endian; major in bits
// 16..23, minor in bits 0..7). A node reads a sector's description from it.
struct FirmwareHeader {
    std::string name;
    std::string description;
    std::string buildDate;
    std::string buildTime;
    std::uint32_t revision = 0;
};

inline constexpr std::size_t FirmwareHeaderSize = 76;
inline constexpr std::size_t RevisionOffset = 72;

// A firmware image of size bytes: the header, then a payload that differs from one
// revision and name to the next. size must be at least FirmwareHeaderSize.
std::vector<std::uint8_t> MakeFirmwareImage(const FirmwareHeader& header, std::size_t size);

// The sum a node keeps as a sector's checksum: size / 2 words of 16 bits, low byte first,
// added into 32 bits that wrap.
std::uint32_t WordSum(const std::uint8_t* bytes, std::size_t size);

} // namespace sim
