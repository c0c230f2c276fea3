// The firmware side of the DeviceNet downloader: the node's firmware object over explicit
// messaging, the restarts through the Identity object, and the sector checksum over the
// downloader's own mirror.

#include "DnetFixture.h"

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

// A call to attribute attr of the firmware object of node 3.
std::string firmware(const char* name, unsigned attr, const std::string& rest = "") {
    return std::string(name) + "(256,3,0xC7,1," + std::to_string(attr) + rest + ")";
}
const std::string select2 = firmware("SetAttribute_USINT", 7, ",2");
const std::string identityReset = "ExplicitService(256,3,0x05,0x01,1,0,,256)";

using DnetDownloaderTest = DnetDownloaderFixture;

TEST_F(DnetDownloaderTest, BlockGoesAsOneDownloadCommandToTheNodesLowByte) {
    downloader->Node = 0x0103; // the MAC ID is the low byte
    const Bytes data = counting(32);
    const std::string command = firmware("SetAttribute", 3, ",38,02 02 45 23 01 20 " + hex(data));

    // Address bits 24-31 are not sent, and such an address is past the mirror.
    EXPECT_EQ(downloader->DownloadFirmware(2, 0xAB012345, 32, data.data()), 1);
    EXPECT_EQ(fake.AllCalls(), Calls{command});
    EXPECT_EQ(downloader->imageMirror, Bytes(TDNet_Downloader::ImageMirrorSize, 0xFF));

    fake.ClearCalls();
    EXPECT_EQ(downloader->DownloadFirmware(2, 0x012345, 32, data.data()), 1);
    EXPECT_EQ(fake.AllCalls(), Calls{command});
    EXPECT_EQ(Bytes(downloader->imageMirror.begin() + 0x12345,
                    downloader->imageMirror.begin() + 0x12345 + 32),
              data);
    EXPECT_EQ(downloader->imageMirror[0x12344], 0xFF);
    EXPECT_EQ(downloader->imageMirror[0x12345 + 32], 0xFF);
}

TEST_F(DnetDownloaderTest, BlockAcrossTheEndOfTheMirrorKeepsWhatFitsAndIsSentWhole) {
    const Bytes data = {0xA1, 0xA2, 0xA3, 0xA4};
    EXPECT_EQ(downloader->DownloadFirmware(1, 0x2FFFC, 4, data.data()), 1);
    EXPECT_EQ(fake.AllCalls(),
              Calls{firmware("SetAttribute", 3, ",10,02 01 FC FF 02 04 " + hex(data))});
    EXPECT_EQ(downloader->imageMirror[0x2FFFC], 0xA1);
    EXPECT_EQ(downloader->imageMirror[0x2FFFD], 0xA2);
    EXPECT_EQ(downloader->imageMirror.size(), TDNet_Downloader::ImageMirrorSize);
}

TEST_F(DnetDownloaderTest, BlockIsTriedAtMostThreeTimes) {
    struct Case {
        std::vector<std::int32_t> results;
        std::int32_t returned;
        std::size_t writes;
    };
    const Bytes data = {1, 2};
    for (const Case& c :
         {Case{{0, 0, 0}, 0, 3}, Case{{0, 0, 4}, 4, 3}, Case{{0, 1}, 1, 2}, Case{{1}, 1, 1}}) {
        SCOPED_TRACE(testing::PrintToString(c.results));
        fake.ClearCalls();
        fake.QueueResults("SetAttribute", c.results);
        fake.SetResult("SetAttribute", 0); // a fourth attempt would fail too
        EXPECT_EQ(downloader->DownloadFirmware(0, 0x10, 2, data.data()), c.returned);
        EXPECT_EQ(fake.AllCalls(),
                  Calls(c.writes, firmware("SetAttribute", 3, ",8,02 00 10 00 00 02 01 02")));
        fake.SetResult("SetAttribute", 1);
    }
    EXPECT_TRUE(sleeps.Pauses().empty()); // no pause between attempts
}

TEST_F(DnetDownloaderTest, EraseSendsTheTwoByteCommandAndWaitsOnlyWhenItWorked) {
    const std::string erase = firmware("SetAttribute", 3, ",2,03 05");
    EXPECT_EQ(downloader->EraseSector(5), 1);
    EXPECT_EQ(fake.AllCalls(), Calls{erase});
    EXPECT_EQ(sleeps.Pauses(), std::vector<DWORD>{2500});

    fake.ClearCalls();
    fake.SetResult("SetAttribute", 0);
    EXPECT_EQ(downloader->EraseSector(5), 0);
    EXPECT_EQ(fake.AllCalls(), Calls{erase}); // tried once
    EXPECT_EQ(sleeps.Pauses(), std::vector<DWORD>{2500});
}

// The sum of 98,303 words of 0xFFFF, wrapped to 32 bits.
constexpr std::uint32_t BlankSum = 0x7FFD8001;

TEST_F(DnetDownloaderTest, ChecksumOfABlankMirrorBeforeAnyDownload) {
    fake.SetResult("SetAttribute_UDINT", 6);
    EXPECT_EQ(downloader->SetSectorChecksum(2), 6);
    EXPECT_EQ(fake.AllCalls(),
              (Calls{select2, firmware("SetAttribute_UDINT", 13, "," + std::to_string(BlankSum))}));
}

TEST_F(DnetDownloaderTest, ChecksumSumsLittleEndianWordsOfTheMirror) {
    const Bytes block = {1, 2, 3, 4};
    downloader->DownloadFirmware(2, 0, 4, block.data());
    const Bytes last = {0x12, 0x34};
    downloader->DownloadFirmware(2, 0x2FFFC, 2, last.data()); // the last word summed
    fake.ClearCalls();
    EXPECT_EQ(downloader->SetSectorChecksum(2), 1);
    const std::uint32_t sum = BlankSum - 3 * 0xFFFF + 0x0201 + 0x0403 + 0x3412;
    EXPECT_EQ(fake.AllCalls().back(),
              firmware("SetAttribute_UDINT", 13, "," + std::to_string(sum)));
}

// A node that refuses the write is asked for the sum it holds.
TEST_F(DnetDownloaderTest, ARefusedChecksumIsReadBackAndCompared) {
    struct Case {
        const char* name;
        std::optional<std::uint32_t> stored; // nullopt: the read fails too
        std::int32_t result;
    };
    for (const Case& c : {Case{"Same", BlankSum, 1}, Case{"Other", BlankSum + 1, 0},
                          Case{"Unreadable", std::nullopt, 0}}) {
        SCOPED_TRACE(c.name);
        fake.Reset();
        fake.SetResult("SetAttribute_UDINT", 0);
        if (c.stored)
            fake.SetValue(TheNode, 0xC7, 13, *c.stored, 4);
        EXPECT_EQ(downloader->SetSectorChecksum(2), c.result);
        EXPECT_EQ(
            fake.AllCalls(),
            (Calls{select2, firmware("SetAttribute_UDINT", 13, "," + std::to_string(BlankSum)),
                   firmware("GetAttribute_UDINT", 13)}));
    }
}

// A sector holds a written checksum or the unset value of an erased sector; the node is
// asked for the checksum of the sector it is told to select.
TEST_F(DnetDownloaderTest, ChecksumCheckTellsAnUnsetChecksumFromAWrittenOne) {
    struct Case {
        const char* name;
        std::optional<std::uint32_t> stored; // nullopt: the node does not answer
        std::int32_t result;
        std::uint32_t ok; // 9: left untouched
    };
    for (const Case& c : {Case{"Written", BlankSum, 1, 1}, Case{"Unset", 0xFFFFFFFFu, 1, 0},
                          Case{"NoAnswer", std::nullopt, 0, 9}}) {
        SCOPED_TRACE(c.name);
        fake.Reset();
        if (c.stored)
            fake.SetValue(TheNode, 0xC7, 13, *c.stored, 4);
        else
            fake.SetResult("GetAttribute_UDINT", 0);
        std::uint32_t ok = 9;
        EXPECT_EQ(downloader->ChecksumOk(2, &ok) != 0, c.result != 0);
        EXPECT_EQ(ok, c.ok);
        EXPECT_EQ(fake.AllCalls(), (Calls{select2, firmware("GetAttribute_UDINT", 13)}));
    }
}

// An earlier download in the same run does not enter the sum of the next image: the mirror
// is blank again after every successful erase, as the sector is.
TEST_F(DnetDownloaderTest, MirrorIsBlankAgainAfterASuccessfulEraseOnly) {
    const Bytes earlier = counting(32, 1);
    downloader->DownloadFirmware(1, 0x100, 32, earlier.data());
    const Bytes image = {0x10, 0x20};
    ASSERT_EQ(downloader->EraseSector(2), 1);
    downloader->DownloadFirmware(2, 0, 2, image.data());
    ASSERT_EQ(downloader->SetSectorChecksum(2), 1);
    const std::uint32_t sum = BlankSum - 0xFFFF + 0x2010;
    EXPECT_EQ(fake.AllCalls().back(),
              firmware("SetAttribute_UDINT", 13, "," + std::to_string(sum)));

    // An erase that failed leaves the sector, and the mirror, as they were.
    fake.SetResult("SetAttribute", 0);
    EXPECT_EQ(downloader->EraseSector(2), 0);
    fake.SetResult("SetAttribute", 1);
    ASSERT_EQ(downloader->SetSectorChecksum(2), 1);
    EXPECT_EQ(fake.AllCalls().back(),
              firmware("SetAttribute_UDINT", 13, "," + std::to_string(sum)));
}

TEST_F(DnetDownloaderTest, SectorQueriesReadTheirAttributes) {
    fake.SetValue(TheNode, 0xC7, 16, 4, 1);
    fake.SetValue(TheNode, 0xC7, 17, 0x20000, 4);
    fake.SetValue(TheNode, 0xC7, 14, 2, 1);
    fake.SetBytes(TheNode, 0x01, 4, {7, 3});
    std::uint8_t count = 0, boot = 0;
    std::uint32_t size = 0, major = 0, minor = 0;
    EXPECT_EQ(downloader->GetSectorCount(&count), 1);
    EXPECT_EQ(downloader->GetSectorSize(2, &size), 1);
    EXPECT_EQ(downloader->GetBootSector(&boot), 1);
    EXPECT_EQ(downloader->SetBootSector(1), 1);
    EXPECT_EQ(downloader->GetFirmwareVersion(&major, &minor), 1);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(size, 0x20000u); // of the sector selected last: none is selected here
    EXPECT_EQ(boot, 2);
    EXPECT_EQ(major, 7u);
    EXPECT_EQ(minor, 3u);
    EXPECT_EQ(fake.AllCalls(),
              (Calls{firmware("GetAttribute_USINT", 16), firmware("GetAttribute_UDINT", 17),
                     firmware("GetAttribute_USINT", 14), firmware("SetAttribute_USINT", 14, ",1"),
                     "GetAttribute_UINT(256,3,0x01,1,4)"}));
}

TEST_F(DnetDownloaderTest, FailedSectorQueriesLeaveTheirOutputButTheSizeIsZero) {
    fake.SetResult("GetAttribute_USINT", 0);
    fake.SetResult("GetAttribute_UDINT", 0);
    fake.SetResult("GetAttribute_UINT", 0);
    std::uint8_t count = 9, boot = 9;
    std::uint32_t size = 9, major = 9, minor = 9;
    EXPECT_EQ(downloader->GetSectorCount(&count), 0);
    EXPECT_EQ(downloader->GetSectorSize(2, &size), 0);
    EXPECT_EQ(downloader->GetBootSector(&boot), 0);
    EXPECT_EQ(downloader->GetFirmwareVersion(&major, &minor), 0);
    EXPECT_EQ(count, 9);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(boot, 9);
    EXPECT_EQ(major, 9u);
    EXPECT_EQ(minor, 9u);
}

TEST_F(DnetDownloaderTest, TheNodeWithFixedSectorSizesIsNotAsked) {
    binding().Identity[TheNode].vendorId = 729;
    binding().Identity[TheNode].productCode = 40930;
    const std::uint32_t sizes[] = {0xFFFF, 0x2FFFF, 0x2FFFF, 0xFFFF};
    for (std::uint8_t sector = 0; sector < 4; ++sector) {
        std::uint32_t size = 0;
        EXPECT_EQ(downloader->GetSectorSize(sector, &size), 1);
        EXPECT_EQ(size, sizes[sector]) << int(sector);
    }
    std::uint32_t size = 77;
    EXPECT_EQ(downloader->GetSectorSize(4, &size), 0);
    EXPECT_EQ(size, 77u);
    EXPECT_TRUE(fake.AllCalls().empty());

    // Either value alone is an ordinary node.
    binding().Identity[TheNode].vendorId = 730;
    fake.SetValue(TheNode, 0xC7, 17, 0x8000, 4);
    EXPECT_EQ(downloader->GetSectorSize(4, &size), 1);
    EXPECT_EQ(size, 0x8000u);
}

TEST_F(DnetDownloaderTest, DownloadModeIsBit15OfTheProductCode) {
    struct Case {
        std::int32_t result;
        std::uint16_t productCode;
        std::uint32_t inDownloadMode;
    };
    for (const Case& c :
         {Case{1, 0x9FE2, 1}, Case{1, 0x1FE2, 0}, Case{1, 0x8000, 1}, Case{0, 0x9FE2, 0}}) {
        SCOPED_TRACE(c.productCode);
        fake.SetValue(TheNode, 0x01, 3, c.productCode, 2);
        fake.SetResult("GetAttribute_UINT", c.result);
        fake.ClearCalls();
        std::uint32_t flag = 7;
        EXPECT_EQ(downloader->IsInDownloadMode(&flag), c.result);
        EXPECT_EQ(flag, c.inDownloadMode);
        EXPECT_EQ(fake.AllCalls(), Calls{"GetAttribute_UINT(256,3,0x01,1,3)"});
    }
}

// Every call of the fake driver leaves the node's time-out in the last-error value, as the
// driver does for a request the node left unanswered.
void unanswered(const char*) {
    SetLastError(QVX_DNET_ERROR_NO_ANSWER);
}

// A read and a sector selection change nothing on the node: one the node left unanswered is
// asked again, at most twice; a refusal is not.
TEST_F(DnetDownloaderTest, AnUnansweredReadOrSelectionIsAskedAgainAtMostTwice) {
    fake.SetValue(TheNode, 0xC7, 14, 4, 1);      // the boot sector
    fake.SetValue(TheNode, 0xC7, 13, 0x1234, 4); // a checksum written
    struct Case {
        std::vector<std::int32_t> results;
        bool timeOuts;
        std::int32_t result;
        std::size_t calls;
    };
    // Each queue is used up by the calls expected.
    for (const Case& c :
         {Case{{0, 0, 1}, true, 1, 3}, Case{{0, 0, 0}, true, 0, 3}, Case{{0}, false, 0, 1}}) {
        SCOPED_TRACE(c.results.size());
        fake.SetObserver(c.timeOuts ? unanswered : nullptr);
        fake.QueueResults("GetAttribute_USINT", c.results);
        fake.ClearCalls();
        std::uint8_t boot = 0;
        EXPECT_EQ(downloader->GetBootSector(&boot), c.result);
        EXPECT_EQ(boot, c.result ? 4 : 0);
        EXPECT_EQ(fake.AllCalls().size(), c.calls);

        fake.QueueResults("SetAttribute_USINT", c.results);
        fake.ClearCalls();
        std::uint32_t ok = 7;
        EXPECT_EQ(downloader->ChecksumOk(2, &ok) != 0, c.result != 0);
        EXPECT_EQ(fake.CallsOf("SetAttribute_USINT").size(), c.calls); // the selection
    }
    fake.SetObserver(nullptr);
}

TEST_F(DnetDownloaderTest, SectorDescriptionIsReadInItsOrderAndCutToItsFields) {
    fake.SetShortString(TheNode, 0xC7, 8, "Application Sector");
    fake.SetShortString(TheNode, 0xC7, 9, std::string(40, 'd'));
    fake.SetShortString(TheNode, 0xC7, 10, "May 17 2024 (long)");
    fake.SetShortString(TheNode, 0xC7, 11, "12:34:56.789");
    fake.SetValue(TheNode, 0xC7, 12, 0x00020005, 4);
    SectorDescription d;
    std::memset(&d, 'X', sizeof d);
    EXPECT_EQ(downloader->GetSectorDescription(2, &d), 1);
    EXPECT_EQ(fake.AllCalls(),
              (Calls{select2, firmware("GetAttribute", 8, ",256"),
                     firmware("GetAttribute", 9, ",256"), firmware("GetAttribute", 10, ",256"),
                     firmware("GetAttribute", 11, ",256"), firmware("GetAttribute_UDINT", 12)}));
    EXPECT_EQ(d.NameText(), "Application Sec");
    EXPECT_EQ(d.DescriptionText(), std::string(31, 'd'));
    EXPECT_EQ(d.BuildDateText(), "May 17 2024");
    EXPECT_EQ(d.BuildTimeText(), "12:34:56.78");
    EXPECT_EQ(d.Revision, 0x00020005u);
}

// A shorter text replaces a longer one whole; a text attribute with no characters, or with
// no bytes at all, leaves an empty field.
TEST_F(DnetDownloaderTest, EachTextReplacesItsFieldWhole) {
    fake.SetShortString(TheNode, 0xC7, 8, "Fifteen chars!!");
    fake.SetShortString(TheNode, 0xC7, 9, "A long description of it");
    fake.SetShortString(TheNode, 0xC7, 10, "Jan  1 2024");
    fake.SetShortString(TheNode, 0xC7, 11, "00:00:01");
    fake.SetValue(TheNode, 0xC7, 12, 0x00010000, 4);
    SectorDescription d;
    ASSERT_EQ(downloader->GetSectorDescription(2, &d), 1);
    ASSERT_EQ(d.NameText(), "Fifteen chars!!");

    fake.SetShortString(TheNode, 0xC7, 8, "App");
    fake.SetBytes(TheNode, 0xC7, 9, {0}); // the length byte alone
    fake.SetBytes(TheNode, 0xC7, 10, {}); // nothing at all
    ASSERT_EQ(downloader->GetSectorDescription(2, &d), 1);
    EXPECT_EQ(std::string(d.Name, sizeof d.Name), "App" + std::string(13, '\0'));
    EXPECT_EQ(std::string(d.Description, sizeof d.Description), std::string(32, '\0'));
    EXPECT_EQ(std::string(d.BuildDate, sizeof d.BuildDate), std::string(12, '\0'));
    EXPECT_EQ(d.BuildTimeText(), "00:00:01");
}

TEST_F(DnetDownloaderTest, SectorDescriptionStopsAtTheFirstFailure) {
    fake.SetShortString(TheNode, 0xC7, 8, "Name");
    fake.SetShortString(TheNode, 0xC7, 9, "Description");
    fake.SetShortString(TheNode, 0xC7, 10, "Jan  1 2024");
    fake.SetShortString(TheNode, 0xC7, 11, "00:00:01");
    SectorDescription d;
    std::memset(&d, 'X', sizeof d);

    fake.QueueResults("SetAttribute_USINT", {0}); // the selection is refused
    EXPECT_EQ(downloader->GetSectorDescription(2, &d), 0);
    EXPECT_EQ(fake.AllCalls(), Calls{select2});
    EXPECT_EQ(std::string(d.Name, sizeof d.Name), std::string(16, 'X'));

    fake.ClearCalls();
    fake.QueueResults("GetAttribute", {1, 0}); // the description fails
    EXPECT_EQ(downloader->GetSectorDescription(2, &d), 0);
    EXPECT_EQ(fake.AllCalls().size(), 3u);
    EXPECT_EQ(d.NameText(), "Name");
    EXPECT_EQ(std::string(d.Description, sizeof d.Description), std::string(32, 'X'));

    fake.ClearCalls(); // the revision is missing: the texts are read, Revision stays
    EXPECT_EQ(downloader->GetSectorDescription(2, &d), 0);
    EXPECT_EQ(fake.AllCalls().size(), 6u);
    EXPECT_EQ(d.BuildTimeText(), "00:00:01");
    EXPECT_EQ(d.Revision, 0x58585858u);
}

// Entering download mode: the password, the Identity Reset, out of the scanlist, wait for
// the node to go, back into the scanlist, wait for it to come back.
struct EnterCase {
    const char* name;
    std::vector<std::int32_t> passwordResults, resetResults, removeResults, addResults;
    std::vector<std::int32_t> pollResults; // NodeOnline's results, in turn (then 1)
    std::vector<std::uint32_t> presence;   // what the polls find, in turn (then absent)
    std::int32_t returned;
    bool restarted;         // the reset sent and the node taken out of the scanlist
    std::size_t pollsGoing; // polls before the node is put back into the scanlist
    bool added;
    std::size_t pollsComing;
    std::size_t pauses; // of 1,000 ms each
    bool forgotten;     // the node's table entries cleared
};
void PrintTo(const EnterCase& c, std::ostream* os) {
    *os << c.name;
}

class DnetEnterDownloadModeTest : public DnetDownloaderFixture,
                                  public testing::WithParamInterface<EnterCase> {};

TEST_P(DnetEnterDownloadModeTest, RestartsTheNodeThroughTheScanlist) {
    const EnterCase& c = GetParam();
    downloader->Online[TheNode] = 1;
    downloader->OnlinePrevious[TheNode] = 1;
    downloader->Online[TheNode + 1] = 1;
    fake.QueueResults("SetAttribute_UDINT", c.passwordResults);
    fake.QueueResults("ExplicitService", c.resetResults);
    fake.QueueResults("RemoveFromScanlist", c.removeResults);
    fake.QueueResults("AddToScanlist", c.addResults);
    fake.QueueResults("NodeOnline", c.pollResults);
    fake.QueuePresence(TheNode, c.presence);

    EXPECT_EQ(downloader->EnterDownloadMode(0x1A2B3C4D), c.returned);

    Calls expected = {firmware("SetAttribute_UDINT", 18, ",439041101")};
    if (c.restarted) {
        expected.push_back(identityReset);
        expected.push_back("RemoveFromScanlist(256,3,1)");
    }
    expected.insert(expected.end(), c.pollsGoing, "NodeOnline(256,3)");
    if (c.added)
        expected.push_back("AddToScanlist(256,3,1,48,48,1000,2500)");
    expected.insert(expected.end(), c.pollsComing, "NodeOnline(256,3)");
    EXPECT_EQ(fake.AllCalls(), expected);
    EXPECT_EQ(sleeps.Pauses(), std::vector<DWORD>(c.pauses, 1000));
    EXPECT_EQ(downloader->Online[TheNode], c.forgotten ? 0u : 1u);
    EXPECT_EQ(downloader->OnlinePrevious[TheNode], c.forgotten ? 0u : 1u);
    EXPECT_EQ(downloader->Online[TheNode + 1], 1u);
}

const std::vector<std::uint32_t> stays(11, 1);
std::vector<std::uint32_t> staysThenNeverComes() {
    std::vector<std::uint32_t> presence(11, 1);
    presence.insert(presence.end(), 11, 0);
    return presence;
}

INSTANTIATE_TEST_SUITE_P(
    Answers, DnetEnterDownloadModeTest,
    testing::Values(
        EnterCase{"PasswordRefused", {0}, {}, {}, {}, {}, {}, 0, false, 0, false, 0, 0, false},
        EnterCase{"GoesAndComesBack",
                  {},
                  {},
                  {},
                  {},
                  {},
                  {1, 1, 0, 0, 1},
                  1,
                  true,
                  3,
                  true,
                  2,
                  1 + 2 + 1,
                  true},
        EnterCase{"ResetUnansweredStillGoesOn",
                  {},
                  {0},
                  {},
                  {},
                  {},
                  {0, 1},
                  1,
                  true,
                  1,
                  true,
                  1,
                  1,
                  true},
        EnterCase{"NeverGoesNorComesBack",
                  {},
                  {},
                  {},
                  {},
                  {},
                  staysThenNeverComes(),
                  1,
                  true,
                  11,
                  true,
                  11,
                  1 + 11 + 11,
                  true},
        EnterCase{"PollsUnanswered",
                  {},
                  {},
                  {},
                  {},
                  std::vector<std::int32_t>(22, 0),
                  {},
                  0,
                  true,
                  11,
                  true,
                  11,
                  1 + 11 + 11,
                  true},
        EnterCase{"RemovalRefused", {}, {}, {0}, {}, {}, {}, 0, true, 0, false, 0, 1, false},
        EnterCase{"AddingRefused", {}, {}, {}, {0}, {}, {0}, 0, true, 1, true, 0, 1, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DnetDownloaderTest, ExecuteSectorRestartsTheNodeAndPutsItBack) {
    struct Case {
        const char* name;
        std::int32_t reset, remove, add;
        std::int32_t returned;
        std::size_t calls;
        std::size_t pauses;
        bool forgotten;
    };
    const Calls sequence = {identityReset, "RemoveFromScanlist(256,3,1)",
                            "AddToScanlist(256,3,1,32,32,1000,2500)"};
    for (const Case& c :
         {Case{"Restarted", 1, 1, 5, 5, 3, 2, true}, Case{"ResetRefused", 0, 1, 1, 0, 1, 0, false},
          Case{"RemovalRefused", 1, 0, 1, 0, 2, 1, false},
          Case{"AddingRefused", 1, 1, 0, 0, 3, 2, true}}) {
        SCOPED_TRACE(c.name);
        RecordingSleep pauses;
        fake.Reset();
        fake.QueueResults("ExplicitService", {c.reset});
        fake.QueueResults("RemoveFromScanlist", {c.remove});
        fake.QueueResults("AddToScanlist", {c.add});
        downloader->Online[TheNode] = 1;
        downloader->OnlinePrevious[TheNode] = 1;
        EXPECT_EQ(downloader->ExecuteSector(2), c.returned);
        EXPECT_EQ(fake.AllCalls(), Calls(sequence.begin(), sequence.begin() + c.calls));
        EXPECT_EQ(pauses.Pauses(), std::vector<DWORD>(c.pauses, 1000));
        EXPECT_EQ(downloader->Online[TheNode], c.forgotten ? 0u : 1u);
        EXPECT_EQ(downloader->OnlinePrevious[TheNode], c.forgotten ? 0u : 1u);
    }
}

TEST_F(DnetDownloaderTest, ResetSendsTheIdentityResetAndForgetsTheNodeEitherWay) {
    for (std::int32_t result : {1, 0}) {
        fake.ClearCalls();
        fake.SetResult("ExplicitService", result);
        downloader->Online[TheNode] = 1;
        downloader->OnlinePrevious[TheNode] = 1;
        downloader->Online[TheNode + 1] = 1;
        EXPECT_EQ(downloader->Reset(), result);
        EXPECT_EQ(fake.AllCalls(), Calls{identityReset});
        EXPECT_EQ(downloader->Online[TheNode], 0u);
        EXPECT_EQ(downloader->OnlinePrevious[TheNode], 0u);
        EXPECT_EQ(downloader->Online[TheNode + 1], 1u);
    }
    EXPECT_TRUE(sleeps.Pauses().empty());
}

TEST_F(DnetDownloaderTest, NodeAddressesPastTheTablesAreNoCrash) {
    downloader->Node = 0xC8; // 200: no table entry, no identity
    std::uint32_t size = 7;
    fake.SetResult("GetAttribute_UDINT", 0);
    EXPECT_EQ(downloader->GetSectorSize(0, &size), 0);
    EXPECT_EQ(downloader->Reset(), 1);
    EXPECT_EQ(fake.AllCalls(), (Calls{"GetAttribute_UDINT(256,200,0xC7,1,17)",
                                      "ExplicitService(256,200,0x05,0x01,1,0,,256)"}));
}

TEST_F(DnetDownloaderTest, OperationsDeviceNetDoesNotHaveAskNothing) {
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
    EXPECT_EQ(downloader->SetActiveSector(1), 0);
    EXPECT_EQ(downloader->GetActiveSector(&byte), 0);
    EXPECT_EQ(downloader->GetMode(&byte), 0);
    EXPECT_EQ(downloader->GetBrowseTime(&b), 0); // the main window uses its own
    EXPECT_EQ(byte, 9);
    EXPECT_EQ(a, 9u);
    EXPECT_EQ(b, 9u);
    EXPECT_TRUE(fake.AllCalls().empty());
}

TEST_F(DnetDownloaderTest, WithoutTheBindingEveryOperationFails) {
    downloader->dnetInterface.reset();
    fake.ClearCalls(); // the binding's own goodbye
    downloader->Online[TheNode] = 1;
    std::uint8_t byte = 9;
    std::uint32_t word = 9, other = 9;
    std::uint16_t nodes = 0;
    const Bytes data = {1, 2};
    SectorDescription description{};
    InterfaceConfigRecord config{};
    char text[256] = "unchanged";
    const std::function<std::int32_t()> operations[] = {
        [&] { return downloader->GetFirmwareVersion(&word, &other); },
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
        [&] { return downloader->Reset(); },
        [&] { return downloader->GoOnline(); },
        [&] { return downloader->StartBrowse(); },
        [&] { return downloader->StopBrowse(); },
        [&] { return downloader->VersionInformationWindow(); },
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
    EXPECT_EQ(downloader->Online[TheNode], 1u); // Reset left the tables alone
    for (auto text :
         {downloader->GetNodeString(3), downloader->GetSerialNumber(3),
          downloader->GetProductCode(3), downloader->GetDeviceType(3), downloader->GetRevision(3),
          downloader->GetVendor(3), downloader->GetProductName(3), downloader->GetBaudRateString(),
          downloader->GetNodeIdString()})
        EXPECT_EQ(text, "");
    EXPECT_EQ(downloader->GetMaxNodes(&nodes), 1);
    EXPECT_EQ(nodes, 128);
    // Going offline still forgets every node.
    EXPECT_EQ(downloader->GoOffline(), 0);
    EXPECT_EQ(downloader->Online[TheNode], 0u);
    EXPECT_TRUE(fake.AllCalls().empty());
    EXPECT_TRUE(sleeps.Pauses().empty());
}

} // namespace
