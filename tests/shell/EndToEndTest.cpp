// The program as a user drives it, over the real VARNIX driver library and its simulated
// module: start network access, open the module, run the standard update with an example
// image, and see the module come back running it.

#include "DynamicLibrary.h"
#include "EventLoop.h"
#include "Form_FW_Download.h"
#include "Form_FW_Download_Main.h"
#include "NodeRestartWaits.h"
#include "RecordingSleep.h"
#include "ScriptedDialogs.h"
#include "SimulatedCanopen.h"
#include "SimulatedDevicenet.h"
#include "SimulatedVarnix.h"
#include "StringGrid.h"

#include <QDir>
#include <QLineEdit>
#include <QLoggingCategory>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

// Opens the node of a row of the nodes-online list and runs "Standard Update" with the
// image, password 1A2B, answering every question with yes; the download window closes.
void RunStandardUpdate(TStringGrid* grid, int row, const char* image) {
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
    files.Answer(std::string(image));
    bool closedByUpdate = false;
    OnShown<TForm_FW_Download> watch([&](TForm_FW_Download* download) {
        download->Edit_Password->setText("1A2B");
        download->Button1->click();
        closedByUpdate = !download->isVisible();
        download->close();
    });
    grid->DblClickCell(1, row);
    EXPECT_TRUE(closedByUpdate);
    EXPECT_EQ(boxes.Pending(), 0u);
}

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

    RunStandardUpdate(grid, 2, EXAMPLES_DIR "/varnix-app-3.0.hex");

    // The module restarted into the new image; the grid follows.
    ASSERT_TRUE(ProcessEventsUntil([&] { return grid->Cell(4, 1) == "3.0"; }));
    window.close();
}

// Start Network Access on a CANopen main window: three nodes listed with their identity,
// node 3 updated with an example image, and running it after its restart. The nodes take
// their default restart time.
void StandardUpdateOfCanopenNodeThree(TForm_FW_Download_Main& window) {
    WaitingSleep sleeps(NodeOfTheUpdate(window));
    window.NodeType = NodeTypeCANopen;
    window.show();
    TStringGrid* grid = window.AdvStringGrid_NodesOnline;
    {
        ScriptedMessageBoxes boxes;
        boxes.ExpectApp("!!!Warning!!!\r\nThis Network Search will cause all nodes to be Reset "
                        "using the Reset Communication command.\r\n Is it safe to issue this "
                        "command?",
                        "CAUTION", IDYES);
        window.Button_NetworkStart->click();
        ASSERT_TRUE(ProcessEventsUntil([&] { return grid->Cell(0, 3) == "12"; }));
    }
    const std::vector<std::vector<std::string>> rows = {
        {"3", "1166", "0x00000191", "4003", "1.5", "3000003", "Simulated I/O Node"},
        {"9", "0", "0x00000191", "4009", "1.5", "0", "Simulated CANopen Node"},
        {"12", "0", "0x00020192", "4012", "1.5", "0", "Simulated CANopen Node"},
    };
    for (int row = 1; row <= 3; ++row)
        for (int col = 0; col < 7; ++col)
            EXPECT_EQ(grid->Cell(col, row), rows[row - 1][col]) << "row " << row << " col " << col;

    RunStandardUpdate(grid, 1, EXAMPLES_DIR "/canopen-app-1.6.hex");

    // Node 3 restarted into the new image; the grid follows.
    ASSERT_TRUE(ProcessEventsUntil([&] { return grid->Cell(4, 1) == "1.6"; }));
    EXPECT_EQ(grid->Cell(3, 1), "4003"); // back in its application
    window.close();
}

// Over the real CANopen driver library and its embedded simulated network.
TEST(EndToEnd, StandardUpdateOfACanopenNode) {
    SimulatedCanopen simulated;
    TForm_FW_Download_Main window;
    StandardUpdateOfCanopenNodeThree(window);
}

// Saves the interface record a driver library gives the program at its first show.
void SaveInterface(const char* driver, std::uint32_t type, const std::string& accessPoint,
                   std::uint32_t ownAddress, std::uint32_t bitRate) {
    HMODULE library = LoadLibraryA(driver);
    ASSERT_NE(library, nullptr);
    using SaveFn = std::int32_t (*)(const char*, void*, void*);
    auto save = reinterpret_cast<SaveFn>(GetProcAddress(library, "SaveConfiguration"));
    std::uint8_t record[300] = {};
    std::memcpy(record, &type, 4);
    std::memcpy(record + 44, accessPoint.data(), std::min<std::size_t>(accessPoint.size(), 255));
    std::uint32_t settings[13] = {ownAddress, bitRate};
    ASSERT_EQ(save("\\Software\\Quorvane, LLC.\\Zandrel\\", record, settings), 1);
    FreeLibrary(library);
}

TEST(EndToEnd, ASocketCanInterfaceThatDoesNotExistCannotBeOpened) {
    RecordingSleep sleeps;
    SimulatedCanopen simulated;
    SaveInterface("QVX_COPN.dll", 1, "zandrelcan9", 127, 500000);
    // Qt's SocketCAN plugin says for itself what it misses (libsocketcan, the interface).
    QLoggingCategory::setFilterRules("qt.canbus.plugins.*.warning=false");
    TForm_FW_Download_Main window;
    window.NodeType = NodeTypeCANopen;
    window.show();
    ScriptedMessageBoxes boxes;
    boxes
        .ExpectApp("!!!Warning!!!\r\nThis Network Search will cause all nodes to be Reset "
                   "using the Reset Communication command.\r\n Is it safe to issue this "
                   "command?",
                   "CAUTION", IDYES)
        .ExpectApp("Cannot Open Interface", "Error", IDOK);
    window.Button_NetworkStart->click();
    EXPECT_EQ(boxes.Pending(), 0u);
    window.close();
    QLoggingCategory::setFilterRules(QString());
}

// The same across processes: the nodes served by zandrel-nodesim on a virtual CAN bus of a
// port of its own, the driver configured to that bus.
TEST(EndToEnd, StandardUpdateOfACanopenNodeInAnotherProcess) {
    SimulatedCanopen simulated;
    const std::string folder = simulated.DataFolder() + "/nodesim";
    QDir().mkpath(QString::fromStdString(folder));
    std::ofstream(folder + "/network.ini") << SimulatedCanopen::Network;
    const std::string url =
        "tcp://127.0.0.1:" + std::to_string(30000 + ::getpid() % 5000) + "/can0";

    QProcess nodesim;
    nodesim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    nodesim.start(QStringLiteral(DRIVER_DIR "/zandrel-nodesim"),
                  {"--plugin", "virtualcan", "--interface", QString::fromStdString(url),
                   "--network", QString::fromStdString(folder)});
    ASSERT_TRUE(nodesim.waitForStarted());
    ASSERT_TRUE(nodesim.waitForReadyRead(20000));
    ASSERT_TRUE(nodesim.readAllStandardOutput().contains("CANopen nodes 3, 9, 12"));

    SaveInterface("QVX_COPN.dll", 2, url, 127, 500000); // Qt virtual CAN

    {
        TForm_FW_Download_Main window;
        StandardUpdateOfCanopenNodeThree(window);
    }
    // The nodes spoken to were the other process's, not the embedded network's.
    EXPECT_TRUE(QDir(QString::fromStdString(folder + "/node-3")).exists());
    EXPECT_FALSE(QDir(QString::fromStdString(simulated.NetworkFolder() + "/node-3")).exists());
    nodesim.terminate();
    EXPECT_TRUE(nodesim.waitForFinished(20000));
    EXPECT_EQ(nodesim.exitCode(), 0);
}

// Over the real DeviceNet driver library and its embedded simulated network: MAC IDs 3, 5
// and 10 listed, MAC ID 3 updated with an example image, running it after its restart. The
// nodes take their default restart time.
void StandardUpdateOfDevicenetNodeThree(TForm_FW_Download_Main& window) {
    WaitingSleep sleeps(NodeOfTheUpdate(window));
    window.NodeType = NodeTypeDeviceNet;
    window.show();
    TStringGrid* grid = window.AdvStringGrid_NodesOnline;
    {
        ScriptedMessageBoxes boxes;
        boxes.ExpectSystem("This step will add all nodes on the network\r\nto the explicit "
                           "scanlist.\r\nThis can cause serious network interruption!\r\nMake "
                           "sure the network and all nodes are in a safe state!\r\n\r\n"
                           "                         Continue?",
                           "Warning", IDYES);
        window.Button_NetworkStart->click();
        ASSERT_TRUE(ProcessEventsUntil([&] { return grid->Cell(0, 3) == "10"; }));
    }
    EXPECT_EQ(grid->Cell(0, 1), "3");
    EXPECT_EQ(grid->Cell(0, 2), "5");
    EXPECT_EQ(grid->Cell(1, 1), "1166");
    EXPECT_EQ(grid->Cell(3, 2), "40930"); // MAC ID 5 in download mode: bit 15 set
    EXPECT_EQ(grid->Cell(4, 1), "1.5");
    EXPECT_EQ(grid->Cell(6, 1), "Simulated I/O Node");

    RunStandardUpdate(grid, 1, EXAMPLES_DIR "/devicenet-app-1.6.hex");

    ASSERT_TRUE(ProcessEventsUntil([&] { return grid->Cell(4, 1) == "1.6"; }));
    EXPECT_EQ(grid->Cell(3, 1), "3003"); // back in its application
    window.close();
}

TEST(EndToEnd, StandardUpdateOfADevicenetNode) {
    SimulatedDevicenet simulated;
    TForm_FW_Download_Main window;
    StandardUpdateOfDevicenetNodeThree(window);
}

// The same across processes, through zandrel-nodesim on a virtual CAN bus of its own. (Like
// the program, a test process uses one driver library's virtual CAN bus: CTest runs each
// test in a process of its own.)
TEST(EndToEnd, StandardUpdateOfADevicenetNodeInAnotherProcess) {
    SimulatedDevicenet simulated;
    QTemporaryDir other;
    const std::string folder = other.path().toStdString() + "/nodesim";
    QDir().mkpath(QString::fromStdString(folder));
    std::ofstream(folder + "/network.ini") << SimulatedDevicenet::Network;
    const std::string url =
        "tcp://127.0.0.1:" + std::to_string(36000 + ::getpid() % 5000) + "/can0";

    QProcess nodesim;
    nodesim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    nodesim.start(QStringLiteral(DRIVER_DIR "/zandrel-nodesim"),
                  {"--bus", "devicenet", "--plugin", "virtualcan", "--interface",
                   QString::fromStdString(url), "--network", QString::fromStdString(folder)});
    ASSERT_TRUE(nodesim.waitForStarted());
    ASSERT_TRUE(nodesim.waitForReadyRead(20000));
    ASSERT_TRUE(nodesim.readAllStandardOutput().contains("DeviceNet nodes 3, 5, 10"));
    SaveInterface("QVX_DNET.dll", 2, url, 0, 125000); // Qt virtual CAN

    {
        TForm_FW_Download_Main window;
        StandardUpdateOfDevicenetNodeThree(window);
    }
    EXPECT_TRUE(QDir(QString::fromStdString(folder + "/node-3")).exists());
    EXPECT_FALSE(QDir(QString::fromStdString(simulated.NetworkFolder() + "/node-3")).exists());
    nodesim.terminate();
    EXPECT_TRUE(nodesim.waitForFinished(20000));
    EXPECT_EQ(nodesim.exitCode(), 0);
}

} // namespace
