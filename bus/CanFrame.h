#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

namespace bus {

// One classic CAN frame with an 11-bit identifier: a data frame of 0 to 8 bytes, or a remote
// request, whose length is the length it asks for and which carries no data.
struct CanFrame {
    static constexpr std::uint16_t MaxId = 0x7FF;
    static constexpr std::uint8_t MaxLength = 8;

    std::uint16_t id = 0;
    bool remote = false;
    std::uint8_t length = 0;
    std::array<std::uint8_t, 8> data{};

    // A data frame with the given bytes (at most 8; further bytes are dropped).
    static CanFrame Data(std::uint16_t id, std::initializer_list<std::uint8_t> bytes);
    static CanFrame Data(std::uint16_t id, const std::uint8_t* bytes, std::size_t count);
    // A remote request for length bytes.
    static CanFrame Remote(std::uint16_t id, std::uint8_t length = 0);

    // Identifier in 11 bits and length at most 8.
    bool Valid() const { return id <= MaxId && length <= MaxLength; }

    // Two frames are equal when they look the same on the wire: identifier, kind, length and
    // the bytes within the length (bytes past it, and a remote request's, do not count).
    friend bool operator==(const CanFrame& a, const CanFrame& b);
};

// The frame as candump writes it: "603#230F36002B1A0000", a remote request "703#R", or with
// the length it asks for "703#R1". Identifier in three upper-case hex digits.
std::string ToCandump(const CanFrame& frame);

// Reads that text back; nothing for text that is not a classic frame with an 11-bit
// identifier ("123#", "123#R", "123#R8", "7FF#0102"; hex digits in either case).
std::optional<CanFrame> ParseCandump(std::string_view text);

} // namespace bus
