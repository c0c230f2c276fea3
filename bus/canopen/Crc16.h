#pragma once

#include <cstdint>
#include <span>

namespace bus::canopen {

// The CRC of an SDO block transfer: CRC-16 CCITT, polynomial 0x1021, not reflected, no final
// XOR. Starts from crc (0 for a new value), so a value may be taken in pieces: the CRC of
// "123456789" is 0x31C3.
std::uint16_t Crc16Ccitt(std::span<const std::uint8_t> data, std::uint16_t crc = 0);

} // namespace bus::canopen
