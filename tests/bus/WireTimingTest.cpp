#include "WireTiming.h"

#include <gtest/gtest.h>
#include <string>

namespace {

using bus::CanFrame;
using bus::Stuffing;

std::vector<bool> bits(const std::string& text) {
    std::vector<bool> out;
    for (char c : text)
        out.push_back(c == '1');
    return out;
}

TEST(WireTiming, Crc15MatchesTheCatalogueCheckValue) {
    // CRC-15/CAN of the ASCII digits 1 to 9.
    const std::string digits = "123456789";
    EXPECT_EQ(bus::Crc15(reinterpret_cast<const std::uint8_t*>(digits.data()), digits.size()),
              0x059E);
}

TEST(WireTiming, StuffBitAfterFiveEqualBitsStartsTheNextRun) {
    struct Case {
        const char* bits;
        std::uint32_t stuffed;
    };
    const Case cases[] = {
        {"0000", 0},         {"00000", 1},
        {"000010000", 0},    {"0000000000", 2}, // 00000 [1] 00000 [1]
        {"0000011111", 2}, // 00000 [1] 1111 [0] 1: the stuff bit begins the run of ones
        {"1111100000", 2}, // 11111 [0] 0000 [1] 0
        {"010101010101", 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(bus::StuffBitCount(bits(c.bits)), c.stuffed) << c.bits;
}

TEST(WireTiming, CountsTheBitsOfAFrame) {
    // Identifier 0, no data: 34 dominant bits from start of frame to the end of the CRC
    // (the CRC of zeros is zero), stuffed after bits 5, 10, 15, 20, 25 and 30; then 13.
    const CanFrame zero = CanFrame::Data(0x000, {});
    EXPECT_EQ(bus::StuffedRegionBits(zero), std::vector<bool>(34, false));
    EXPECT_EQ(bus::FrameBits(zero), 34u + 6 + 13);
    // The worst cases everyone quotes: 55 bits without data, 135 with eight bytes.
    EXPECT_EQ(bus::FrameBits(zero, Stuffing::WorstCase), 55u);
    EXPECT_EQ(bus::FrameBits(CanFrame::Data(0x7FF, {1, 2, 3, 4, 5, 6, 7, 8}), Stuffing::WorstCase),
              135u);
    // A remote request carries no data field, whatever length it asks for.
    EXPECT_EQ(bus::FrameBits(CanFrame::Remote(0x703, 1), Stuffing::WorstCase), 55u);
    EXPECT_EQ(bus::StuffedRegionBits(CanFrame::Remote(0x703, 1)).size(), 34u);
}

TEST(WireTiming, ComputedStuffingLiesBetweenNoneAndTheWorstCase) {
    for (std::uint16_t id : {0x000, 0x055, 0x2AA, 0x580, 0x603, 0x7FF})
        for (std::uint8_t length = 0; length <= 8; ++length) {
            CanFrame frame;
            frame.id = id;
            frame.length = length;
            for (std::uint8_t i = 0; i < length; ++i)
                frame.data[i] = static_cast<std::uint8_t>(id * 7 + i * 0x11);
            const std::uint32_t unstuffed = 47 + 8u * length;
            EXPECT_GE(bus::FrameBits(frame), unstuffed);
            EXPECT_LE(bus::FrameBits(frame), bus::FrameBits(frame, Stuffing::WorstCase));
        }
}

TEST(WireTiming, TimeIsBitsOverTheBitRate) {
    using std::chrono::nanoseconds;
    const CanFrame full = CanFrame::Data(0x7FF, {1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_EQ(bus::FrameTime(full, 125000, Stuffing::WorstCase), nanoseconds(1080000));
    EXPECT_EQ(bus::FrameTime(CanFrame::Data(0, {}), 1000000), nanoseconds(53000));
    EXPECT_EQ(bus::FrameTime(full, 0), nanoseconds(0));
}

} // namespace
