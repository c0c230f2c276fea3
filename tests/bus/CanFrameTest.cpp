#include "CanFrame.h"

#include "BusPrinters.h"

#include <gtest/gtest.h>

namespace {

using bus::CanFrame;

TEST(CanFrame, WritesAndReadsCandumpText) {
    struct Case {
        CanFrame frame;
        const char* text;
    };
    const Case cases[] = {
        {CanFrame::Data(0x603, {0x23, 0x0F, 0x36, 0x00, 0x2B, 0x1A, 0x00, 0x00}),
         "603#230F36002B1A0000"},
        {CanFrame::Data(0x000, {0x81, 0x03}), "000#8103"},
        {CanFrame::Data(0x7FF, {}), "7FF#"},
        {CanFrame::Remote(0x703), "703#R"},
        {CanFrame::Remote(0x703, 1), "703#R1"},
        {CanFrame::Data(0x05, {0xAB}), "005#AB"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(bus::ToCandump(c.frame), c.text);
        const auto back = bus::ParseCandump(c.text);
        ASSERT_TRUE(back) << c.text;
        EXPECT_EQ(*back, c.frame) << c.text;
    }
    EXPECT_EQ(bus::ParseCandump("583#4300100092010200"), bus::ParseCandump("583#4300100092010200"));
    EXPECT_EQ(*bus::ParseCandump("1a#ff"), CanFrame::Data(0x1A, {0xFF}));
}

TEST(CanFrame, RefusesTextThatIsNoClassicFrame) {
    for (const char* text :
         {"", "#", "603", "800#00", "1234#00", "603#0", "603#0G", "603#000102030405060708",
          "603#R9", "603#R12", "12345678#00", "G03#00"})
        EXPECT_FALSE(bus::ParseCandump(text)) << text;
}

TEST(CanFrame, EqualityIsWhatTheWireCarries) {
    CanFrame a = CanFrame::Data(0x181, {1, 2});
    CanFrame b = a;
    b.data[5] = 0x55; // past the length
    EXPECT_EQ(a, b);
    b.data[1] = 3;
    EXPECT_NE(a, b);
    EXPECT_NE(CanFrame::Data(0x181, {1, 2}), CanFrame::Data(0x182, {1, 2}));
    EXPECT_NE(CanFrame::Data(0x181, {1}), CanFrame::Data(0x181, {1, 0}));
    CanFrame remote = CanFrame::Remote(0x701, 1);
    CanFrame alsoRemote = remote;
    alsoRemote.data[0] = 9; // a remote request carries no data
    EXPECT_EQ(remote, alsoRemote);
    EXPECT_NE(CanFrame::Remote(0x701, 1), CanFrame::Data(0x701, {0}));
    EXPECT_NE(CanFrame::Remote(0x701, 1), CanFrame::Remote(0x701, 0));
}

TEST(CanFrame, ValidOnlyWithElevenBitsAndEightBytes) {
    EXPECT_TRUE(CanFrame::Data(0x7FF, {1, 2, 3, 4, 5, 6, 7, 8}).Valid());
    CanFrame wide = CanFrame::Data(0x800, {});
    EXPECT_FALSE(wide.Valid());
    CanFrame longer = CanFrame::Data(0x100, {});
    longer.length = 9;
    EXPECT_FALSE(longer.Valid());
    EXPECT_EQ(CanFrame::Data(0x100, {1, 2, 3, 4, 5, 6, 7, 8, 9}).length, 8); // cut to 8
}

} // namespace
