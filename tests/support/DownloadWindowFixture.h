#pragma once

#include "Form_FW_Download.h"
#include "ScriptedDialogs.h"
#include "ScriptedDownloader.h"
#include "StringGrid.h"

#include <gtest/gtest.h>

// The download window over a scripted node with four sectors: 0 a valid image, 1 empty,
// 2 an image whose checksum does not match, 3 a valid image; boot sector 0.
class DownloadWindowTest : public testing::Test {
public:
    void SetUp() override {
        node.Node = 5;
        node.NodeType = 1;
        node.sectors = {
            {true, ScriptedDownloader::Description("Boot", "Loader", "Jan 02 2024", "10:11:12",
                                                   0x00020011)},
            {true, ScriptedDownloader::EmptyDescription()},
            {true, ScriptedDownloader::Description("App", "Application", "Mar 04 2024", "13:14:15",
                                                   0x00010203)},
            {true, ScriptedDownloader::Description("Spare", "Backup", "May 06 2024", "16:17:18",
                                                   0x00030000)},
        };
        node.sectors[2].checksumOk = 0;
        node.sectors[1].size = 0x800;
        window.Downloader = &node;
        window.FormShow();
    }

    // The texts of one row of a grid, columns 0..7.
    static std::vector<std::string> RowTexts(const TStringGrid* grid, int row) {
        std::vector<std::string> texts;
        for (int col = 0; col < grid->ColCount(); ++col)
            texts.push_back(grid->Cell(col, row));
        return texts;
    }

    struct Colours {
        QColor brush, font;
        bool operator==(const Colours&) const = default;
    };
    Colours ModulesColours(int row) {
        Colours c;
        window.AdvStringGrid_ModulesGetCellColor(row, 3, c.brush, c.font);
        return c;
    }
    Colours StandardColours(int row) {
        Colours c;
        window.AdvStringGrid_StandardGetCellColor(row, 3, c.brush, c.font);
        return c;
    }

    ScriptedDownloader node;
    TForm_FW_Download window;
};
