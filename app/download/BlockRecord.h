#pragma once

#include <cstdint>
#include <cstring>

// The record that carries one block to a node's firmware object: command code, sector,
// address bits 0-23 low byte first, length, then the data. The node never sees address bits
// 24-31.
class BlockRecord {
public:
    BlockRecord(std::uint8_t command, std::uint8_t sector, std::uint32_t address,
                std::uint8_t length, const std::uint8_t* data)
        : bytes_{command,
                 sector,
                 static_cast<std::uint8_t>(address),
                 static_cast<std::uint8_t>(address >> 8),
                 static_cast<std::uint8_t>(address >> 16),
                 length},
          size_(HeaderSize + length) {
        if (length)
            std::memcpy(bytes_ + HeaderSize, data, length);
    }

    const std::uint8_t* data() const { return bytes_; }
    std::uint16_t size() const { return size_; }

private:
    static constexpr std::uint16_t HeaderSize = 6;
    std::uint8_t bytes_[HeaderSize + 255];
    std::uint16_t size_;
};
