#include "ImageMirror.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// Seven bytes, 1 to 7: an odd size, whose last byte begins no whole word.
ImageMirror counting() {
    ImageMirror mirror(7);
    const Bytes bytes = {1, 2, 3, 4, 5, 6, 7};
    mirror.put(0, bytes.data(), bytes.size());
    return mirror;
}

TEST(ImageMirrorTest, StartsBlank) {
    EXPECT_EQ(ImageMirror(5), Bytes(5, 0xFF));
    EXPECT_EQ(ImageMirror(0).size(), 0u);
}

TEST(ImageMirrorTest, PutKeepsWhatFallsInside) {
    struct Case {
        const char* name;
        std::uint32_t address;
        Bytes data;
        Bytes mirror;
    };
    const Case cases[] = {
        {"AtTheStart", 0, {1, 2}, {1, 2, 0xFF, 0xFF, 0xFF, 0xFF}},
        {"InTheMiddle", 2, {1, 2}, {0xFF, 0xFF, 1, 2, 0xFF, 0xFF}},
        {"UpToTheEnd", 4, {1, 2}, {0xFF, 0xFF, 0xFF, 0xFF, 1, 2}},
        {"AcrossTheEnd", 4, {1, 2, 3, 4}, {0xFF, 0xFF, 0xFF, 0xFF, 1, 2}},
        {"JustPastTheEnd", 6, {1, 2}, Bytes(6, 0xFF)},
        {"FarPastTheEnd", 0x12345678, {1, 2}, Bytes(6, 0xFF)},
        // The address does not wrap round to the start.
        {"AtTheTopOfTheAddresses", 0xFFFFFFFF, {1, 2, 3}, Bytes(6, 0xFF)},
        {"NothingToPut", 2, {}, Bytes(6, 0xFF)},
    };
    for (const Case& c : cases) {
        ImageMirror mirror(6);
        mirror.put(c.address, c.data.data(), c.data.size());
        EXPECT_EQ(mirror, c.mirror) << c.name;
        EXPECT_EQ(mirror.size(), 6u) << c.name;
    }
}

TEST(ImageMirrorTest, PutWithoutDataChangesNothing) {
    ImageMirror mirror(4);
    mirror.put(0, nullptr, 4);
    EXPECT_EQ(mirror, Bytes(4, 0xFF));
}

TEST(ImageMirrorTest, ClearMakesEveryByteBlankAgain) {
    ImageMirror mirror = counting();
    mirror.clear();
    EXPECT_EQ(mirror, Bytes(7, 0xFF));
}

TEST(ImageMirrorTest, ByteSumEndsAtTheCountOrTheEnd) {
    struct Case {
        std::size_t count;
        std::uint32_t sum;
    };
    const Case cases[] = {
        {0, 0}, {1, 1}, {3, 6}, {6, 21}, {7, 28}, {8, 28}, {1000, 28}, {0xFFFFFFFF, 28},
    };
    const ImageMirror mirror = counting();
    for (const Case& c : cases)
        EXPECT_EQ(mirror.byteSum(c.count), c.sum) << "count " << c.count;
}

// Words of the seven bytes: 0x0201, 0x0403, 0x0605 from index 0; 0x0302, 0x0504, 0x0706 from
// index 1.
TEST(ImageMirrorTest, WordSumTakesWholeWordsThatLieInside) {
    struct Case {
        std::size_t count;
        std::size_t from;
        std::uint32_t sum;
    };
    const Case cases[] = {
        {0, 0, 0},
        {1, 0, 0}, // half a word
        {2, 0, 0x0201},
        {5, 0, 0x0201 + 0x0403},
        {6, 0, 0x0201 + 0x0403 + 0x0605},
        {7, 0, 0x0201 + 0x0403 + 0x0605}, // the last byte begins no whole word
        {1000, 0, 0x0201 + 0x0403 + 0x0605},
        {0xFFFFFFFF, 0, 0x0201 + 0x0403 + 0x0605},
        {4, 1, 0x0302 + 0x0504},
        {6, 1, 0x0302 + 0x0504 + 0x0706},
        {1000, 1, 0x0302 + 0x0504 + 0x0706},
        {1000, 4, 0x0605},
        {1000, 5, 0x0706},
        {1000, 6, 0}, // one byte left
        {1000, 7, 0},
        {1000, 0x80000, 0},
    };
    const ImageMirror mirror = counting();
    for (const Case& c : cases)
        EXPECT_EQ(mirror.wordSum(c.count, c.from), c.sum)
            << "count " << c.count << " from " << c.from;
}

TEST(ImageMirrorTest, SumsWrapAt32Bits) {
    // 0x20000 words of 0xFFFF, and 0x1010102 bytes of 0xFF, each just past 32 bits.
    EXPECT_EQ(ImageMirror(0x40000).wordSum(0x40000), 0xFFFE0000u);
    EXPECT_EQ(ImageMirror(0x1010102).byteSum(0x1010102), 0xFEu);
}

} // namespace
