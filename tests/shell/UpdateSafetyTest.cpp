// What keeps a user from flashing the wrong thing, through the real windows and driver
// libraries on the embedded simulated networks: a file for another node or none at all asks
// before anything is erased, an image too large for its sector is refused, a window shows
// only its own node, the loader is erased only after a second question, and a sector whose
// download failed shows its checksum error.

#include "EventLoop.h"
#include "Form_FW_Download.h"
#include "Form_FW_Download_Main.h"
#include "HexFiles.h"
#include "NodeRestartWaits.h"
#include "ScriptedDialogs.h"
#include "SimulatedCanopen.h"
#include "SimulatedDevicenet.h"
#include "StringGrid.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace {

const char* const EnterQuestion =
    "The module is not currently in the download mode.\r\n"
    "Entering Download mode will stop current Node Application Firmware!\r\n"
    "Make sure the Node is in a safe state!\r\n"
    "Enter download mode?\r\n";
const char* const UpdateQuestion = "Are you sure you want to Download New Firmware?\r\n Continue?";

struct Bus {
    const char* name;
    TNodeType type;
    const char* ownImage;   // an example image of the node's own firmware, 1.6
    const char* otherImage; // the other bus's
    const char* ownName;
    const char* otherName;
};

class UpdateSafetyTest : public testing::TestWithParam<Bus> {
public:
    void SetUp() override {
        if (GetParam().type == NodeTypeDeviceNet)
            devicenet = std::make_unique<SimulatedDevicenet>();
        else
            canopen = std::make_unique<SimulatedCanopen>();
        sleeps = std::make_unique<WaitingSleep>(NodeOfTheUpdate(window));
        window.NodeType = GetParam().type;
        window.show();
        grid = window.AdvStringGrid_NodesOnline;
        ScriptedMessageBoxes boxes;
        if (GetParam().type == NodeTypeDeviceNet)
            boxes.ExpectSystem("This step will add all nodes on the network\r\nto the explicit "
                               "scanlist.\r\nThis can cause serious network interruption!\r\n"
                               "Make sure the network and all nodes are in a safe state!\r\n\r\n"
                               "                         Continue?",
                               "Warning", IDYES);
        else
            boxes.ExpectApp("!!!Warning!!!\r\nThis Network Search will cause all nodes to be "
                            "Reset using the Reset Communication command.\r\n Is it safe to "
                            "issue this command?",
                            "CAUTION", IDYES);
        window.Button_NetworkStart->click();
        ASSERT_TRUE(ProcessEventsUntil([&] { return grid->Cell(0, 3) != ""; }));
        ASSERT_EQ(grid->Cell(0, 1), "3");
    }
    void TearDown() override { window.close(); }

    // A CANopen node's mode is known from the identity it gives when it comes back from the
    // restart into download mode.
    bool BackInDownloadMode() {
        return ProcessEventsUntil([&] {
            std::uint32_t inMode = 0;
            return window.Downloader->IsInDownloadMode(&inMode) && inMode;
        });
    }

    // Opens the node of a row and runs the steps in its download window.
    void InDownloadWindow(int row, const std::function<void(TForm_FW_Download*)>& steps) {
        bool ran = false;
        OnShown<TForm_FW_Download> watch([&](TForm_FW_Download* download) {
            ran = true;
            steps(download);
            download->close();
        });
        grid->DblClickCell(1, row);
        EXPECT_TRUE(ran);
    }

    std::unique_ptr<SimulatedDevicenet> devicenet;
    std::unique_ptr<SimulatedCanopen> canopen;
    TForm_FW_Download_Main window;
    std::unique_ptr<WaitingSleep> sleeps;
    TStringGrid* grid = nullptr;
    HexFiles files;
};

// Node 3 is offered the other bus's image (No, then Yes), and between the two a file that
// could not be written whole: it is refused before sector 2 is erased, which keeps its
// firmware. After the update and its restart the main window's row shows the new revision.
TEST_P(UpdateSafetyTest, OtherFirmwareAsksAndAFileThatCannotBeWrittenWholeIsRefused) {
    const Bus& bus = GetParam();
    const std::string otherQuestion = std::string("The file holds ") + bus.otherName +
                                      " 1.6; the node runs " + bus.ownName +
                                      " 1.5. Download anyway?";
    // The node's own firmware, whose last record writes a byte of the image once more with
    // bits the flash cannot set again.
    auto failing = HexFiles::Image(HexFiles::Firmware(bus.ownName, 0x00010005, 256));
    failing.insert(failing.end() - 1, HexFiles::Data(100, {0xFF}));
    const std::string failingFile = files.Write(failing);

    InDownloadWindow(1, [&](TForm_FW_Download* download) {
        download->Edit_Password->setText("1A2B");
        TStringGrid* standard = download->AdvStringGrid_Standard;
        {
            ScriptedMessageBoxes boxes;
            ScriptedFileDialog dialog;
            dialog.Answer(std::string(bus.otherImage));
            boxes.ExpectSystem(EnterQuestion, "Warning", IDYES)
                .ExpectSystem(UpdateQuestion, "Warning", IDYES)
                .ExpectApp(otherQuestion, "Warning", IDNO,
                           MB_YESNOCANCEL | MB_ICONEXCLAMATION | MB_DEFBUTTON2);
            download->Button1->click();
            EXPECT_EQ(boxes.Pending(), 0u);
        }
        ASSERT_TRUE(BackInDownloadMode());
        download->Button_RetrieveClick(); // the node's sector 2 as it is now
        EXPECT_EQ(standard->Cell(2, 2), "<ok>");
        EXPECT_EQ(standard->Cell(3, 2), bus.ownName);
        EXPECT_EQ(standard->Cell(7, 2), "1.5");

        {
            ScriptedMessageBoxes boxes;
            ScriptedFileDialog dialog;
            dialog.Answer(failingFile);
            boxes.ExpectSystem(UpdateQuestion, "Warning", IDYES)
                .ExpectApp("The file writes address 000064 twice, with different bytes.\r\n"
                           "Nothing was erased.",
                           "Error", IDOK);
            download->Button1->click();
            EXPECT_EQ(boxes.Pending(), 0u);
        }
        download->Button_RetrieveClick();
        EXPECT_EQ(standard->Cell(2, 2), "<ok>");
        EXPECT_EQ(standard->Cell(3, 2), bus.ownName);
        EXPECT_EQ(standard->Cell(7, 2), "1.5");

        {
            ScriptedMessageBoxes boxes;
            ScriptedFileDialog dialog;
            dialog.Answer(std::string(bus.otherImage));
            boxes.ExpectSystem(UpdateQuestion, "Warning", IDYES)
                .ExpectApp(otherQuestion, "Warning", IDYES)
                .ExpectApp("Download Successful", "Success", IDOK)
                .ExpectApp("Sector Download Complete\r\nExecute new Firmware?", "Caution", IDYES);
            download->Button1->click();
            EXPECT_EQ(boxes.Pending(), 0u);
            EXPECT_FALSE(download->isVisible());
        }
    });
    EXPECT_TRUE(ProcessEventsUntil([&] { return grid->Cell(4, 1) == "1.6"; }));
}

// A window opened for another node shows nothing of the last one's table before its own is
// read; that node's loader is erased only after a second question, and an image larger than
// its sector is refused with the sector left as it was.
TEST_P(UpdateSafetyTest, AWindowShowsOnlyItsOwnNode) {
    const Bus& bus = GetParam();
    InDownloadWindow(1, [&](TForm_FW_Download* download) {
        download->Edit_Password->setText("1A2B");
        ScriptedMessageBoxes boxes;
        boxes.ExpectSystem(EnterQuestion, "Warning", IDYES);
        download->Button_Retrieve->click();
        ASSERT_EQ(download->AdvStringGrid_Standard->Cell(3, 2), bus.ownName);
    });
    InDownloadWindow(2, [&](TForm_FW_Download* download) {
        for (TStringGrid* g : {download->AdvStringGrid_Standard, download->AdvStringGrid_Modules})
            for (int row = 1; row < g->RowCount(); ++row)
                for (int col = 0; col < g->ColCount(); ++col)
                    EXPECT_EQ(g->Cell(col, row), "")
                        << g->objectName().toStdString() << " row " << row << " col " << col;
    });
}

// Node 3's loader is erased only after a second question, and an image one byte larger
// than its empty sector 3 is refused with the sector left as it was.
TEST_P(UpdateSafetyTest, LoaderEraseAsksTwiceAndTooLargeImagesAreRefused) {
    const Bus& bus = GetParam();
    InDownloadWindow(1, [&](TForm_FW_Download* download) {
        download->PageControl1->setCurrentWidget(download->TabSheet_Advanced);
        download->Edit_Password->setText("1A2B");
        {
            ScriptedMessageBoxes boxes;
            boxes.ExpectSystem(EnterQuestion, "Warning", IDYES);
            download->Button_Retrieve->click();
        }
        ASSERT_TRUE(BackInDownloadMode());
        TStringGrid* modules = download->AdvStringGrid_Modules;
        ASSERT_EQ(modules->Cell(2, 4), "<empty>");
        const std::uint32_t size = std::stoul(modules->Cell(1, 4), nullptr, 16);
        ASSERT_GT(size, 0u);
        auto lines = HexFiles::Image(HexFiles::Firmware(bus.ownName, 0x00010006, 128));
        lines.insert(lines.end() - 1, {HexFiles::Record(0x04, 0,
                                                        {static_cast<std::uint8_t>(size >> 24),
                                                         static_cast<std::uint8_t>(size >> 16)}),
                                       HexFiles::Data(static_cast<std::uint16_t>(size), {0x00})});
        char sizes[64];
        std::snprintf(sizes, sizeof sizes, "needs %06X bytes; sector #3 holds %06X", size + 1,
                      size);
        {
            ScriptedMessageBoxes boxes;
            ScriptedFileDialog dialog;
            dialog.Answer(files.Write(lines));
            boxes.ExpectApp("Download Sector #3?", "Caution", IDYES)
                .ExpectApp(std::string("The file's image ") + sizes +
                               " bytes.\r\nNothing was erased.",
                           "Error", IDOK);
            modules->SetRow(4);
            download->Button_Upgrade->click();
            EXPECT_EQ(boxes.Pending(), 0u);
        }
        download->Button_RetrieveClick();
        EXPECT_EQ(modules->Cell(2, 4), "<empty>");

        const std::string loader = modules->Cell(3, 1);
        ASSERT_FALSE(loader.empty());
        {
            ScriptedMessageBoxes boxes;
            boxes.ExpectApp("Erase Sector #0?", "Caution", IDYES);
            if (download->BootSector == 0)
                boxes.ExpectApp(
                    "Erasing the active page will set the active page to 0...\r\n       Continue?",
                    "Caution", IDYES);
            boxes.ExpectApp(
                "Sector 0 holds the loader the node needs to take new firmware. Erase it anyway?",
                "Warning", IDNO, MB_YESNOCANCEL | MB_ICONEXCLAMATION | MB_DEFBUTTON2);
            modules->SetRow(1);
            download->Button_EraseModule->click();
            EXPECT_EQ(boxes.Pending(), 0u);
        }
        download->Button_RetrieveClick();
        EXPECT_EQ(modules->Cell(3, 1), loader);
        EXPECT_EQ(modules->Cell(2, 1), "<ok>");
    });
}

INSTANTIATE_TEST_SUITE_P(
    Buses, UpdateSafetyTest,
    testing::Values(Bus{"DeviceNet", NodeTypeDeviceNet, EXAMPLES_DIR "/devicenet-app-1.6.hex",
                        EXAMPLES_DIR "/canopen-app-1.6.hex", "DeviceNet App", "CANopen App"},
                    Bus{"CANopen", NodeTypeCANopen, EXAMPLES_DIR "/canopen-app-1.6.hex",
                        EXAMPLES_DIR "/devicenet-app-1.6.hex", "CANopen App", "DeviceNet App"}),
    [](const testing::TestParamInfo<Bus>& info) { return info.param.name; });

} // namespace
