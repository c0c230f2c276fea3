#pragma once

#include "EventLoop.h"
#include "Form_FW_Download_Main.h"
#include "ScriptedDownloader.h"
#include "StringGrid.h"

#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

// The main window of a node type over a scripted downloader, made when the window is first
// shown. Configure() runs on the downloader before the window uses it.
class MainWindowTest : public testing::Test {
public:
    void Show(TNodeType type, std::function<void(ScriptedDownloader&)> configure = {}) {
        window.NodeType = type;
        window.CreateDownloader = [this, configure](TNodeType) {
            auto downloader = std::make_unique<ScriptedDownloader>();
            node = downloader.get();
            if (configure)
                configure(*downloader);
            return std::unique_ptr<TFirmware_Downloader>(std::move(downloader));
        };
        window.show();
    }

    std::vector<std::string> Row(int row) const {
        std::vector<std::string> texts;
        for (int col = 0; col < 7; ++col)
            texts.push_back(window.AdvStringGrid_NodesOnline->Cell(col, row));
        return texts;
    }

    ScriptedDownloader* node = nullptr;
    TForm_FW_Download_Main window;
};
