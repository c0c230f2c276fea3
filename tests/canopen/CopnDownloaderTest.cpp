// The firmware side of the CANopen downloader: the node's firmware entries over SDO, the
// restarts over NMT, and the sector checksum over the downloader's own mirror.

#include "CopnFixture.h"

#include <cstdio>
#include <functional>
#include <numeric>
#include <optional>

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string hex(const Bytes& bytes) {
    std::string text;
    char byte[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(byte, sizeof byte, i ? " %02X" : "%02X", bytes[i]);
        text += byte;
    }
    return text;
}

Bytes counting(std::size_t n, std::uint8_t from = 0) {
    Bytes bytes(n);
    std::iota(bytes.begin(), bytes.end(), from);
    return bytes;
}

const std::string selectSector2 = "SDO_Download_UNSIGNED8(256,3,0x3604,0,2)";

using CopnDownloaderTest = CopnDownloaderFixture;

TEST_F(CopnDownloaderTest, BlockGoesAsOneWriteRecordToTheNodesLowByte) {
    downloader->Node = 0x0103; // the node-ID is the low byte
    const Bytes data = counting(32);
    const std::string record =
        "SDO_Download(256,3,0x3600,0,38,02 02 45 23 01 20 " + hex(data) + ")";

    // Address bits 24-31 are not sent, and such an address is past the mirror.
    EXPECT_EQ(downloader->DownloadFirmware(2, 0xAB012345, 32, data.data()), 1);
    EXPECT_EQ(fake.AllCalls(), Calls{record});
    EXPECT_EQ(downloader->imageMirror, Bytes(TCOPN_Downloader::ImageMirrorSize, 0xFF));

    fake.ClearCalls();
    EXPECT_EQ(downloader->DownloadFirmware(2, 0x012345, 32, data.data()), 1);
    EXPECT_EQ(fake.AllCalls(), Calls{record});
    EXPECT_EQ(Bytes(downloader->imageMirror.begin() + 0x12345,
                    downloader->imageMirror.begin() + 0x12345 + 32),
              data);
    EXPECT_EQ(downloader->imageMirror[0x12344], 0xFF);
    EXPECT_EQ(downloader->imageMirror[0x12345 + 32], 0xFF);
}

TEST_F(CopnDownloaderTest, BlockAcrossTheEndOfTheMirrorKeepsWhatFitsAndIsSentWhole) {
    const Bytes data = {0xA1, 0xA2, 0xA3, 0xA4};
    EXPECT_EQ(downloader->DownloadFirmware(1, 0x2FFFC, 4, data.data()), 1);
    EXPECT_EQ(fake.AllCalls(),
              Calls{"SDO_Download(256,3,0x3600,0,10,02 01 FC FF 02 04 " + hex(data) + ")"});
    EXPECT_EQ(downloader->imageMirror[0x2FFFC], 0xA1);
    EXPECT_EQ(downloader->imageMirror[0x2FFFD], 0xA2);
    EXPECT_EQ(downloader->imageMirror.size(), TCOPN_Downloader::ImageMirrorSize);
}

TEST_F(CopnDownloaderTest, BlockIsTriedAtMostThreeTimes) {
    struct Case {
        std::vector<std::int32_t> results;
        std::int32_t returned;
        std::size_t transfers;
    };
    const Bytes data = {1, 2};
    for (const Case& c :
         {Case{{0, 0, 0}, 0, 3}, Case{{0, 0, 4}, 4, 3}, Case{{0, 1}, 1, 2}, Case{{1}, 1, 1}}) {
        SCOPED_TRACE(testing::PrintToString(c.results));
        fake.ClearCalls();
        fake.QueueResults("SDO_Download", c.results);
        fake.SetResult("SDO_Download", 0); // a fourth attempt would fail too
        EXPECT_EQ(downloader->DownloadFirmware(0, 0x10, 2, data.data()), c.returned);
        EXPECT_EQ(fake.AllCalls(),
                  Calls(c.transfers, "SDO_Download(256,3,0x3600,0,8,02 00 10 00 00 02 01 02)"));
        fake.SetResult("SDO_Download", 1);
    }
}

TEST_F(CopnDownloaderTest, EraseSendsThe38ByteRecordAndWaitsOnlyWhenItWorked) {
    const std::string erase = "SDO_Download(256,3,0x3600,0,38,03 05 " + hex(Bytes(36, 0)) + ")";
    EXPECT_EQ(downloader->EraseSector(5), 1);
    EXPECT_EQ(fake.AllCalls(), Calls{erase});
    EXPECT_EQ(sleeps.Pauses(), std::vector<DWORD>{2500});

    fake.ClearCalls();
    fake.SetResult("SDO_Download", 0);
    EXPECT_EQ(downloader->EraseSector(5), 0);
    EXPECT_EQ(fake.AllCalls(), Calls{erase}); // tried once
    EXPECT_EQ(sleeps.Pauses(), std::vector<DWORD>{2500});
}

// A sector that held a longer image sums only the new, shorter one: the rest of the mirror
// is blank again after the erase, as the sector is.
TEST_F(CopnDownloaderTest, MirrorIsBlankAgainAfterASuccessfulEraseOnly) {
    fake.SetU32(TheNode, 0x360E, 0, 8);
    fake.SetU8(TheNode, 0x3611, 0, 8);
    const Bytes longer = {1, 2, 3, 4, 5, 6, 7, 8};
    const Bytes shorter = {0x10, 0x20};
    downloader->DownloadFirmware(2, 0, 8, longer.data());
    ASSERT_EQ(downloader->EraseSector(2), 1);
    downloader->DownloadFirmware(2, 0, 2, shorter.data());
    ASSERT_EQ(downloader->SetSectorChecksum(2), 1);
    EXPECT_EQ(fake.AllCalls().back(), "SDO_Download_UNSIGNED32(256,3,0x360A,0," +
                                          std::to_string(0x10 + 0x20 + 6 * 0xFF) + ")");

    // An erase that failed leaves the sector, and the mirror, as they were.
    fake.SetResult("SDO_Download", 0);
    EXPECT_EQ(downloader->EraseSector(2), 0);
    fake.SetResult("SDO_Download", 1);
    ASSERT_EQ(downloader->SetSectorChecksum(2), 1);
    EXPECT_EQ(fake.AllCalls().back(), "SDO_Download_UNSIGNED32(256,3,0x360A,0," +
                                          std::to_string(0x10 + 0x20 + 6 * 0xFF) + ")");
}

struct ChecksumCase {
    const char* name;
    std::optional<std::uint8_t> width; // nullopt: the node does not answer
    std::optional<std::uint32_t> size;
    bool downloaded; // 01 02 03 04 at address 0 first
    std::uint32_t sum;
};
void PrintTo(const ChecksumCase& c, std::ostream* os) {
    *os << c.name;
}

class CopnChecksumTest : public CopnDownloaderFixture,
                         public testing::WithParamInterface<ChecksumCase> {};

TEST_P(CopnChecksumTest, SumsTheMirrorAsTheNodeSays) {
    const ChecksumCase& c = GetParam();
    if (c.width)
        fake.SetU8(TheNode, 0x3611, 0, *c.width);
    if (c.size)
        fake.SetU32(TheNode, 0x360E, 0, *c.size);
    const Bytes block = {1, 2, 3, 4};
    if (c.downloaded)
        downloader->DownloadFirmware(2, 0, 4, block.data());
    fake.ClearCalls();
    fake.SetResult("SDO_Download_UNSIGNED32", 6);

    EXPECT_EQ(downloader->SetSectorChecksum(2), 6);
    EXPECT_EQ(fake.AllCalls(),
              (Calls{selectSector2, "SDO_Upload_UNSIGNED32(256,3,0x360E,0)",
                     "SDO_Upload_UNSIGNED8(256,3,0x3611,0)",
                     "SDO_Download_UNSIGNED32(256,3,0x360A,0," + std::to_string(c.sum) + ")"}));
}

INSTANTIATE_TEST_SUITE_P(
    Figures, CopnChecksumTest,
    testing::Values(ChecksumCase{"Bytes", 8, 4, true, 0x0A},
                    ChecksumCase{"Words", 16, 4, true, 0x0604},
                    ChecksumCase{"OddSizeDropsTheLastByte", 16, 5, true, 0x0604},
                    ChecksumCase{"OtherWidthSumsNothing", 32, 4, true, 0},
                    ChecksumCase{"NeitherAnswerBlankMirror", std::nullopt, std::nullopt, false,
                                 0x7FFD8001},
                    ChecksumCase{"BytesWithoutSizeBlankMirror", 8, std::nullopt, false, 0x02FCFE02},
                    ChecksumCase{"SizePastTheMirrorStopsAtItsEnd", 16, 0x40000, false, 0x7FFD8001}),
    [](const auto& info) { return std::string(info.param.name); });

// The size and width fall back to their defaults only for a node without those entries. An
// upload that failed otherwise (here a time-out) leaves the node without a checksum, and the
// window with "Could Not Write Checksum", rather than with a guess that may pass as valid.
TEST_F(CopnDownloaderTest, ChecksumIsNotGuessedWhenTheNodeDidNotAnswer) {
    fake.SetU32(TheNode, 0x360E, 0, 4);
    fake.SetU8(TheNode, 0x3611, 0, 8);
    struct Case {
        const char* failing;
        Calls calls;
    };
    const std::vector<Case> cases = {
        {"SDO_Upload_UNSIGNED32", {selectSector2, "SDO_Upload_UNSIGNED32(256,3,0x360E,0)"}},
        {"SDO_Upload_UNSIGNED8",
         {selectSector2, "SDO_Upload_UNSIGNED32(256,3,0x360E,0)",
          "SDO_Upload_UNSIGNED8(256,3,0x3611,0)"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failing);
        fake.ClearCalls();
        fake.QueueResults(c.failing, {0});
        EXPECT_EQ(downloader->SetSectorChecksum(2), 0);
        EXPECT_EQ(fake.AllCalls(), c.calls);
    }
}

// Operations that name a sector first select it; when the node refuses the selection they
// stop there, with their output untouched.
TEST_F(CopnDownloaderTest, ARefusedSectorSelectionStopsTheOperation) {
    struct Case {
        const char* name;
        std::function<std::int32_t(TCOPN_Downloader&)> run;
    };
    std::uint32_t size = 77, ok = 77;
    SectorDescription description;
    std::memset(&description, 'X', sizeof description);
    const Case cases[] = {
        {"GetSectorSize",
         [&](auto& d) {
             return d.GetSectorSize(2, &size);
         }},
        {"ChecksumOk",
         [&](auto& d) {
             return d.ChecksumOk(2, &ok);
         }},
        {"GetSectorDescription",
         [&](auto& d) {
             return d.GetSectorDescription(2, &description);
         }},
        {"SetSectorChecksum",
         [](auto& d) {
             return d.SetSectorChecksum(2);
         }},
    };
    fake.SetResult("SDO_Download_UNSIGNED8", 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake.ClearCalls();
        EXPECT_EQ(c.run(*downloader), 0);
        EXPECT_EQ(fake.AllCalls(), Calls{selectSector2});
    }
    EXPECT_EQ(size, 77u);
    EXPECT_EQ(ok, 77u);
    EXPECT_EQ(description.Revision, 0x58585858u);
}

TEST_F(CopnDownloaderTest, SectorQueriesReadTheirEntries) {
    fake.SetU8(TheNode, 0x360D, 0, 4);
    fake.SetU32(TheNode, 0x360E, 0, 0x20000);
    fake.SetU8(TheNode, 0x3610, 0, 1);
    fake.SetU8(TheNode, 0x360B, 0, 2);
    std::uint8_t count = 0, boot = 0;
    std::uint32_t size = 0, ok = 0;
    EXPECT_EQ(downloader->GetSectorCount(&count), 1);
    EXPECT_EQ(downloader->GetSectorSize(2, &size), 1);
    EXPECT_EQ(downloader->ChecksumOk(2, &ok), 1);
    EXPECT_EQ(downloader->GetBootSector(&boot), 1);
    EXPECT_EQ(downloader->SetBootSector(1), 1);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(size, 0x20000u);
    EXPECT_EQ(ok, 1u);
    EXPECT_EQ(boot, 2);
    EXPECT_EQ(fake.AllCalls(),
              (Calls{"SDO_Upload_UNSIGNED8(256,3,0x360D,0)", selectSector2,
                     "SDO_Upload_UNSIGNED32(256,3,0x360E,0)", selectSector2,
                     "SDO_Upload_UNSIGNED8(256,3,0x3610,0)", "SDO_Upload_UNSIGNED8(256,3,0x360B,0)",
                     "SDO_Download_UNSIGNED8(256,3,0x360B,0,1)"}));
}

TEST_F(CopnDownloaderTest, FailedSectorQueriesReportZeroOrLeaveTheirOutput) {
    fake.SetResult("SDO_Upload_UNSIGNED8", 0);
    fake.SetResult("SDO_Upload_UNSIGNED32", 0);
    std::uint8_t count = 9, boot = 9;
    std::uint32_t size = 9, ok = 9;
    EXPECT_EQ(downloader->GetSectorCount(&count), 0);
    EXPECT_EQ(downloader->GetSectorSize(2, &size), 0);
    EXPECT_EQ(downloader->ChecksumOk(2, &ok), 0);
    EXPECT_EQ(downloader->GetBootSector(&boot), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(ok, 9u);
    EXPECT_EQ(boot, 9);
}

TEST_F(CopnDownloaderTest, SectorDescriptionIsReadInItsOrderAndCutToItsFields) {
    fake.SetU32(TheNode, 0x3609, 0, 0x00020005);
    fake.SetText(TheNode, 0x3607, "May 17 2024 (long)");
    fake.SetText(TheNode, 0x3608, "12:34:56.789");
    fake.SetText(TheNode, 0x3605, "Application Sector");
    fake.SetText(TheNode, 0x3606, std::string(40, 'd'));
    SectorDescription d;
    std::memset(&d, 'X', sizeof d);
    EXPECT_EQ(downloader->GetSectorDescription(2, &d), 1);
    EXPECT_EQ(fake.AllCalls(),
              (Calls{selectSector2, "SDO_Upload_UNSIGNED32(256,3,0x3609,0)",
                     "SDO_Upload(256,3,0x3607,0,256)", "SDO_Upload(256,3,0x3608,0,256)",
                     "SDO_Upload(256,3,0x3605,0,256)", "SDO_Upload(256,3,0x3606,0,256)"}));
    EXPECT_EQ(d.Revision, 0x00020005u);
    EXPECT_EQ(d.BuildDateText(), "May 17 2024");
    EXPECT_EQ(d.BuildTimeText(), "12:34:56.78");
    EXPECT_EQ(d.NameText(), "Application Sec");
    EXPECT_EQ(d.DescriptionText(), std::string(31, 'd'));
    EXPECT_EQ(d.Description[31], '\0');

    // A short text takes its bytes and a zero; the rest of the field is left alone.
    fake.SetText(TheNode, 0x3605, "Boot");
    EXPECT_EQ(downloader->GetSectorDescription(2, &d), 1);
    EXPECT_EQ(d.NameText(), "Boot");
}

TEST_F(CopnDownloaderTest, SectorDescriptionStopsAtTheFirstFailingUpload) {
    fake.SetU32(TheNode, 0x3609, 0, 0x00010000);
    fake.SetText(TheNode, 0x3607, "Jan  1 2024");
    fake.SetText(TheNode, 0x3608, "00:00:01");
    fake.SetText(TheNode, 0x3605, "Name");
    fake.SetText(TheNode, 0x3606, "Description");
    fake.QueueResults("SDO_Upload", {1, 1, 0}); // the name fails
    SectorDescription d;
    std::memset(&d, 'X', sizeof d);
    EXPECT_EQ(downloader->GetSectorDescription(2, &d), 0);
    EXPECT_EQ(fake.CallsOf("SDO_Upload(").size(), 3u);
    EXPECT_EQ(d.Revision, 0x00010000u);
    EXPECT_EQ(d.BuildDateText(), "Jan  1 2024");
    EXPECT_EQ(d.BuildTimeText(), "00:00:01");
    EXPECT_EQ(std::string(d.Name, sizeof d.Name), std::string(16, 'X'));
    EXPECT_EQ(std::string(d.Description, sizeof d.Description), std::string(32, 'X'));
}

TEST_F(CopnDownloaderTest, DownloadModeFollowsTheStoredProductCode) {
    struct Case {
        std::uint32_t productCode;
        std::uint32_t inDownloadMode;
    };
    for (const Case& c : {Case{0x00000000, 1}, Case{0x00000123, 0}}) {
        binding().Identity[TheNode].productCode = c.productCode;
        std::uint32_t flag = 7;
        EXPECT_EQ(downloader->IsInDownloadMode(&flag), 1);
        EXPECT_EQ(flag, c.inDownloadMode) << c.productCode;
    }
    EXPECT_TRUE(fake.AllCalls().empty());
}

struct EnterCase {
    const char* name;
    std::int32_t passwordResult;
    std::int32_t resetResult;
    std::int32_t returned;
    Calls calls;
    bool restarted; // node forgotten, 2,500 ms waited
};
void PrintTo(const EnterCase& c, std::ostream* os) {
    *os << c.name;
}

class CopnEnterDownloadModeTest : public CopnDownloaderFixture,
                                  public testing::WithParamInterface<EnterCase> {};

TEST_P(CopnEnterDownloadModeTest, PasswordThenResetNode) {
    const EnterCase& c = GetParam();
    downloader->Online[TheNode] = 1;
    downloader->OnlinePrevious[TheNode] = 1;
    downloader->Online[TheNode + 1] = 1;
    fake.SetResult("SDO_Download_UNSIGNED32", c.passwordResult);
    fake.SetResult("NMT_ResetNode", c.resetResult);

    EXPECT_EQ(downloader->EnterDownloadMode(0x1A2B3C4D), c.returned);
    EXPECT_EQ(fake.AllCalls(), c.calls);
    EXPECT_EQ(downloader->Online[TheNode], c.restarted ? 0u : 1u);
    EXPECT_EQ(downloader->OnlinePrevious[TheNode], c.restarted ? 0u : 1u);
    EXPECT_EQ(downloader->Online[TheNode + 1], 1u);
    EXPECT_EQ(sleeps.Pauses(), c.restarted ? std::vector<DWORD>{2500} : std::vector<DWORD>{});
}

const std::string passwordCall = "SDO_Download_UNSIGNED32(256,3,0x360F,0,439041101)";

INSTANTIATE_TEST_SUITE_P(
    Answers, CopnEnterDownloadModeTest,
    testing::Values(EnterCase{"Accepted", 1, 5, 5, {passwordCall, "NMT_ResetNode(256,3)"}, true},
                    EnterCase{"PasswordRefused", 0, 1, 0, {passwordCall}, false},
                    EnterCase{
                        "ResetNotSent", 1, 0, 0, {passwordCall, "NMT_ResetNode(256,3)"}, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CopnDownloaderTest, ExecuteAndResetSendOnlyResetNodeAndForgetTheNode) {
    struct Case {
        const char* name;
        std::function<std::int32_t(TCOPN_Downloader&)> run;
    };
    for (const Case& c : {Case{"Execute",
                               [](auto& d) {
                                   return d.ExecuteSector(5);
                               }},
                          Case{"Reset", [](auto& d) {
                                   return d.Reset();
                               }}}) {
        SCOPED_TRACE(c.name);
        for (std::int32_t result : {1, 0}) {
            fake.ClearCalls();
            fake.SetResult("NMT_ResetNode", result);
            downloader->Online[TheNode] = 1;
            downloader->OnlinePrevious[TheNode] = 1;
            downloader->Online[TheNode + 1] = 1;
            EXPECT_EQ(c.run(*downloader), result);
            EXPECT_EQ(fake.AllCalls(), Calls{"NMT_ResetNode(256,3)"});
            EXPECT_EQ(downloader->Online[TheNode], 0u);
            EXPECT_EQ(downloader->OnlinePrevious[TheNode], 0u);
            EXPECT_EQ(downloader->Online[TheNode + 1], 1u);
        }
    }
    EXPECT_TRUE(sleeps.Pauses().empty());
}

TEST_F(CopnDownloaderTest, NodeAddressesPastTheTablesAreNoCrash) {
    downloader->Node = 0xC8; // 200: no table entry, no identity
    std::uint32_t flag = 7;
    EXPECT_EQ(downloader->IsInDownloadMode(&flag), 0);
    EXPECT_EQ(flag, 7u);
    EXPECT_EQ(downloader->Reset(), 1);
    EXPECT_EQ(fake.AllCalls(), Calls{"NMT_ResetNode(256,200)"});
}

TEST_F(CopnDownloaderTest, OperationsWithoutCanopenWorkDoNothing) {
    std::uint8_t byte = 9;
    std::uint32_t a = 9, b = 9;
    Bytes data(8, 0);
    InterfaceConfigRecord config{};
    EXPECT_EQ(downloader->UploadFirmware(2, 0, 8, data.data()), 0); // no read-back
    EXPECT_EQ(downloader->OpenInterface(&config), 0);
    EXPECT_EQ(downloader->CloseInterface(), 0);
    EXPECT_EQ(downloader->GetErrorString(1, 2), 0);
    EXPECT_EQ(downloader->UnloadDriver(), 0);
    EXPECT_EQ(downloader->LoadDriver(), 0);
    EXPECT_EQ(downloader->GetHardwareVersion(&a, &b), 0);
    EXPECT_EQ(downloader->GetFirmwareVersion(&a, &b), 0);
    EXPECT_EQ(downloader->SetActiveSector(1), 0);
    EXPECT_EQ(downloader->GetActiveSector(&byte), 0);
    EXPECT_EQ(downloader->GetMode(&byte), 0);
    EXPECT_EQ(byte, 9);
    EXPECT_EQ(a, 9u);
    EXPECT_TRUE(fake.AllCalls().empty());
}

TEST_F(CopnDownloaderTest, WithoutTheBindingEveryOperationFails) {
    downloader->copnInterface.reset();
    fake.ClearCalls(); // the binding's own goodbye
    std::uint8_t byte = 9;
    std::uint32_t word = 9;
    std::uint16_t nodes = 0;
    const Bytes data = {1, 2};
    SectorDescription description{};
    InterfaceConfigRecord config{};
    char text[256] = "unchanged";
    const std::function<std::int32_t()> operations[] = {
        [&] { return downloader->DownloadFirmware(2, 0, 2, data.data()); },
        [&] { return downloader->SetBootSector(1); },
        [&] { return downloader->GetBootSector(&byte); },
        [&] { return downloader->EraseSector(1); },
        [&] { return downloader->ExecuteSector(1); },
        [&] { return downloader->GetSectorDescription(1, &description); },
        [&] { return downloader->GetSectorCount(&byte); },
        [&] { return downloader->GetSectorSize(1, &word); },
        [&] { return downloader->IsInDownloadMode(&word); },
        [&] { return downloader->EnterDownloadMode(1); },
        [&] { return downloader->SetSectorChecksum(1); },
        [&] { return downloader->ChecksumOk(1, &word); },
        [&] { return downloader->Reset(); },
        [&] { return downloader->GoOnline(); },
        [&] { return downloader->GoOffline(); },
        [&] { return downloader->StartBrowse(); },
        [&] { return downloader->ConfigurationWindow(); },
        [&] { return downloader->HardwareConfigurationWindow(1); },
        [&] { return downloader->ReadConfiguration("\\Key\\"); },
        [&] { return downloader->SaveConfiguration("\\Key\\"); },
        [&] { return downloader->GetInterfaceConfig(&config); },
        [&] { return downloader->UpdateNodesOnline(&word); },
        [&] { return downloader->GetInterfaceName(text); },
    };
    for (std::size_t i = 0; i < std::size(operations); ++i)
        EXPECT_EQ(operations[i](), 0) << "operation " << i;
    EXPECT_EQ(byte, 9);
    EXPECT_EQ(word, 9u);
    EXPECT_STREQ(text, "unchanged");
    for (auto text :
         {downloader->GetNodeString(3), downloader->GetSerialNumber(3),
          downloader->GetProductCode(3), downloader->GetDeviceType(3), downloader->GetRevision(3),
          downloader->GetVendor(3), downloader->GetProductName(3), downloader->GetBaudRateString(),
          downloader->GetNodeIdString()})
        EXPECT_EQ(text, "");
    EXPECT_EQ(downloader->GetMaxNodes(&nodes), 1);
    EXPECT_EQ(nodes, 128);
    EXPECT_TRUE(fake.AllCalls().empty());
    EXPECT_TRUE(sleeps.Pauses().empty());
}

} // namespace
