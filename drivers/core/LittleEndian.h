#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

namespace drivercore {

// The unsigned type of a value's width.
template <typename T>
using Bits = std::conditional_t<
    sizeof(T) == 1, std::uint8_t,
    std::conditional_t<sizeof(T) == 2, std::uint16_t,
                       std::conditional_t<sizeof(T) == 4, std::uint32_t, std::uint64_t>>>;

// A value's bytes on the bus, lowest first.
template <typename T> std::vector<std::uint8_t> ToLittleEndian(T value) {
    const auto bits = std::bit_cast<Bits<T>>(value);
    std::vector<std::uint8_t> bytes(sizeof(T));
    for (std::size_t i = 0; i < sizeof(T); ++i)
        bytes[i] = static_cast<std::uint8_t>(bits >> (8 * i));
    return bytes;
}

// The value of the first sizeof(T) bytes, lowest first; there must be that many.
template <typename T> T FromLittleEndian(const std::vector<std::uint8_t>& bytes) {
    Bits<T> bits = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i)
        bits = static_cast<Bits<T>>(bits | static_cast<Bits<T>>(bytes[i]) << (8 * i));
    return std::bit_cast<T>(bits);
}

} // namespace drivercore
