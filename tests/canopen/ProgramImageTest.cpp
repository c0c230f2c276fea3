#include "ProgramImage.h"

#include <QTemporaryDir>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// One Intel HEX record, its checksum the two's complement of its bytes' sum.
std::string Record(std::uint8_t type, std::uint16_t address, const Bytes& data) {
    Bytes all = {static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(address >> 8),
                 static_cast<std::uint8_t>(address), type};
    all.insert(all.end(), data.begin(), data.end());
    unsigned sum = 0;
    std::string line = ":";
    char digits[3];
    for (std::uint8_t b : all) {
        sum += b;
        std::snprintf(digits, sizeof digits, "%02X", b);
        line += digits;
    }
    std::snprintf(digits, sizeof digits, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + digits + "\r\n";
}

const std::string End = ":00000001FF\r\n";

class ProgramImageTest : public ::testing::Test {
protected:
    std::string File(const std::string& name, const std::string& content) {
        const std::string path = dir.path().toStdString() + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    QTemporaryDir dir;
};

TEST_F(ProgramImageTest, HexRecordsBecomeOneBinaryWithTheGapsErased) {
    // Records out of order, above a 64 KiB base, with a gap of three bytes between them.
    const std::string hex = Record(4, 0, {0x00, 0x01}) + Record(0, 0x0007, {0xA7, 0xA8}) +
                            Record(0, 0x0000, {0xA0, 0xA1, 0xA2, 0xA3}) + End;
    ProgramImage image;
    std::string error;
    ASSERT_TRUE(ReadProgramImage(File("app.hex", hex), &image, &error)) << error;
    EXPECT_TRUE(image.fromHex);
    EXPECT_EQ(image.firstAddress, 0x10000u);
    EXPECT_EQ(image.bytes, (Bytes{0xA0, 0xA1, 0xA2, 0xA3, 0xFF, 0xFF, 0xFF, 0xA7, 0xA8}));
    EXPECT_EQ(image.crc, ProgramCrc32(image.bytes.data(), image.bytes.size()));
}

TEST_F(ProgramImageTest, RawFilesAreTakenAsTheyAre) {
    // A .bin whose first byte happens to be ':' is still raw.
    for (const auto& [name, content] : std::vector<std::pair<std::string, std::string>>{
             {"app.bin", std::string(":\x00\xFF\r\n", 5)},
             {"app.img", std::string("\x7F"
                                     "ELF")}}) {
        ProgramImage image;
        std::string error;
        ASSERT_TRUE(ReadProgramImage(File(name, content), &image, &error)) << name << error;
        EXPECT_FALSE(image.fromHex) << name;
        EXPECT_EQ(image.bytes, Bytes(content.begin(), content.end())) << name;
    }
}

TEST_F(ProgramImageTest, FilesThatWouldWriteTheWrongBytesAreRefused) {
    const struct {
        const char* what;
        std::string name, content, message;
    } cases[] = {
        {"HEX without its end record", "a.hex", Record(0, 0, {1, 2, 3}), "without its end record"},
        {"HEX with a wrong checksum", "b.hex", ":0300000001020301\r\n" + End, "checksum is wrong"},
        {"HEX writing one address twice", "c.hex",
         Record(0, 0, {1, 2, 3}) + Record(0, 2, {4}) + End, "address 0x00000002 twice"},
        {"HEX with no data", "d.hex", End, "holds no data"},
        {"HEX spanning more than a program", "e.hex",
         Record(0, 0, {1}) + Record(4, 0, {0x01, 0x00}) + Record(0, 0, {2}) + End,
         "more than the 4096"},
        {"an empty file", "f.bin", "", "is empty"},
        {"a raw file too large", "g.bin", std::string(4097, 'x'), "more than the 4096"},
    };
    for (const auto& c : cases) {
        ProgramImage image;
        image.bytes = {0x55};
        std::string error;
        EXPECT_FALSE(ReadProgramImage(File(c.name, c.content), &image, &error, 4096)) << c.what;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.what << ": " << error;
        EXPECT_EQ(image.bytes, Bytes{0x55}) << c.what << ": the image was changed";
    }
    std::string error;
    EXPECT_FALSE(ReadProgramImage(dir.path().toStdString() + "/missing.hex", nullptr, &error));
    EXPECT_NE(error.find("missing.hex: no such file"), std::string::npos) << error;
}

TEST(ProgramCrc32, MatchesTheStandardCheckValues) {
    const std::string digits = "123456789";
    EXPECT_EQ(ProgramCrc32(reinterpret_cast<const std::uint8_t*>(digits.data()), digits.size()),
              0xCBF43926u);
    EXPECT_EQ(ProgramCrc32(nullptr, 0), 0u);
    const Bytes erased(4, 0xFF);
    EXPECT_EQ(ProgramCrc32(erased.data(), erased.size()), 0xFFFFFFFFu);
}

} // namespace
