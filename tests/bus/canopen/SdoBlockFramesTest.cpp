#include "canopen/SdoBlockFrames.h"

#include "BusPrinters.h"
#include "canopen/Crc16.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using namespace bus::canopen;
using bus::ToCandump;

std::vector<std::uint8_t> bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

TEST(Crc16Ccitt, KnownValues) {
    struct Case {
        std::vector<std::uint8_t> data;
        std::uint16_t crc;
    };
    for (const Case& c : {Case{{}, 0x0000}, Case{bytes("123456789"), 0x31C3}, Case{{0x00}, 0x0000},
                          Case{{0x01}, 0x1021}, Case{{0xFF}, 0x1EF0}, Case{bytes("A"), 0x58E5}}) {
        SCOPED_TRACE(testing::PrintToString(c.data));
        EXPECT_EQ(Crc16Ccitt(c.data), c.crc);
    }
}

TEST(Crc16Ccitt, GoesOnFromAPart) {
    const auto whole = bytes("123456789");
    const std::span<const std::uint8_t> all(whole);
    EXPECT_EQ(Crc16Ccitt(all.subspan(4), Crc16Ccitt(all.first(4))), 0x31C3);
}

TEST(SdoBlockFrames, Layouts) {
    struct Case {
        bus::CanFrame frame;
        const char* wire;
    };
    for (const Case& c : {
             Case{SdoBlockInitiateWithSize(0x603, 0x1F50, 1, true, 20u), "603#C6501F0114000000"},
             Case{SdoBlockInitiateWithSize(0x603, 0x1F50, 1, false, std::nullopt),
                  "603#C0501F0100000000"},
             Case{SdoBlockInitiateWithSize(0x583, 0x1008, 0, true, 0x01020304u),
                  "583#C608100004030201"},
             Case{SdoBlockInitiateWithBlockSize(0x583, 0x1F50, 1, true, 127),
                  "583#A4501F017F000000"},
             Case{SdoBlockInitiateWithBlockSize(0x603, 0x1008, 0, false, 4),
                  "603#A008100004000000"},
             Case{SdoBlockAck(0x583, 3, 127), "583#A2037F0000000000"},
             Case{SdoBlockUploadStart(0x603), "603#A300000000000000"},
             Case{SdoBlockEnd(0x603, 1, 0x31C3), "603#C5C3310000000000"},
             Case{SdoBlockEnd(0x583, 6, 0xABCD), "583#D9CDAB0000000000"},
             Case{SdoBlockEndAnswer(0x583), "583#A100000000000000"},
         }) {
        EXPECT_EQ(ToCandump(c.frame), c.wire);
    }
}

TEST(SdoBlockFrames, Commands) {
    EXPECT_TRUE(IsBlockInitiateWithSize(0xC6));
    EXPECT_TRUE(IsBlockInitiateWithSize(0xC0));
    EXPECT_FALSE(IsBlockInitiateWithSize(0xC1)); // an end
    EXPECT_TRUE(IsBlockEnd(0xC1));
    EXPECT_TRUE(IsBlockEnd(0xD9));
    EXPECT_EQ(BlockEndUnused(0xD9), 6);
    EXPECT_TRUE(IsBlockInitiateWithBlockSize(0xA4));
    EXPECT_FALSE(IsBlockInitiateWithBlockSize(0xA2));
    EXPECT_TRUE(IsBlockAck(0xA2));
    EXPECT_TRUE(IsBlockEndAnswer(0xA1));
    EXPECT_TRUE(IsBlockUploadStart(0xA3));
    EXPECT_TRUE(BlockCrcFlag(0xA4));
    EXPECT_FALSE(BlockCrcFlag(0xC2));
    EXPECT_FALSE(ValidBlockSize(0));
    EXPECT_TRUE(ValidBlockSize(1));
    EXPECT_TRUE(ValidBlockSize(127));
    EXPECT_FALSE(ValidBlockSize(128));
}

} // namespace
