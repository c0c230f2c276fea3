#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// A downloader's copy of the image it has sent: every downloaded byte at its image address,
// 0xFF where nothing was written (as an erased sector holds it). The sector checksum is
// summed over it. Its size is fixed when it is made; nothing is ever written past its end.
class ImageMirror {
public:
    using value_type = std::uint8_t;
    using const_iterator = std::vector<std::uint8_t>::const_iterator;
    using iterator = const_iterator;

    // size bytes, all 0xFF.
    explicit ImageMirror(std::size_t size);

    // Copies length bytes of data to address on; the bytes that fall past the end are left
    // out. Nothing is copied without data.
    void put(std::uint32_t address, const std::uint8_t* data, std::size_t length);
    // Every byte back to 0xFF.
    void clear();

    // The sum of the bytes from index 0, byteCount of them but none past the end, in an
    // unsigned 32-bit sum that wraps.
    std::uint32_t byteSum(std::size_t byteCount) const;
    // The sum of byteCount / 2 little-endian 16-bit words from index from on, in an unsigned
    // 32-bit sum that wraps. It ends at the first word that does not lie wholly inside.
    std::uint32_t wordSum(std::size_t byteCount, std::size_t from = 0) const;

    std::size_t size() const { return bytes_.size(); }
    std::uint8_t operator[](std::size_t at) const { return bytes_[at]; }
    const_iterator begin() const { return bytes_.begin(); }
    const_iterator end() const { return bytes_.end(); }

    friend bool operator==(const ImageMirror& mirror, const std::vector<std::uint8_t>& bytes) {
        return mirror.bytes_ == bytes;
    }

private:
    std::vector<std::uint8_t> bytes_;
};
