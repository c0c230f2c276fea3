#include "Crc16.h"

namespace bus::canopen {

std::uint16_t Crc16Ccitt(std::span<const std::uint8_t> data, std::uint16_t crc) {
    for (const std::uint8_t byte : data) {
        crc = static_cast<std::uint16_t>(crc ^ byte << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

} // namespace bus::canopen
