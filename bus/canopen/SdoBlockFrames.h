#pragma once

#include "CanOpen.h"

#include <cstdint>
#include <optional>

// The frames of an SDO block transfer that carry no value bytes. Byte 0 is the command;
// every frame is eight bytes, the unused ones 0.
namespace bus::canopen {

// The segments of one sub-block are numbered 1 to its block size, which is 1 to 127.
constexpr std::uint8_t MaxBlockSize = 127;
constexpr bool ValidBlockSize(std::uint8_t blockSize) {
    return blockSize >= 1 && blockSize <= MaxBlockSize;
}

// The value bytes one segment carries (bytes 1 to 7).
constexpr std::size_t BlockSegmentBytes = 7;

// C0 | crc<<2 | s<<1, index, sub-index, the size (LE) when s: the client's block download
// initiate, and the server's answer to a block upload initiate.
CanFrame SdoBlockInitiateWithSize(std::uint16_t cobId, std::uint16_t index, std::uint8_t subIndex,
                                  bool crc, std::optional<std::uint32_t> size);
// A0 | crc<<2, index, sub-index, the block size in byte 4: the client's block upload
// initiate (with no protocol switch: byte 5 is 0), and the server's answer to a block
// download initiate.
CanFrame SdoBlockInitiateWithBlockSize(std::uint16_t cobId, std::uint16_t index,
                                       std::uint8_t subIndex, bool crc, std::uint8_t blockSize);
// A2, the last sequence number received in order (0: none), the next sub-block's size.
CanFrame SdoBlockAck(std::uint16_t cobId, std::uint8_t ackseq, std::uint8_t blockSize);
// A3: the client's go-ahead for the segments of a block upload.
CanFrame SdoBlockUploadStart(std::uint16_t cobId);
// C1 | n<<2 (n: the bytes of the last segment that carry no value), the CRC (LE).
CanFrame SdoBlockEnd(std::uint16_t cobId, std::uint8_t unused, std::uint16_t crc);
// A1: the answer to the end.
CanFrame SdoBlockEndAnswer(std::uint16_t cobId);

// What byte 0 says, once the command specifier (the top three bits) is known to be 5 or 6.
constexpr bool IsBlockInitiateWithSize(std::uint8_t command) {
    return (command & 0xE1) == 0xC0;
}
constexpr bool IsBlockInitiateWithBlockSize(std::uint8_t command) {
    return (command & 0xE3) == 0xA0;
}
constexpr bool IsBlockAck(std::uint8_t command) {
    return (command & 0xE3) == 0xA2;
}
constexpr bool IsBlockUploadStart(std::uint8_t command) {
    return (command & 0xE3) == 0xA3;
}
constexpr bool IsBlockEnd(std::uint8_t command) {
    return (command & 0xE1) == 0xC1;
}
constexpr bool IsBlockEndAnswer(std::uint8_t command) {
    return (command & 0xE3) == 0xA1;
}
// The CRC flag of an initiate (cc or sc), and an end's unused bytes (n) and CRC.
constexpr bool BlockCrcFlag(std::uint8_t command) {
    return (command & 0x04) != 0;
}
constexpr std::uint8_t BlockEndUnused(std::uint8_t command) {
    return (command >> 2) & 0x07;
}
inline std::uint16_t BlockEndCrc(const CanFrame& frame) {
    return static_cast<std::uint16_t>(frame.data[1] | frame.data[2] << 8);
}

} // namespace bus::canopen
