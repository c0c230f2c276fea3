#pragma once

#include "Form_FW_Download.h"

#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TerminalQuestions;

// The download window's own sequences, run for one node on a screen no one sees: what the
// window does when its buttons are pressed, with the file the command line named in place
// of the file dialog and the questions answered through the message-box handler. So the
// tool updates a node exactly as the window does.
class WindowSteps {
public:
    // How far a download is: percent of the file, and whether the read-back pass runs.
    struct Progress {
        int percent = 0;
        bool verifying = false;
    };

    WindowSteps(TFirmware_Downloader& downloader, std::uint8_t node, TerminalQuestions& questions,
                const std::optional<std::string>& password);
    ~WindowSteps();
    WindowSteps(const WindowSteps&) = delete;
    WindowSteps& operator=(const WindowSteps&) = delete;

    // The sector table as the window's grid shows it, header row first; entering download
    // mode when the node is not in it, as the window's Retrieve does.
    std::vector<std::vector<std::string>> SectorTable();

    // Reads the table without entering download mode; true when sector's description and
    // checksum were read and the description is header.
    bool SectorHolds(std::uint8_t sector, const SectorDescription& header);

    // "Upgrade Firmware": true when the window went through to the node's restart.
    bool StandardUpdate(const std::string& file);

    // The Advanced page's buttons on one sector; true when the window told no error and
    // no question was declined.
    bool Erase(std::uint8_t sector);
    bool Write(std::uint8_t sector, const std::string& file);
    bool MakeBoot(std::uint8_t sector);
    bool Execute(std::uint8_t sector);
    bool Reset();

    // Called on this thread while a download runs, every few hundred milliseconds.
    std::function<void(const Progress&)> OnProgress;

    // What the progress dialog's Cancel does: the download stops at its next record.
    void Cancel();
    bool Cancelled() const { return cancelled_; }

private:
    bool selectSector(std::uint8_t sector);
    bool sectorOperation(std::uint8_t sector, void (TForm_FW_Download::*button)());
    bool toldNoError() const;
    void watchProgress();

    TFirmware_Downloader& downloader_;
    TerminalQuestions& questions_;
    std::unique_ptr<TForm_FW_Download> window_;
    QTimer progressTimer_;
    std::string file_;
    bool cancelled_ = false;
};
