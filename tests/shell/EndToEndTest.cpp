// The program as a user drives it, over the real VARNIX driver library and its simulated
// module: start network access, open the module, run the standard update with an example
// image, and see the module come back running it.

#include "DynamicLibrary.h"
#include "EventLoop.h"
#include "Form_FW_Download.h"
#include "Form_FW_Download_Main.h"
#include "RecordingSleep.h"
#include "ScriptedDialogs.h"
#include "SimulatedVarnix.h"
#include "StringGrid.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>

namespace {

TEST(EndToEnd, StandardUpdateOfTheVarnixModule) {
    RecordingSleep sleeps;
    SimulatedVarnix simulated;

    TForm_FW_Download_Main window;
    window.NodeType = NodeTypeVARNIX;
    window.show();
    TStringGrid* grid = window.AdvStringGrid_NodesOnline;
    window.Button_NetworkStart->click();
    ASSERT_TRUE(ProcessEventsUntil([&] { return grid->Cell(0, 1) == "1"; }));
    EXPECT_EQ(grid->Cell(1, 1), "QVX, LLC.");
    EXPECT_EQ(grid->Cell(4, 1), "2.17");
    EXPECT_EQ(grid->Cell(6, 1), "VARNIX Interface Module");

    ScriptedMessageBoxes boxes;
    boxes
        .ExpectSystem("The module is not currently in the download mode.\r\n"
                      "Entering Download mode will stop current Node Application Firmware!\r\n"
                      "Make sure the Node is in a safe state!\r\n"
                      "Enter download mode?\r\n",
                      "Warning", IDYES)
        .ExpectSystem("Are you sure you want to Download New Firmware?\r\n Continue?", "Warning",
                      IDYES)
        .ExpectApp("Download Successful", "Success", IDOK)
        .ExpectApp("Sector Download Complete\r\nExecute new Firmware?", "Caution", IDYES);
    ScriptedFileDialog files;
    files.Answer(std::string(EXAMPLES_DIR "/varnix-app-3.0.hex"));
    bool closedByUpdate = false;
    OnShown<TForm_FW_Download> watch1([&](TForm_FW_Download* download) {
        download->Edit_Password->setText("1A2B");
        download->Button1->click();
        closedByUpdate = !download->isVisible();
        download->close();
    });
    grid->DblClickCell(1, 2);
    EXPECT_TRUE(closedByUpdate);
    EXPECT_EQ(boxes.Pending(), 0u);

    // The module restarted into the new image; the grid follows.
    ASSERT_TRUE(ProcessEventsUntil([&] { return grid->Cell(4, 1) == "3.0"; }));
    window.close();
}

} // namespace
