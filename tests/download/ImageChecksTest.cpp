#include "ImageChecks.h"

#include "HexFiles.h"
#include "LastError.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

SectorDescription headerOf(const std::vector<std::uint8_t>& bytes) {
    SectorDescription d;
    std::memcpy(&d, bytes.data(), sizeof d);
    return d;
}

TEST(ImageChecksTest, FirmwareHeadersAreToldFromOtherBytes) {
    struct Case {
        const char* name;
        std::vector<std::uint8_t> header;
        bool firmware;
    };
    auto with = [](std::vector<std::uint8_t> h, size_t at, std::vector<std::uint8_t> bytes) {
        std::copy(bytes.begin(), bytes.end(), h.begin() + static_cast<std::ptrdiff_t>(at));
        return h;
    };
    const auto good = HexFiles::Header("DeviceNet App", 0x00020011);
    const Case cases[] = {
        {"Firmware", good, true},
        {"DayWithBlank", HexFiles::Header("App", 1, "Dec  5 2026"), true},
        {"ZeroRevision", HexFiles::Header("App", 0), true},
        {"Bytes0x55", std::vector<std::uint8_t>(76, 0x55), false},
        {"Erased", std::vector<std::uint8_t>(76, 0xFF), false},
        {"Zeros", std::vector<std::uint8_t>(76, 0x00), false},
        {"EmptyRevision", HexFiles::Header("App", 0xFFFFFFFFu), false},
        {"EmptyName", HexFiles::Header("", 1), false},
        {"NameNotEnded", with(good, 0, std::vector<std::uint8_t>(16, 'A')), false},
        {"ControlInName", with(good, 3, {0x07}), false},
        {"DateOtherForm", HexFiles::Header("App", 1, "2026-12-10"), false},
        {"NoSuchMonth", HexFiles::Header("App", 1, "Xyz 10 2026"), false},
        {"DayZero", HexFiles::Header("App", 1, "Dec 00 2026"), false},
        {"EmptyTime", HexFiles::Header("App", 1, "Dec 10 2026", ""), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LooksLikeFirmwareHeader(headerOf(c.header)), c.firmware) << c.name;
}

class ImageSummaryTest : public testing::Test {
public:
    std::optional<HexImageSummary> summarise(const std::vector<std::string>& lines,
                                             std::uint32_t base) {
        TIntelHexFile file;
        EXPECT_EQ(file.Open(files.Write(lines).c_str()), 1);
        return SummariseHexImage(file, base);
    }
    HexFiles files;
};

// The extent runs from the image base to the highest byte written, wherever the records lie
// and in whatever order they come; the header is what lies at the image base.
TEST_F(ImageSummaryTest, ExtentAndHeaderCountFromTheImageBase) {
    const auto header = HexFiles::Header("VARNIX App", 0x00010002);
    struct Case {
        const char* name;
        std::uint32_t base;
        std::vector<std::string> lines;
        std::uint64_t extent;
        bool fits0x1000;
    };
    auto image = [&](std::uint32_t base, std::vector<std::string> extra) {
        auto lines = HexFiles::Image(header, base);
        lines.insert(lines.end() - 1, extra.begin(), extra.end());
        return lines;
    };
    const Case cases[] = {
        {"HeaderOnly", 0, image(0, {}), 76, true},
        {"LastByteFirst", 0,
         [&] {
             auto l = image(0, {});
             l.insert(l.begin(), HexFiles::Data(0xFFF, {1}));
             return l;
         }(),
         0x1000, true},
        {"OneBytePast", 0, image(0, {HexFiles::Data(0x1000, {1})}), 0x1001, false},
        {"LinkedHigh", 0x28000,
         image(0x28000, {HexFiles::Record(0x04, 0, {0, 2}), HexFiles::Data(0x8FFF, {1})}), 0x1000,
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(1234);
        auto summary = summarise(c.lines, c.base);
        EXPECT_EQ(GetLastError(), 1234u);
        ASSERT_TRUE(summary);
        EXPECT_EQ(summary->Extent, c.extent);
        EXPECT_EQ(ImageFitsSector(*summary, 0x1000), c.fits0x1000);
        EXPECT_EQ(summary->Header.NameText(), "VARNIX App");
        EXPECT_EQ(summary->Header.Revision, 0x00010002u);
    }
}

// An image linked for address 0 loaded into a node whose images start at 0x28000 could
// never land in its sector.
TEST_F(ImageSummaryTest, BytesBelowTheImageBaseNeverFit) {
    auto summary = summarise(HexFiles::Image(HexFiles::Header("App", 1)), 0x28000);
    ASSERT_TRUE(summary);
    EXPECT_TRUE(summary->BelowBase);
    EXPECT_FALSE(ImageFitsSector(*summary, 0x100000));
    EXPECT_EQ(SectorRefusal(*summary, 0x28000, 2, 0x100000),
              "The file's image begins below address 028000, where this node's images "
              "begin.\r\nNothing was erased.");
    EXPECT_TRUE(summary->Header.IsEmpty()); // nothing at the base
}

TEST_F(ImageSummaryTest, UnsoundFileHasNoSummary) {
    EXPECT_FALSE(summarise({HexFiles::Data(0, {1, 2})}, 0)); // no end-of-file record
}

// The firmware a node runs is what its boot sector holds, unless that is the loader or
// empty; then what its application sector holds; an erased node runs none.
TEST(ImageChecksTest, NodeFirmwareAndTheQuestionForAFile) {
    const SectorDescription loader = headerOf(HexFiles::Header("Boot", 0x00010002));
    const SectorDescription app = headerOf(HexFiles::Header("DeviceNet App", 0x00010005));
    const SectorDescription spare = headerOf(HexFiles::Header("Spare", 0x00010001));
    SectorDescription empty;
    std::memset(&empty, 0xFF, sizeof empty);
    struct Case {
        const char* name;
        std::vector<SectorDescription> sectors;
        std::uint8_t boot;
        const char* runs; // nullptr: none
    };
    const Case cases[] = {
        {"BootsTheApplication", {loader, empty, app, spare}, 2, "DeviceNet App"},
        {"BootsAnotherSector", {loader, empty, app, spare}, 3, "Spare"},
        {"BootsTheLoader", {loader, empty, app, spare}, 0, "DeviceNet App"},
        {"BootSectorErased", {loader, spare, empty, empty}, 1, "Spare"},
        {"Erased", {loader, empty, empty, empty}, 3, nullptr},
        {"OnlyTwoSectors", {loader, empty}, 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const bool known[8] = {true, true, true, true, true, true, true, true};
        const SectorDescription* runs =
            NodeFirmware(c.sectors.data(), known, static_cast<int>(c.sectors.size()), c.boot, 2);
        if (c.runs)
            EXPECT_EQ(runs ? runs->NameText() : "(none)", c.runs);
        else
            EXPECT_EQ(runs, nullptr);
    }
    // A sector not read is not taken for the node's.
    const SectorDescription sectors[] = {loader, empty, app};
    const bool known[] = {true, true, false};
    EXPECT_EQ(NodeFirmware(sectors, known, 3, 2, 2), nullptr);

    const SectorDescription canopen = headerOf(HexFiles::Header("CANopen App", 0x00010006));
    EXPECT_EQ(ImageQuestion(app, &app), "");
    EXPECT_EQ(ImageQuestion(canopen, nullptr), "");
    EXPECT_EQ(ImageQuestion(canopen, &app),
              "The file holds CANopen App 1.6; the node runs DeviceNet App 1.5. Download anyway?");
    EXPECT_EQ(ImageQuestion(empty, nullptr),
              "This file does not hold a firmware image header. Download anyway?");
    EXPECT_EQ(ImageQuestion(empty, &app),
              "This file does not hold a firmware image header. Download anyway?");
}

TEST(ImageChecksTextTest, QuestionsNameBothSides) {
    EXPECT_EQ(TooLargeText(0x10000, 2, 0xFFFF),
              "The file's image needs 010000 bytes; sector #2 holds 00FFFF bytes.\r\n"
              "Nothing was erased.");
    EXPECT_EQ(OtherFirmwareText(headerOf(HexFiles::Header("CANopen App", 0x00020011)),
                                headerOf(HexFiles::Header("DeviceNet App", 0x00010003))),
              "The file holds CANopen App 2.17; the node runs DeviceNet App 1.3. Download anyway?");
}

} // namespace
