#include "DownloadWindowFixture.h"
#include "FileOpenDialog.h"
#include "HexFiles.h"
#include "RecordingSleep.h"

#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <cstdio>
#include <filesystem>

namespace {

// The window after "Retrieve Configuration" on the four-sector node (boot sector 0).
class SectorOperationsTest : public DownloadWindowTest {
public:
    void SetUp() override {
        DownloadWindowTest::SetUp();
        node.inDownloadMode = 1;
        window.show();
        window.Button_RetrieveClick();
        node.ClearCalls();
        // The node's own firmware (sector 2 holds "App"), 96 bytes in one record.
        goodFile = files.Write(HexFiles::Image(HexFiles::Firmware("App", 0x00010204, 96), 0, 96));
    }
    void select(int sector) { window.AdvStringGrid_Modules->SetRow(sector + 1); }
    // Node calls that change the node (reads of the table left out).
    std::vector<std::string> changes() const {
        std::vector<std::string> out;
        for (const auto& call : node.Calls())
            if (call.rfind("Get", 0) != 0 && call.rfind("ChecksumOk", 0) != 0 &&
                call != "IsInDownloadMode")
                out.push_back(call);
        return out;
    }

    HexFiles files;
    std::string goodFile;
    ScriptedMessageBoxes boxes;
    ScriptedFileDialog fileDialog;
};

TEST_F(SectorOperationsTest, EraseAsksOnceOrTwiceForTheBootSector) {
    select(3);
    boxes.ExpectApp("Erase Sector #3?", "Caution", IDYES, MB_YESNOCANCEL)
        .ExpectApp("Sector Erased!", "Success", IDOK, MB_OK);
    window.Button_EraseModule->click();
    EXPECT_EQ(changes(), (std::vector<std::string>{"EraseSector(3)"}));
    EXPECT_EQ(window.AdvStringGrid_Modules->Cell(2, 4), "<empty>"); // table read again

    select(0);
    boxes.ExpectApp("Erase Sector #0?", "Caution", IDYES)
        .ExpectApp("Erasing the active page will set the active page to 0...\r\n       Continue?",
                   "Caution", IDNO);
    window.Button_EraseModuleClick();
    EXPECT_EQ(node.CountCalls("EraseSector"), 1u);

    node.eraseFailures = 1;
    select(1);
    boxes.ExpectApp("Erase Sector #1?", "Caution", IDYES)
        .ExpectApp("Could Not Erase Sector!", "Error", IDOK);
    window.Button_EraseModuleClick();
}

TEST_F(SectorOperationsTest, DownloadIntoANonEmptySectorSendsNothing) {
    select(3);
    boxes.ExpectApp("Sector Not Empty...\r\n\r\nErase Sector First!", "Error", IDOK);
    window.Button_UpgradeClick();
    EXPECT_TRUE(node.Calls().empty());
    EXPECT_TRUE(node.Downloads().empty());
}

TEST_F(SectorOperationsTest, DownloadChoosesAndChecksTheFileBeforeErasing) {
    select(1);
    boxes.ExpectApp("Download Sector #1?", "Caution", IDYES);
    fileDialog.Answer(std::nullopt); // cancelled
    window.Button_UpgradeClick();
    EXPECT_TRUE(changes().empty());

    auto request = fileDialog.Requests().at(0);
    EXPECT_EQ(request.title, "Open Hex File");
    EXPECT_EQ(request.defaultExt, "h86");
    EXPECT_EQ(request.filter, "Hex Files  (*.HEX,*.H86)|*.H86;*.HEX");
    EXPECT_EQ(request.initialDir, DefaultDocumentsFolder());

    for (const std::string& bad :
         {files.Write({HexFiles::EndOfFile()}),                      // no data at all
          files.Write({HexFiles::Data(0, {1, 2}), ":0100010002FF"}), // bad checksum
          files.Write({HexFiles::Data(0, {1, 2})}),                  // cut short at a line end
          std::string("/nonexistent/image.hex")}) {
        boxes.ExpectApp("Download Sector #1?", "Caution", IDYES)
            .ExpectApp("Download Error", "Warning", IDOK, MB_OK);
        fileDialog.Answer(bad);
        window.Button_UpgradeClick();
    }
    EXPECT_TRUE(changes().empty());

    boxes.ExpectApp("Download Sector #1?", "Caution", IDYES)
        .ExpectApp("Download Successful", "Success", IDOK);
    fileDialog.Answer(goodFile);
    window.Button_UpgradeClick();
    EXPECT_EQ(changes(), (std::vector<std::string>{"EraseSector(1)", "SetSectorChecksum(1)"}));
    EXPECT_EQ(node.Downloads().size(), 4u); // 96 bytes: three blocks and an empty rest
}

// Between the check and the download the file is deleted, or replaced by another image
// under its name: what is written is still the file that was checked.
TEST_F(SectorOperationsTest, DownloadWritesTheFileThatWasChecked) {
    const std::string other =
        files.Write({HexFiles::Data(0x100, HexFiles::Bytes(16)), HexFiles::EndOfFile()});
    struct Case {
        const char* name;
        std::function<void(const std::string&)> change;
    };
    for (const Case& c : {Case{"deleted",
                               [](const std::string& path) {
                                   std::remove(path.c_str());
                               }},
                          Case{"replaced", [&](const std::string& path) {
                                   std::filesystem::copy_file(other, path + ".new");
                                   std::filesystem::rename(path + ".new", path);
                               }}}) {
        SCOPED_TRACE(c.name);
        const std::string path =
            files.Write(HexFiles::Image(HexFiles::Firmware("App", 0x00010204, 96), 0, 96));
        node.onErase = [&](std::uint8_t) {
            c.change(path);
        };
        node.ClearCalls();
        const size_t before = node.Downloads().size();
        select(1);
        boxes.ExpectApp("Download Sector #1?", "Caution", IDYES)
            .ExpectApp("Download Successful", "Success", IDOK);
        fileDialog.Answer(path);
        window.Button_UpgradeClick();
        auto downloads = node.Downloads();
        downloads.erase(downloads.begin(), downloads.begin() + static_cast<long>(before));
        EXPECT_EQ(downloads, (std::vector<ScriptedDownloader::Block>{
                                 {1, 0, 32}, {1, 32, 32}, {1, 64, 32}, {1, 96, 0}}));
        EXPECT_EQ(changes(), (std::vector<std::string>{"EraseSector(1)", "SetSectorChecksum(1)"}));
    }
}

TEST_F(SectorOperationsTest, DownloadStopsWhenEraseFails) {
    select(1);
    node.eraseFailures = 1;
    boxes.ExpectApp("Download Sector #1?", "Caution", IDYES)
        .ExpectApp("Could Not Erase Sector!", "Error", IDOK);
    fileDialog.Answer(goodFile);
    window.Button_UpgradeClick();
    EXPECT_EQ(changes(), (std::vector<std::string>{"EraseSector(1)"}));
    EXPECT_TRUE(node.Downloads().empty());
}

TEST_F(SectorOperationsTest, MakeBootSector) {
    select(1);
    boxes.ExpectApp("Sector Empty.\r\n Cannot make current sector the Boot Sector!", "Error", IDOK);
    window.Button_MakeActiveClick();

    select(3);
    boxes.ExpectApp("Make current sector the Boot Sector?", "Caution", IDCANCEL);
    window.Button_MakeActiveClick();
    EXPECT_TRUE(changes().empty());

    boxes.ExpectApp("Make current sector the Boot Sector?", "Caution", IDYES);
    window.Button_MakeActiveClick();
    EXPECT_EQ(changes(), (std::vector<std::string>{"SetBootSector(3)"}));
    EXPECT_EQ(window.BootSector, 3u); // read again

    node.setBootOk = false;
    boxes.ExpectApp("Make current sector the Boot Sector?", "Caution", IDYES)
        .ExpectApp("Cannot Make Sector Active!", "Warning", IDOK);
    window.Button_MakeActiveClick();
    EXPECT_EQ(node.CountCalls("GetBootSector"), 2u);
}

TEST_F(SectorOperationsTest, ExecuteRefusesSectorZeroChecksumErrorsAndEmptySectors) {
    struct Refusal {
        int sector;
        const char* text;
        const char* caption;
    };
    for (const auto& r :
         {Refusal{0, "Active Sector already running.\r\n", "Information"},
          Refusal{2, "Cannot Execute Sector!\r\nChecksum Error!", "Error"},
          Refusal{1, "Sector Empty!\r\n Cannot make execute an empty sector!", "Error"}}) {
        select(r.sector);
        boxes.ExpectApp(r.text, r.caption, IDOK, MB_OK);
        window.Button_ExecuteClick();
    }
    EXPECT_TRUE(node.Calls().empty());
}

TEST_F(SectorOperationsTest, ExecuteOnRowOneNeverAsksTheNodeEvenWhenSectorZeroWasUnreadable) {
    node.sectors[0].descriptionOk = false;
    window.Button_RetrieveClick();
    ASSERT_EQ(window.AdvStringGrid_Modules->Cell(3, 1), "Error");
    node.ClearCalls();
    select(0);
    boxes.ExpectApp("Active Sector already running.\r\n", "Information", IDOK, MB_OK);
    window.Button_Execute->click();
    EXPECT_TRUE(node.Calls().empty());
}

TEST_F(SectorOperationsTest, ExecuteAsksWhetherToMakeItTheBootSector) {
    const char* bootQuestion = "Do you want to make this the boot sector?\r\nIf you choose \"No\" "
                               "this sector will only be active until power cycle or reset!\r\n";
    select(3);
    boxes.ExpectApp("Execute Sector #3?", "Caution", IDYES)
        .ExpectApp(bootQuestion, "Caution", IDCANCEL);
    window.Button_ExecuteClick();
    EXPECT_TRUE(changes().empty());

    node.executeOk = false;
    boxes.ExpectApp("Execute Sector #3?", "Caution", IDYES)
        .ExpectApp(bootQuestion, "Caution", IDNO)
        .ExpectApp("Could Not Execute Sector!\r\n Possible Checksum Error", "Error", IDOK);
    window.Button_ExecuteClick();
    EXPECT_EQ(changes(), (std::vector<std::string>{"ExecuteSector(3)"}));
    EXPECT_TRUE(window.isVisible());

    node.executeOk = true;
    node.ClearCalls();
    boxes.ExpectApp("Execute Sector #3?", "Caution", IDYES)
        .ExpectApp(bootQuestion, "Caution", IDYES);
    window.Button_ExecuteClick();
    EXPECT_EQ(changes(), (std::vector<std::string>{"SetBootSector(3)", "ExecuteSector(3)"}));
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.SectorTableValid, 0u);
    EXPECT_EQ(window.AdvStringGrid_Modules->Cell(3, 1), "");
}

TEST_F(SectorOperationsTest, RebootClosesOnlyWhenTheNodeRestarts) {
    node.resetOk = false;
    window.Button_RebootNode->click();
    EXPECT_TRUE(window.isVisible());
    node.resetOk = true;
    window.Button_RebootNode->click();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(node.CountCalls("Reset"), 2u);
}

TEST_F(SectorOperationsTest, SectorsNotReadDuringThisShowingAreLeftAlone) {
    window.FormShow(); // another node: nothing read yet
    // Row 1 is sector 0 whatever was read: Execute tells it runs already.
    boxes.ExpectApp("Active Sector already running.\r\n", "Information", IDOK);
    for (auto handler :
         {&TForm_FW_Download::Button_EraseModuleClick, &TForm_FW_Download::Button_UpgradeClick,
          &TForm_FW_Download::Button_MakeActiveClick, &TForm_FW_Download::Button_ExecuteClick})
        (window.*handler)();
    EXPECT_TRUE(node.Calls().empty());
}

// What the user is asked before a sector is erased for a file that may not belong there.
// No stops before anything is erased; Yes goes on with the download.
TEST_F(SectorOperationsTest, FilesThatDoNotLookLikeThisNodesFirmwareAskFirst) {
    constexpr unsigned riskFlags = MB_YESNOCANCEL | MB_ICONEXCLAMATION | MB_DEFBUTTON2;
    struct Case {
        const char* name;
        std::vector<std::uint8_t> image;
        std::string question;
    };
    const Case cases[] = {
        {"NoHeader", std::vector<std::uint8_t>(256, 0x55),
         "This file does not hold a firmware image header. Download anyway?"},
        {"ErasedHeader", std::vector<std::uint8_t>(128, 0xFF),
         "This file does not hold a firmware image header. Download anyway?"},
        {"OtherFirmware", HexFiles::Firmware("CANopen App", 0x00020011, 128),
         "The file holds CANopen App 2.17; the node runs App 1.3. Download anyway?"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = files.Write(HexFiles::Image(c.image));
        for (int answer : {IDNO, IDCANCEL, IDYES}) {
            SCOPED_TRACE(answer);
            node.ClearCalls();
            const size_t before = node.Downloads().size();
            select(1);
            boxes.ExpectApp("Download Sector #1?", "Caution", IDYES)
                .ExpectApp(c.question, "Warning", answer, riskFlags);
            if (answer == IDYES)
                boxes.ExpectApp("Download Successful", "Success", IDOK);
            fileDialog.Answer(path);
            window.Button_UpgradeClick();
            if (answer == IDYES) {
                EXPECT_EQ(changes(),
                          (std::vector<std::string>{"EraseSector(1)", "SetSectorChecksum(1)"}));
                EXPECT_GT(node.Downloads().size(), before);
                node.sectors[1].description = ScriptedDownloader::EmptyDescription();
                window.RetrieveSectorTable();
            } else {
                EXPECT_TRUE(changes().empty());
                EXPECT_EQ(node.Downloads().size(), before);
            }
        }
    }
}

// The node's own firmware under another revision, and a node that has no firmware of its
// own to compare with, ask nothing.
TEST_F(SectorOperationsTest, SameFirmwareOrANodeWithoutOneAsksNothing) {
    for (bool erasedNode : {false, true}) {
        SCOPED_TRACE(erasedNode);
        if (erasedNode) {
            node.sectors[2].description = ScriptedDownloader::EmptyDescription();
            node.sectors[3].description = ScriptedDownloader::EmptyDescription();
            window.RetrieveSectorTable();
        }
        node.ClearCalls();
        select(1);
        boxes.ExpectApp("Download Sector #1?", "Caution", IDYES)
            .ExpectApp("Download Successful", "Success", IDOK);
        fileDialog.Answer(erasedNode ? files.Write(HexFiles::Image(
                                           HexFiles::Firmware("Anything", 0x00050006, 100)))
                                     : goodFile);
        window.Button_UpgradeClick();
        EXPECT_EQ(changes(), (std::vector<std::string>{"EraseSector(1)", "SetSectorChecksum(1)"}));
        node.sectors[1].description = ScriptedDownloader::EmptyDescription();
        window.RetrieveSectorTable();
    }
}

// An image must fit the sector it goes to, counted from the sector's first byte to the
// highest address the file writes; gaps count.
TEST_F(SectorOperationsTest, ImageLargerThanTheSectorIsRefusedBeforeTheErase) {
    select(1); // 0x800 bytes
    boxes.ExpectApp("Download Sector #1?", "Caution", IDYES)
        .ExpectApp("The file's image needs 000801 bytes; sector #1 holds 000800 bytes.\r\n"
                   "Nothing was erased.",
                   "Error", IDOK, MB_OK);
    auto lines = HexFiles::Image(HexFiles::Firmware("App", 0x00010204, 96));
    lines.insert(lines.end() - 1, HexFiles::Data(0x800, {0x00}));
    fileDialog.Answer(files.Write(lines));
    window.Button_UpgradeClick();
    EXPECT_TRUE(changes().empty());
    EXPECT_TRUE(node.Downloads().empty());
    EXPECT_EQ(window.AdvStringGrid_Modules->Cell(2, 2), "<empty>");

    // Exactly the sector's size fits.
    lines = HexFiles::Image(HexFiles::Firmware("App", 0x00010204, 96));
    lines.insert(lines.end() - 1, HexFiles::Data(0x7FF, {0x00}));
    boxes.ExpectApp("Download Sector #1?", "Caution", IDYES)
        .ExpectApp("Download Successful", "Success", IDOK);
    fileDialog.Answer(files.Write(lines));
    window.Button_UpgradeClick();
    EXPECT_EQ(changes(), (std::vector<std::string>{"EraseSector(1)", "SetSectorChecksum(1)"}));
}

// Sector 0 holds the loader: erasing it asks once more, with No as the default.
TEST_F(SectorOperationsTest, ErasingTheLoaderAsksAgain) {
    const std::string loaderQuestion =
        "Sector 0 holds the loader the node needs to take new firmware. Erase it anyway?";
    node.bootSector = 2; // the loader is not the boot sector: the Part's own question is not asked
    window.RetrieveSectorTable();
    node.ClearCalls();
    select(0);
    for (int answer : {IDNO, IDCANCEL}) {
        boxes.ExpectApp("Erase Sector #0?", "Caution", IDYES)
            .ExpectApp(loaderQuestion, "Warning", answer,
                       MB_YESNOCANCEL | MB_ICONEXCLAMATION | MB_DEFBUTTON2);
        window.Button_EraseModuleClick();
    }
    EXPECT_TRUE(changes().empty());
    boxes.ExpectApp("Erase Sector #0?", "Caution", IDYES)
        .ExpectApp(loaderQuestion, "Warning", IDYES)
        .ExpectApp("Sector Erased!", "Success", IDOK);
    window.Button_EraseModuleClick();
    EXPECT_EQ(changes(), (std::vector<std::string>{"EraseSector(0)"}));
}

// A sector the node does not vouch for (checksum error, or no answer to the check) becomes
// the boot sector only after one more question.
TEST_F(SectorOperationsTest, MakingAnUncheckedSectorBootAsks) {
    node.sectors[3].checksumCallOk = false;
    window.RetrieveSectorTable();
    EXPECT_EQ(window.AdvStringGrid_Modules->Cell(2, 4), "<ok>");
    EXPECT_EQ(window.StatusLine->currentMessage().toStdString(),
              "The checksum of sector #3 could not be checked.");
    node.ClearCalls();
    for (int s : {2, 3}) {
        SCOPED_TRACE(s);
        const std::string question = "The node does not confirm the checksum of sector #" +
                                     std::to_string(s) + ". Make it the Boot Sector anyway?";
        select(s);
        boxes.ExpectApp("Make current sector the Boot Sector?", "Caution", IDYES)
            .ExpectApp(question, "Warning", IDNO,
                       MB_YESNOCANCEL | MB_ICONEXCLAMATION | MB_DEFBUTTON2);
        window.Button_MakeActiveClick();
        EXPECT_TRUE(changes().empty());
        boxes.ExpectApp("Make current sector the Boot Sector?", "Caution", IDYES)
            .ExpectApp(question, "Warning", IDYES);
        window.Button_MakeActiveClick();
        EXPECT_EQ(changes().back(), "SetBootSector(" + std::to_string(s) + ")");
        node.ClearCalls();
    }
}

// A VARNIX module of hardware version 2 links its images at 0x28000: an image linked there
// is measured from that address, and one linked at 0 is refused.
TEST(VarnixImageBaseTest, HardwareTwoImagesAreMeasuredFromTheirBase) {
    class HardwareTwo : public ScriptedDownloader {
    public:
        std::int32_t GetHardwareVersion(std::uint32_t* major, std::uint32_t* minor) override {
            *major = 2;
            *minor = 0;
            return 1;
        }
    } node;
    node.NodeType = 3;
    node.inDownloadMode = 1;
    node.sectors = {
        {true, ScriptedDownloader::Description("Loader", "Loader", "Jan 02 2024", "10:11:12", 1)},
        {true, ScriptedDownloader::EmptyDescription()},
        {true, ScriptedDownloader::Description("VARNIX App", "App", "Jan 02 2024", "10:11:12", 1)},
    };
    node.sectors[1].size = 0x100;
    TForm_FW_Download window;
    window.Downloader = &node;
    window.show();
    window.Button_RetrieveClick();
    window.AdvStringGrid_Modules->SetRow(2);
    HexFiles files;
    ScriptedMessageBoxes boxes;
    ScriptedFileDialog dialog;

    dialog.Answer(files.Write(HexFiles::Image(HexFiles::Firmware("VARNIX App", 2, 0x100))));
    boxes.ExpectApp("Download Sector #1?", "Caution", IDYES)
        .ExpectApp("The file's image begins below address 028000, where this node's images "
                   "begin.\r\nNothing was erased.",
                   "Error", IDOK);
    window.Button_UpgradeClick();
    EXPECT_EQ(node.CountCalls("EraseSector"), 0u);

    dialog.Answer(
        files.Write(HexFiles::Image(HexFiles::Firmware("VARNIX App", 2, 0x100), 0x28000)));
    boxes.ExpectApp("Download Sector #1?", "Caution", IDYES)
        .ExpectApp("Download Successful", "Success", IDOK);
    window.Button_UpgradeClick();
    EXPECT_EQ(node.CountCalls("EraseSector(1)"), 1u);
    EXPECT_EQ(node.Downloads().front().address, 0x28000u);
    window.close();
}

// The standard update, from the top.
class StandardUpdateTest : public SectorOperationsTest {
public:
    void SetUp() override {
        SectorOperationsTest::SetUp();
        node.inDownloadMode = 0;
        window.Edit_Password->setText("1A2B");
        boxes.ExpectSystem(EnterQuestion, "Warning", IDYES)
            .ExpectSystem("Are you sure you want to Download New Firmware?\r\n Continue?",
                          "Warning", IDYES, MB_YESNOCANCEL | MB_ICONEXCLAMATION);
    }
    static constexpr const char* EnterQuestion =
        "The module is not currently in the download mode.\r\n"
        "Entering Download mode will stop current Node Application Firmware!\r\n"
        "Make sure the Node is in a safe state!\r\n"
        "Enter download mode?\r\n";
    RecordingSleep sleeps;
};

TEST_F(StandardUpdateTest, ReplacesSectorTwoMakesItBootAndRestarts) {
    window.AdvStringGrid_Modules->SetRow(4); // the selection does not matter
    fileDialog.Answer(goodFile);
    boxes.ExpectApp("Download Successful", "Success", IDOK)
        .ExpectApp("Sector Download Complete\r\nExecute new Firmware?", "Caution", IDYES,
                   MB_YESNOCANCEL);
    window.Button1->click();
    EXPECT_EQ(changes(), (std::vector<std::string>{"EnterDownloadMode(6699)", "EraseSector(2)",
                                                   "EraseSector(2)", "SetSectorChecksum(2)",
                                                   "SetBootSector(2)", "Reset"}));
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(sleeps.Pauses().empty());
}

TEST_F(StandardUpdateTest, CancelledOrBadFileLeavesSectorTwoAsItWas) {
    fileDialog.Answer(std::nullopt);
    window.Button1Click();
    boxes
        .ExpectSystem("Are you sure you want to Download New Firmware?\r\n Continue?", "Warning",
                      IDYES)
        .ExpectApp("Download Error", "Warning", IDOK);
    fileDialog.Answer(files.Write({HexFiles::EndOfFile()}));
    window.Button1Click();
    EXPECT_EQ(node.CountCalls("EraseSector"), 0u);
    EXPECT_EQ(fileDialog.Requests().size(), 2u);
}

// The standard update makes the same checks before it erases sector 2.
TEST_F(StandardUpdateTest, WrongOrOversizedFileLeavesSectorTwoAsItWas) {
    fileDialog.Answer(
        files.Write(HexFiles::Image(HexFiles::Firmware("CANopen App", 0x00020011, 128))));
    boxes.ExpectApp("The file holds CANopen App 2.17; the node runs App 1.3. Download anyway?",
                    "Warning", IDNO);
    window.Button1Click();

    node.sectors[2].size = 0x40;
    window.RetrieveSectorTable();
    fileDialog.Answer(goodFile);
    boxes
        .ExpectSystem("Are you sure you want to Download New Firmware?\r\n Continue?", "Warning",
                      IDYES)
        .ExpectApp("The file's image needs 000060 bytes; sector #2 holds 000040 bytes.\r\n"
                   "Nothing was erased.",
                   "Error", IDOK);
    window.Button1Click();
    EXPECT_EQ(node.CountCalls("EraseSector"), 0u);
    EXPECT_TRUE(node.Downloads().empty());

    // Yes to the question goes on with the update.
    node.sectors[2].size = 0x1F000;
    fileDialog.Answer(
        files.Write(HexFiles::Image(HexFiles::Firmware("CANopen App", 0x00020011, 128))));
    boxes
        .ExpectSystem("Are you sure you want to Download New Firmware?\r\n Continue?", "Warning",
                      IDYES)
        .ExpectApp("The file holds CANopen App 2.17; the node runs App 1.3. Download anyway?",
                   "Warning", IDYES)
        .ExpectApp("Download Successful", "Success", IDOK)
        .ExpectApp("Sector Download Complete\r\nExecute new Firmware?", "Caution", IDNO);
    window.Button1Click();
    EXPECT_EQ(node.CountCalls("EraseSector(2)"), 2u);
}

TEST_F(StandardUpdateTest, EraseIsRetriedOnceAfterASecond) {
    node.eraseFailures = 1;
    fileDialog.Answer(goodFile);
    boxes.ExpectApp("Download Successful", "Success", IDOK)
        .ExpectApp("Sector Download Complete\r\nExecute new Firmware?", "Caution", IDNO);
    window.Button1Click();
    EXPECT_EQ(sleeps.Pauses(), (std::vector<DWORD>{1000}));
    EXPECT_EQ(node.CountCalls("EraseSector(2)"), 3u);
    EXPECT_EQ(node.CountCalls("Reset"), 0u); // No: boot sector set, node not restarted
    EXPECT_EQ(node.bootSector, 2u);
    EXPECT_TRUE(window.isVisible());
}

TEST_F(StandardUpdateTest, SecondEraseFailureStops) {
    node.eraseFailures = 2;
    fileDialog.Answer(goodFile);
    boxes.ExpectApp("Could Not Erase Sector!", "Error", IDOK);
    window.Button1Click();
    EXPECT_TRUE(node.Downloads().empty());
}

TEST_F(StandardUpdateTest, FailuresAfterTheDownloadAreReported) {
    node.setBootOk = false;
    fileDialog.Answer(goodFile);
    boxes.ExpectApp("Download Successful", "Success", IDOK)
        .ExpectApp("Cannot Make Sector Active!", "Warning", IDOK);
    window.Button1Click();

    node.setBootOk = true;
    node.resetOk = false;
    fileDialog.Answer(goodFile);
    boxes
        .ExpectSystem("Are you sure you want to Download New Firmware?\r\n Continue?", "Warning",
                      IDYES)
        .ExpectApp("Download Successful", "Success", IDOK)
        .ExpectApp("Sector Download Complete\r\nExecute new Firmware?", "Caution", IDYES)
        .ExpectApp("Cannot Execute New Firmware!", "Warning", IDOK);
    window.Button1Click();
    EXPECT_TRUE(window.isVisible());
}

TEST_F(StandardUpdateTest, FailedDownloadStopsWithoutFurtherMessage) {
    node.failDownloadAt = 0;
    fileDialog.Answer(goodFile);
    boxes.ExpectApp("Download Error", "Warning", IDOK);
    window.Button1Click();
    EXPECT_EQ(node.CountCalls("SetBootSector"), 0u);
}

// Success is the node's word: a checksum the node does not confirm is no successful
// download, and the standard update stops before the boot sector.
TEST_F(StandardUpdateTest, AChecksumTheNodeDoesNotConfirmStopsTheUpdate) {
    node.checksumConfirmed = false;
    fileDialog.Answer(goodFile);
    boxes.ExpectApp("The node does not confirm the checksum of sector #2: the download is not "
                    "complete.",
                    "Error", IDOK, MB_OK);
    window.Button1Click();
    EXPECT_EQ(node.CountCalls("SetBootSector"), 0u);
    EXPECT_TRUE(window.isVisible());
}

// An erase the node leaves unanswered is made again, at most twice, before it fails, and the
// failure says the node did not answer; a refusal is not made again.
TEST_F(StandardUpdateTest, AnUnansweredEraseIsMadeAgain) {
    node.NoAnswerError = 0x05040000;
    node.eraseFailureError = 0x05040000;
    node.eraseFailures = 2;
    fileDialog.Answer(goodFile);
    boxes.ExpectApp("Download Successful", "Success", IDOK)
        .ExpectApp("Sector Download Complete\r\nExecute new Firmware?", "Caution", IDNO);
    window.Button1Click();
    EXPECT_EQ(node.CountCalls("EraseSector(2)"), 4u); // 3 for the first, 1 before the download
    EXPECT_TRUE(sleeps.Pauses().empty());

    // Sector 2 holds firmware again; the node now leaves every erase unanswered.
    node.sectors[2].description =
        ScriptedDownloader::Description("App", "Application", "Mar 04 2024", "13:14:15", 0x10204);
    node.eraseFailures = 6;
    fileDialog.Answer(goodFile);
    boxes
        .ExpectSystem("Are you sure you want to Download New Firmware?\r\n Continue?", "Warning",
                      IDYES)
        .ExpectApp("Could Not Erase Sector!\r\nThe node did not answer.", "Error", IDOK);
    window.Button1Click();
    EXPECT_EQ(sleeps.Pauses(), (std::vector<DWORD>{1000}));
}

} // namespace
