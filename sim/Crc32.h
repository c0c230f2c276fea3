#pragma once

#include <cstddef>
#include <cstdint>

namespace sim {

// The CRC-32 of Ethernet and zip: polynomial 0x04C11DB7 reflected (0xEDB88320), initial
// value and final xor 0xFFFFFFFF. "123456789" gives 0xCBF43926.
std::uint32_t Crc32(const std::uint8_t* bytes, std::size_t size);

} // namespace sim
