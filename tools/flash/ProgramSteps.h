#pragma once

#include "Form_ProgramDownload.h"

#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class TerminalQuestions;

// The Program Download window's own sequences for one CANopen node, run on a screen no one
// sees: the file the command line named in place of the file dialog, the questions answered
// through the message-box handler. So the tool downloads a program exactly as the window does.
class ProgramSteps {
public:
    ProgramSteps(TQVX_COPN_Interface& binding, std::uint8_t node, TerminalQuestions& questions);
    ~ProgramSteps();
    ProgramSteps(const ProgramSteps&) = delete;
    ProgramSteps& operator=(const ProgramSteps&) = delete;

    // Whether the node has standard program download (and not the firmware objects).
    bool IsStandardNode();
    // The program's entries as the window reads them; nothing when they cannot be read.
    std::optional<TProgramDownload::Program> Program(std::uint8_t program);

    // The window's Download on the program with the file; its outcome (Failed with the
    // window's message, or with an empty one when a question was declined).
    TProgramDownload::Outcome Download(std::uint8_t program, const std::string& file);

    // Called on this thread while a download runs: bytes written and the whole.
    std::function<void(std::uint32_t done, std::uint32_t total)> OnProgress;

    // The window's Cancel: the transfer stops at its next sub-block.
    void Cancel();
    bool Cancelled() const { return cancelled_; }

private:
    TProgramDownload probe_;
    TerminalQuestions& questions_;
    std::unique_ptr<TForm_ProgramDownload> window_;
    std::string file_;
    bool cancelled_ = false;
};
