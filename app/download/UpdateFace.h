#pragma once

#include "MessageBox.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class TIntelHexFile;
struct SectorTable;

// What a question guards against. Routine questions come on every update and a careful
// user answers them Yes (the network search, download mode, "Download New Firmware?",
// execute); an image check stands between a doubtful file or step and a node that may be
// left without working firmware (a file that holds no firmware, another product's firmware,
// erasing the loader or the running sector, booting a sector whose checksum is not
// confirmed).
enum class QuestionKind { Routine, ImageCheck };

// A question an update procedure asks: the box the window shows for it, and what it is
// about in a few words for a face without boxes.
struct UpdateQuestion {
    MessageBoxKind box = MessageBoxKind::Application;
    std::string text;
    std::string caption;
    unsigned flags = MB_YESNOCANCEL;
    QuestionKind kind = QuestionKind::Routine;
    std::string about; // "enter download mode", "the file holds no firmware image header"
};

// A box that only tells: an outcome or an error.
struct UpdateNotice {
    MessageBoxKind box = MessageBoxKind::Application;
    std::string text;
    std::string caption;
    unsigned flags = MB_OK;
};

// How a download's transfer ended: the download pass reached the file's end record, the
// read-back pass found no difference, and whether the user stopped it.
struct TransferOutcome {
    bool downloadOk = false;
    bool verifyOk = false;
    bool cancelled = false;
};

// How the update procedures reach the person or script that runs them. The download window
// shows boxes, a file dialog and a progress dialog; zandrel-flash asks on the terminal,
// takes the file from its command line and draws a progress line.
class UpdateFace {
public:
    virtual ~UpdateFace() = default;

    // IDYES (IDOK for OK/Cancel) goes on; anything else stops the procedure.
    virtual int Ask(const UpdateQuestion& question) = 0;
    virtual void Tell(const UpdateNotice& notice) = 0;
    // The node's download-mode password as the user typed it (hexadecimal).
    virtual std::string Password() = 0;
    // The HEX file to download; nothing when the choice was cancelled.
    virtual std::optional<std::string> ChooseFile() = 0;
    // Runs the download of the open file into the sector, block by block with its read-back
    // pass, showing its progress, until it has ended.
    virtual TransferOutcome Transfer(std::uint8_t sector, std::unique_ptr<TIntelHexFile> file) = 0;
    // The transfer's outcome has been judged and told: what showed it may go.
    virtual void TransferJudged() {}

    // The sector table was read from the node (again).
    virtual void TableRead(const SectorTable&) {}
    // The table no longer holds: the node restarted, or there is no node.
    virtual void TableForgotten() {}
    // A remark that asks nothing and stops nothing (the window's status line).
    virtual void Note(const std::string&) {}
};
