#pragma once

#include "SectorTable.h"
#include "UpdateFace.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class TerminalQuestions;
class TFirmware_Downloader;

// zandrel-flash's face to the update procedures: the questions on the terminal (or answered
// by --yes and --force), the file from the command line, the download on a worker of its
// own with a progress line, and no window.
class TerminalFace : public UpdateFace {
public:
    TerminalFace(TFirmware_Downloader& downloader, TerminalQuestions& questions, bool force,
                 std::optional<std::string> password);

    int Ask(const UpdateQuestion& question) override;
    void Tell(const UpdateNotice& notice) override;
    std::string Password() override;
    std::optional<std::string> ChooseFile() override { return file_; }
    TransferOutcome Transfer(std::uint8_t sector, std::unique_ptr<TIntelHexFile> file) override;
    void TableRead(const SectorTable& table) override { table_ = table; }

    // The file the download procedures take in place of a file dialog.
    void SetFile(std::optional<std::string> file) { file_ = std::move(file); }
    // The table as last read.
    const SectorTable& Table() const { return table_; }
    // Whether the password came from the command line (or was typed on the terminal).
    bool PasswordGiven() const { return password_.has_value(); }

    // Called on this thread while a download runs: percent of the file, and whether the
    // read-back pass runs.
    std::function<void(int percent, bool verifying)> OnProgress;

private:
    TFirmware_Downloader& downloader_;
    TerminalQuestions& questions_;
    bool force_;
    std::optional<std::string> password_;
    std::optional<std::string> file_;
    SectorTable table_;
};
