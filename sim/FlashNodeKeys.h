#pragma once

#include "FlashNode.h"

#include <cstdint>
#include <optional>
#include <string>

namespace sim {

// How a refusal words a value that is not a number of a key that takes any 32-bit number.
enum class WordRefusal {
    Range,        // "key=value is not a number from 0 to 4294967295"
    ThirtyTwoBit, // "key=value is not a 32-bit number"
};

// What the keys every flash node has accept on one bus.
struct FlashKeyRules {
    std::uint32_t maxVendorId;
    std::uint32_t maxDeviceType;
    std::uint32_t maxProductCode;
    std::uint32_t maxRestartMilliseconds;
    WordRefusal wordRefusal;
};

// The keys of a node's section that every flash node has, whatever its bus:
//   vendor_id, device_type, product_code   identity, 0 to the bus's maximum
//   serial_number                          identity, any 32-bit number
//   password                               download-mode password, hexadecimal
//   restart_ms                             0 to the bus's maximum (decimal)
//   checksum_width                         8 or 16
//   checksum_window                        bytes summed, 0 for the sector's size; at most
//                                          the node's largest sector
//   sector_sizes                           bytes per sector, comma-separated, 1 to 255
//                                          sectors of at most 16 MiB together
// Numbers are decimal or 0x-hexadecimal, unless said otherwise. Reads the key's value into
// *flash: "" when it is good, else what is wrong; nothing when the key is not one of them.
std::optional<std::string> ReadFlashNodeKey(const std::string& key, const std::string& value,
                                            const FlashKeyRules& rules, FlashNodeSettings* flash);

} // namespace sim
