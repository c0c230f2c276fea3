// The Program Download window as a user drives it from the main window, over the real
// CANopen driver library and its embedded simulated network: standard nodes by block
// transfer and by segments, a flash error, a cancelled download, the questions before a
// program is stopped, and a firmware-object node still getting the sector window.

#include "EventLoop.h"
#include "Form_FW_Download.h"
#include "Form_FW_Download_Main.h"
#include "Form_ProgramDownload.h"
#include "NodeRestartWaits.h"
#include "ProgramImage.h"
#include "ScriptedDialogs.h"
#include "SimulatedCanopen.h"
#include "StringGrid.h"

#include <QPushButton>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>

namespace {

constexpr std::size_t ImageSize = 6000;

std::string Hex32(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
    return text;
}

std::string DownloadQuestion(int node) {
    return "Downloading stops program 1 of node " + std::to_string(node) +
           " and erases it before the new one is written.\r\nMake sure the Node is in a safe "
           "state!\r\nDownload " +
           std::to_string(ImageSize) + " bytes into program 1?";
}

class ProgramWindow : public testing::Test {
protected:
    void SetUp() override {
        // Frames at the bus's own pace, as users meet it (the fixture turns the wire model off).
        unsetenv("ZANDREL_SIM_WIRE");
        window.NodeType = NodeTypeCANopen;
        window.show();
        ScriptedMessageBoxes boxes;
        boxes.ExpectApp("!!!Warning!!!\r\nThis Network Search will cause all nodes to be Reset "
                        "using the Reset Communication command.\r\n Is it safe to issue this "
                        "command?",
                        "CAUTION", IDYES);
        window.Button_NetworkStart->click();
        ASSERT_TRUE(ProcessEventsUntil(
            [&] { return window.AdvStringGrid_NodesOnline->Cell(0, 4) == "22"; }));
    }
    void TearDown() override { window.close(); }

    // Opens the node of the row, runs the action in its Program Download window, closes it.
    void InProgramWindow(int row, const std::function<void(TForm_ProgramDownload&)>& action) {
        bool shown = false;
        OnShown<TForm_ProgramDownload> watch([&](TForm_ProgramDownload* program) {
            shown = true;
            action(*program);
            // A download still running keeps the window open: end it first.
            program->Button_CancelClick();
            EXPECT_TRUE(ProcessEventsUntil([&] { return !program->Downloading(); }, 120000));
            program->close();
        });
        window.AdvStringGrid_NodesOnline->DblClickCell(row, 1);
        EXPECT_TRUE(shown);
    }
    static std::vector<std::string> Row(TForm_ProgramDownload& program) {
        std::vector<std::string> cells;
        for (int col = 0; col < 4; ++col)
            cells.push_back(program.Grid_Programs->Cell(col, 1));
        return cells;
    }
    static void WaitForTheDownload(TForm_ProgramDownload& program) {
        ASSERT_TRUE(ProcessEventsUntil([&] { return !program.Downloading(); }));
    }

    // A raw program.
    std::string Program() {
        std::vector<char> bytes(ImageSize);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(i * 31 + 3);
        const std::string path = simulated.DataFolder() + "/program.bin";
        std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
        return path;
    }

    SimulatedCanopen simulated{SimulatedCanopen::StandardNodes};
    TForm_FW_Download_Main window;
    WaitingSleep sleeps{NodeOfTheUpdate(window)};
};

TEST_F(ProgramWindow, DownloadsAndStartsTheProgramByBlockOrBySegments) {
    ProgramImage image;
    std::string error;
    ASSERT_TRUE(ReadProgramImage(Program(), &image, &error)) << error;
    const struct {
        int row, node;
        bool block;
    } nodes[] = {{2, 20, true}, {3, 21, false}};
    for (const auto& n : nodes) {
        SCOPED_TRACE(n.node);
        InProgramWindow(n.row, [&](TForm_ProgramDownload& program) {
            EXPECT_EQ(program.windowTitle().toStdString(), "Program Download");
            EXPECT_EQ(Row(program)[1], "started"); // the factory program runs
            ScriptedMessageBoxes boxes;
            boxes.ExpectApp(DownloadQuestion(n.node), "Warning", IDYES)
                .ExpectApp("Program Download Successful", "Success", IDOK);
            ScriptedFileDialog files;
            files.Answer(Program());
            program.Button_Download->click();
            WaitForTheDownload(program);
            EXPECT_EQ(boxes.Pending(), 0u);
            EXPECT_EQ(program.LastOutcome().wentAsBlock, n.block);
            EXPECT_EQ(Row(program),
                      (std::vector<std::string>{"1", "started", "no error", Hex32(image.crc)}));
        });
    }
}

TEST_F(ProgramWindow, AFlashErrorIsToldByNameAndTheProgramIsNotStarted) {
    InProgramWindow(4, [&](TForm_ProgramDownload& program) {
        ScriptedMessageBoxes boxes;
        boxes.ExpectApp(DownloadQuestion(22), "Warning", IDYES)
            .ExpectApp("The node reports flash write error for program 1; program 1 is left "
                       "stopped.",
                       "Error", IDOK);
        ScriptedFileDialog files;
        files.Answer(Program());
        program.Button_Download->click();
        WaitForTheDownload(program);
        EXPECT_EQ(boxes.Pending(), 0u);
        EXPECT_EQ(Row(program)[1], "stopped");
        EXPECT_EQ(Row(program)[2], "flash write error");
    });
}

// A program that holds the file but is stopped is started after its question, not written
// again; one that runs it asks before it is written again.
TEST_F(ProgramWindow, AProgramHeldStoppedIsStartedNotWrittenAgain) {
    ProgramImage image;
    std::string error;
    ASSERT_TRUE(ReadProgramImage(Program(), &image, &error)) << error;
    InProgramWindow(2, [&](TForm_ProgramDownload& program) {
        {
            ScriptedMessageBoxes boxes;
            boxes.ExpectApp(DownloadQuestion(20), "Warning", IDYES)
                .ExpectApp("Program Download Successful", "Success", IDOK);
            ScriptedFileDialog files;
            files.Answer(Program());
            program.Button_Download->click();
            WaitForTheDownload(program);
        }
        {
            ScriptedMessageBoxes boxes;
            boxes.ExpectApp("Stopping program 1 stops the node's application.\r\nMake sure the "
                            "Node is in a safe state!\r\nStop program 1?",
                            "Warning", IDYES);
            program.Button_Stop->click();
            ASSERT_EQ(Row(program)[1], "stopped");
        }
        ScriptedMessageBoxes boxes;
        boxes
            .ExpectApp("Program 1 holds this file already (software identification " +
                           Hex32(image.crc) + "), but it is stopped.\r\nStart program 1?",
                       "Caution", IDYES)
            .ExpectApp("Program 1 started", "Success", IDOK);
        ScriptedFileDialog files;
        files.Answer(Program());
        program.Button_Download->click();
        EXPECT_FALSE(program.Downloading()); // nothing is written
        EXPECT_EQ(boxes.Pending(), 0u);
        EXPECT_EQ(Row(program),
                  (std::vector<std::string>{"1", "started", "no error", Hex32(image.crc)}));
    });
}

TEST_F(ProgramWindow, ACancelledDownloadLeavesTheProgramStoppedAndClear) {
    InProgramWindow(2, [&](TForm_ProgramDownload& program) {
        ScriptedMessageBoxes boxes;
        boxes.ExpectApp(DownloadQuestion(20), "Warning", IDYES)
            .ExpectApp("The download was cancelled; program 1 is stopped and cleared.", "Warning",
                       IDOK);
        ScriptedFileDialog files;
        files.Answer(Program());
        program.Button_Download->click();
        ASSERT_TRUE(program.Downloading());
        program.Button_Cancel->click(); // before the first sub-block is acknowledged
        WaitForTheDownload(program);
        EXPECT_EQ(boxes.Pending(), 0u);
        EXPECT_EQ(Row(program),
                  (std::vector<std::string>{"1", "stopped", "no valid program", "0x00000000"}));
    });
}

TEST_F(ProgramWindow, StoppingOrClearingAsksFirst) {
    InProgramWindow(2, [&](TForm_ProgramDownload& program) {
        const std::string stop = "Stopping program 1 stops the node's application.\r\nMake sure "
                                 "the Node is in a safe state!\r\nStop program 1?";
        const std::string clear = "Clearing program 1 stops it and erases it from the node.\r\n"
                                  "Make sure the Node is in a safe state!\r\nClear program 1?";
        {
            ScriptedMessageBoxes boxes;
            boxes.ExpectApp(stop, "Warning", IDNO).ExpectApp(clear, "Warning", IDNO);
            program.Button_Stop->click();
            program.Button_Clear->click();
            EXPECT_EQ(Row(program)[1], "started");
            EXPECT_EQ(Row(program)[2], "no error");
        }
        {
            ScriptedMessageBoxes boxes;
            boxes.ExpectApp(stop, "Warning", IDYES).ExpectApp(clear, "Warning", IDYES);
            program.Button_Stop->click();
            EXPECT_EQ(Row(program)[1], "stopped");
            program.Button_Clear->click();
        }
        EXPECT_TRUE(ProcessEventsUntil([&] {
            program.Refresh();
            return Row(program)[2] == "no valid program";
        }));
        // Nothing to start now: the node refuses, and says why.
        ScriptedMessageBoxes boxes;
        boxes.ExpectApp("The node refused to start program 1: SDO abort 0x08000022 (data cannot "
                        "be transferred or stored to the application because of the present "
                        "device state).",
                        "Error", IDOK);
        program.Button_Start->click();
        EXPECT_EQ(Row(program)[1], "stopped");
    });
}

TEST_F(ProgramWindow, ANodeWithTheFirmwareObjectsGetsTheSectorWindow) {
    bool sectorWindow = false;
    OnShown<TForm_FW_Download> watch([&](TForm_FW_Download* download) {
        sectorWindow = true;
        download->close();
    });
    OnShown<TForm_ProgramDownload> wrong([&](TForm_ProgramDownload* program) { program->close(); });
    window.AdvStringGrid_NodesOnline->DblClickCell(1, 1);
    EXPECT_TRUE(sectorWindow);
    EXPECT_FALSE(wrong.Done());
}

} // namespace
