#include "IntelHexFile.h"

#include "HexFiles.h"
#include "LastError.h"

#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>
#include <random>

namespace {

struct Delivered {
    std::uint32_t address;
    std::vector<std::uint8_t> bytes;
    bool operator==(const Delivered&) const = default;
};

struct Pass {
    std::vector<Delivered> records;
    std::int32_t status;
};

Pass readAll(TIntelHexFile& file) {
    Pass pass;
    std::uint32_t address;
    std::uint8_t length;
    std::uint8_t data[256];
    SetLastError(0);
    while (file.ReadRecord(&address, &length, data))
        pass.records.push_back({address, {data, data + length}});
    pass.status = static_cast<std::int32_t>(GetLastError());
    return pass;
}

Pass readFile(const std::string& path) {
    TIntelHexFile file;
    EXPECT_EQ(file.Open(path.c_str()), 1);
    return readAll(file);
}

struct HexCase {
    const char* name;
    std::string text;
    std::vector<Delivered> records;
    std::int32_t status;
};

std::vector<HexCase> hexCases() {
    using H = HexFiles;
    const auto sixteen = H::Bytes(16);
    const auto full = H::Bytes(255, 7);
    return {
        {"OnlyEndOfFile", ":00000001FF\n", {}, HexEndOfFile},
        {"Empty", "", {}, HexNoEndRecord},
        {"NoEndRecord", H::Data(0x10, {1, 2}) + "\n", {{0x10, {1, 2}}}, HexNoEndRecord},
        {"CutShortAtALineEnd",
         ":020000040001F9\n" + H::Data(0, sixteen) + "\n" + H::Data(0x10, sixteen) + "\n",
         {{0x10000, sixteen}, {0x10010, sixteen}},
         HexNoEndRecord},
        {"EndRecordWithoutLineEnd",
         H::Data(0, {1}) + "\n" + H::EndOfFile(),
         {{0, {1}}},
         HexEndOfFile},
        {"PlainOffsetBeforeAddressRecord",
         H::Data(0x1234, sixteen) + "\n" + H::EndOfFile() + "\n",
         {{0x1234, sixteen}},
         HexEndOfFile},
        {"ExtendedSegment",
         ":020000021000EC\n" + H::Data(0x10, {0xAA}) + "\n:00000001FF\n",
         {{0x10010, {0xAA}}},
         HexEndOfFile},
        {"ExtendedLinear",
         ":020000040001F9\n" + H::Data(0x10, {0xAA}) + "\n:00000001FF\n",
         {{0x10010, {0xAA}}},
         HexEndOfFile},
        {"LowerCaseDigits",
         ":020000040001f9\n:01001000aa45\n:00000001ff\n",
         {{0x10010, {0xAA}}},
         HexEndOfFile},
        {"LongestRecordReadWhole",
         H::Data(0, full) + "\n" + H::EndOfFile() + "\n",
         {{0, full}},
         HexEndOfFile},
        {"CrLfAndTrailingBlanks",
         H::Data(0, {1}) + " \t\r\n" + H::Data(1, {2}) + "\r\n" + H::EndOfFile() + "\r\n",
         {{0, {1}}, {1, {2}}},
         HexEndOfFile},
        {"StartAddressRecordsSkipped",
         H::Data(0, {1}) + "\n" + H::Record(3, 0, {0, 0, 0x12, 0x34}) + "\n" +
             H::Record(5, 0, {0, 0, 0x12, 0x34}) + "\n" + H::Data(1, {2}) + "\n" + H::EndOfFile() +
             "\n",
         {{0, {1}}, {1, {2}}},
         HexEndOfFile},
        {"RecordsAfterEndAreIgnored", ":00000001FF\n" + H::Data(0, {1}) + "\n", {}, HexEndOfFile},
        {"WrongChecksum", H::Data(0, {1}) + "\n:0100010002FF\n", {{0, {1}}}, HexBadChecksum},
        {"DigitsEndBeforeCount", ":0400000001020304\n", {}, HexBadLength},
        {"MoreDigitsThanCount", ":01000000010203FB\n", {}, HexBadLength},
        {"OddNumberOfDigits", ":0100000001F\n", {}, HexBadLength},
        {"HeaderTooShort", ":0000\n", {}, HexBadLength},
        {"NonHexDigit", ":01000000G1FE\n", {}, HexBadDigit},
        {"BlankLine", H::Data(0, {1}) + "\n\n" + H::Data(1, {2}) + "\n", {{0, {1}}}, HexNoColon},
        {"LeadingBlank", " " + H::Data(0, {1}) + "\n", {}, HexNoColon},
        {"Garbage", "hello\n", {}, HexNoColon},
        {"UnknownRecordType", H::Record(6, 0, {1}) + "\n", {}, HexBadRecordType},
        {"AddressRecordOfWrongLength", H::Record(4, 0, {1, 2, 3}) + "\n", {}, HexBadLength},
    };
}

class HexReaderCase : public testing::TestWithParam<HexCase> {};

TEST_P(HexReaderCase, DeliversRecordsThenStatus) {
    HexFiles files;
    Pass pass = readFile(files.WriteText(GetParam().text));
    EXPECT_EQ(pass.records, GetParam().records);
    EXPECT_EQ(pass.status, GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(Files, HexReaderCase, testing::ValuesIn(hexCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HexReader, PercentFollowsLineReads) {
    HexFiles files;
    std::vector<std::string> lines;
    for (int i = 0; i < 10; ++i)
        lines.push_back(HexFiles::Data(static_cast<std::uint16_t>(i), {1}));
    TIntelHexFile file;
    ASSERT_EQ(file.Open(files.Write(lines).c_str()), 1);
    EXPECT_EQ(file.LineCount, 11u);
    std::uint32_t address;
    std::uint8_t length, data[256];
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(file.ReadRecord(&address, &length, data));
    EXPECT_EQ(file.Percent, 90);
    EXPECT_FALSE(file.ReadRecord(&address, &length, data));
    EXPECT_EQ(file.Percent, 100);
    EXPECT_EQ(file.LinesRead, 11u);
}

TEST(HexReader, LineCountCountsTheReadsOfLongAndUnendedLines) {
    struct Case {
        std::string text;
        std::uint32_t lineCount;
    };
    for (const auto& c : {Case{std::string(1022, 'x') + "\n", 2},   // one read
                          Case{std::string(1023, 'x') + "\n", 3},   // the line end needs a second
                          Case{std::string(2500, 'x') + "\nab", 5}, // three reads, then "ab"
                          Case{"ab\r\ncd\r\n\n", 4}}) {
        HexFiles files;
        TIntelHexFile file;
        ASSERT_EQ(file.Open(files.WriteText(c.text).c_str()), 1);
        EXPECT_EQ(file.LineCount, c.lineCount) << c.text.size();
    }
}

TEST(HexReader, RewindReadsTheSameRecordsFromBaseZero) {
    HexFiles files;
    std::string path = files.Write({HexFiles::Data(0x10, {1}), ":020000040001F9",
                                    HexFiles::Data(0x20, {2}), HexFiles::EndOfFile()});
    TIntelHexFile file;
    ASSERT_EQ(file.Open(path.c_str()), 1);
    Pass first = readAll(file);
    EXPECT_EQ(file.BaseAddress, 0x10000u);
    ASSERT_EQ(file.Rewind(), 1);
    EXPECT_EQ(file.BaseAddress, 0u);
    EXPECT_EQ(file.LinesRead, 0u);
    EXPECT_EQ(file.Percent, 0);
    Pass second = readAll(file);
    EXPECT_EQ(first.records, second.records);
    EXPECT_EQ(second.records, (std::vector<Delivered>{{0x10, {1}}, {0x10020, {2}}}));
    EXPECT_EQ(file.LineCount, 5u);
}

TEST(HexReader, WithoutFile) {
    TIntelHexFile file;
    std::uint32_t address;
    std::uint8_t length, data[256];
    EXPECT_EQ(file.Open("/nonexistent/image.hex"), 0);
    EXPECT_EQ(file.File, nullptr);
    SetLastError(0);
    EXPECT_EQ(file.ReadRecord(&address, &length, data), 0);
    EXPECT_EQ(static_cast<std::int32_t>(GetLastError()), HexNoFile);
    EXPECT_EQ(file.Rewind(), 0);
}

TEST(HexReader, ImageCheckNeedsSoundRecordsAndData) {
    HexFiles files;
    std::int32_t status = 99;
    EXPECT_TRUE(HexFileHoldsValidImage(files.Write({HexFiles::Data(0, {1}), HexFiles::EndOfFile()}),
                                       &status));
    EXPECT_EQ(status, HexEndOfFile);
    EXPECT_FALSE(HexFileHoldsValidImage(files.Write({HexFiles::EndOfFile()}), &status));
    EXPECT_EQ(status, 0);
    EXPECT_FALSE(
        HexFileHoldsValidImage(files.Write({HexFiles::Data(0, {1}), ":0100010002FF"}), &status));
    EXPECT_EQ(status, HexBadChecksum);
    EXPECT_FALSE(HexFileHoldsValidImage("/nonexistent/image.hex", &status));
    EXPECT_EQ(status, 0);
    // Cut short at a line end: every record is sound, but the image is not whole.
    EXPECT_FALSE(HexFileHoldsValidImage(files.Write({HexFiles::Data(0, {1})}), &status));
    EXPECT_EQ(status, HexNoEndRecord);
}

TEST(HexReader, ImageCheckOfAnOpenFileLeavesItRewoundAndTheStatusAlone) {
    HexFiles files;
    TIntelHexFile file;
    ASSERT_EQ(file.Open(files
                            .Write({HexFiles::Data(0x10, {1}), ":020000040001F9",
                                    HexFiles::Data(0x20, {2}), HexFiles::EndOfFile()})
                            .c_str()),
              1);
    SetLastError(1234);
    EXPECT_TRUE(HexFileHoldsValidImage(file));
    EXPECT_EQ(GetLastError(), 1234u);
    EXPECT_EQ(file.LinesRead, 0u);
    EXPECT_EQ(readAll(file).records, (std::vector<Delivered>{{0x10, {1}}, {0x10020, {2}}}));
}

// srec_cat, an independent reader, must build the same image from the same file.
class SrecCatOracle : public testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(SrecCatOracle, SameImageAsSrecCat) {
    const QString srecCat = QStandardPaths::findExecutable(QStringLiteral("srec_cat"));
    ASSERT_FALSE(srecCat.isEmpty()) << "srec_cat (Debian package srecord) is needed";
    const auto [blockSize, addressLength] = GetParam();

    HexFiles files;
    std::mt19937 random(static_cast<unsigned>(blockSize * 7 + addressLength));
    std::string binary(100000, '\0');
    for (char& c : binary)
        c = static_cast<char>(random());
    const std::string input = files.WriteText(binary, "input.bin");
    const std::string hex = files.Folder() + "/image.hex";
    const std::string output = files.Folder() + "/srec.bin";

    auto run = [&](const QStringList& args) {
        QProcess process;
        process.start(srecCat, args);
        ASSERT_TRUE(process.waitForFinished(60000));
        ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    };
    // Two pieces with a hole between them, above 64 KiB so address records are needed.
    run({QString::fromStdString(input), "-binary", "-crop", "0", "40000", "-offset", "0x1F000",
         QString::fromStdString(input), "-binary", "-crop", "50000", "100000", "-offset", "0x30000",
         "-o", QString::fromStdString(hex), "-intel",
         QStringLiteral("--address-length=%1").arg(addressLength),
         QStringLiteral("-obs=%1").arg(blockSize)});
    run({QString::fromStdString(hex), "-intel", "-o", QString::fromStdString(output), "-binary"});

    TIntelHexFile file;
    ASSERT_EQ(file.Open(hex.c_str()), 1);
    std::string image;
    std::uint32_t address;
    std::uint8_t length, data[256];
    SetLastError(0);
    while (file.ReadRecord(&address, &length, data)) {
        if (image.size() < address + length)
            image.resize(address + length, '\0');
        image.replace(address, length, reinterpret_cast<const char*>(data), length);
    }
    EXPECT_EQ(static_cast<std::int32_t>(GetLastError()), HexEndOfFile);

    std::ifstream in(output, std::ios::binary);
    std::string expected((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_FALSE(expected.empty());
    EXPECT_TRUE(image == expected)
        << "our image " << image.size() << " bytes, srec_cat's " << expected.size();
}

INSTANTIATE_TEST_SUITE_P(RecordSizesAndAddressRecords, SrecCatOracle,
                         testing::Combine(testing::Values(1, 16, 32, 255), testing::Values(3, 4)),
                         [](const auto& info) {
                             return "Block" + std::to_string(std::get<0>(info.param)) +
                                    (std::get<1>(info.param) == 3 ? "Segment" : "Linear");
                         });

} // namespace
