#include "IntelHexWriter.h"

#include "HexFiles.h"
#include "IntelHexFile.h"
#include "LastError.h"

#include <QProcess>
#include <QStandardPaths>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <random>

namespace {

struct WriterCase {
    const char* name;
    std::uint32_t start;
    std::size_t size;
    unsigned recordSize;
};

void PrintTo(const WriterCase& c, std::ostream* out) {
    *out << c.name;
}

class HexWriterRoundTrip : public testing::TestWithParam<WriterCase> {
public:
    static std::vector<std::uint8_t> image(std::size_t size) {
        std::mt19937 random(static_cast<unsigned>(size));
        std::vector<std::uint8_t> bytes(size);
        for (auto& b : bytes)
            b = static_cast<std::uint8_t>(random());
        return bytes;
    }
    HexFiles files;
};

// What our reader delivers, as one block from the first address delivered on; the
// addresses must follow each other without gaps.
std::vector<std::uint8_t> readBack(const std::string& path, std::uint32_t* first) {
    TIntelHexFile file;
    EXPECT_EQ(file.Open(path.c_str()), 1);
    std::vector<std::uint8_t> bytes;
    std::uint32_t address;
    std::uint8_t length, data[256];
    SetLastError(0);
    while (file.ReadRecord(&address, &length, data)) {
        if (bytes.empty())
            *first = address;
        EXPECT_EQ(address, *first + bytes.size());
        bytes.insert(bytes.end(), data, data + length);
    }
    EXPECT_EQ(static_cast<std::int32_t>(GetLastError()), HexEndOfFile);
    return bytes;
}

// Written by our writer, read by our reader and by srec_cat: the same bytes at the same
// place, and nothing srec_cat warns about.
TEST_P(HexWriterRoundTrip, OurReaderAndSrecCatReadTheSameImage) {
    const WriterCase& c = GetParam();
    const auto bytes = image(c.size);
    const std::string hex = files.WriteText(IntelHexText(bytes, c.start, c.recordSize));

    std::uint32_t first = 0;
    EXPECT_EQ(readBack(hex, &first), bytes);
    EXPECT_EQ(first, c.start);

    const QString srecCat = QStandardPaths::findExecutable(QStringLiteral("srec_cat"));
    ASSERT_FALSE(srecCat.isEmpty()) << "srec_cat (Debian package srecord) is needed";
    const std::string binary = files.Folder() + "/srec.bin";
    QProcess process;
    process.start(srecCat, {QString::fromStdString(hex), "-intel", "-offset",
                            QStringLiteral("-0x%1").arg(c.start, 0, 16), "-o",
                            QString::fromStdString(binary), "-binary"});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_EQ(process.readAllStandardError().toStdString(), "");
    std::ifstream in(binary, std::ios::binary);
    const std::vector<std::uint8_t> srec((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
    EXPECT_EQ(srec, bytes);
}

INSTANTIATE_TEST_SUITE_P(Images, HexWriterRoundTrip,
                         testing::Values(WriterCase{"AtZero", 0, 16384, 32},
                                         WriterCase{"HardwareTwo", 0x28000, 300, 32},
                                         WriterCase{"AcrossA64KiBBoundary", 0x1FFF0, 1000, 32},
                                         WriterCase{"LongestRecords", 0x10000, 1021, 255},
                                         WriterCase{"OneByteRecords", 0xFFFE, 5, 1},
                                         WriterCase{"RecordSizeClampedToOne", 0, 3, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HexWriter, EmptyImageIsOnlyTheEndRecord) {
    EXPECT_EQ(IntelHexText({}, 0x28000), ":00000001FF\n");
}

} // namespace
