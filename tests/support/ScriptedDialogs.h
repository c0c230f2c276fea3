#pragma once

#include "FileOpenDialog.h"
#include "MessageBox.h"

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// Answers the program's message boxes from a script while it lives. Each box must be the
// next one expected (kind, text, caption and, when given, flags); anything else fails the
// test and is answered with Cancel. Boxes expected but never shown fail the test too, and so
// does a box asked for off the GUI thread (answered with Cancel, the script left as it was).
// It puts back the handler it replaced when it goes (nested scripts are fine; destroying
// them out of order fails the test).
class ScriptedMessageBoxes {
public:
    ScriptedMessageBoxes();
    ~ScriptedMessageBoxes();
    ScriptedMessageBoxes(const ScriptedMessageBoxes&) = delete;
    ScriptedMessageBoxes& operator=(const ScriptedMessageBoxes&) = delete;

    ScriptedMessageBoxes& Expect(MessageBoxKind kind, std::string text, std::string caption,
                                 int answer, std::optional<unsigned> flags = std::nullopt);
    ScriptedMessageBoxes& ExpectSystem(std::string text, std::string caption, int answer,
                                       std::optional<unsigned> flags = std::nullopt) {
        return Expect(MessageBoxKind::System, std::move(text), std::move(caption), answer, flags);
    }
    ScriptedMessageBoxes& ExpectApp(std::string text, std::string caption, int answer,
                                    std::optional<unsigned> flags = std::nullopt) {
        return Expect(MessageBoxKind::Application, std::move(text), std::move(caption), answer,
                      flags);
    }

    // Runs when the box last expected is shown, before it is answered (e.g. to look at
    // the windows behind it).
    ScriptedMessageBoxes& WhenShown(std::function<void()> action);

    std::vector<MessageBoxRequest> Shown() const;
    size_t Pending() const;

private:
    struct Expected {
        MessageBoxRequest request;
        bool checkFlags;
        int answer;
        std::function<void()> whenShown;
    };
    struct Handler;
    int answer(const MessageBoxRequest& request);

    std::shared_ptr<ScriptedMessageBoxes*> self_; // the installed handler's way back here
    MessageBoxHandler previous_;
    mutable std::mutex mutex_;
    std::deque<Expected> expected_;
    std::vector<MessageBoxRequest> shown_;
};

// Answers the file-open dialog from a script while it lives: each Execute takes the next
// answer (nullopt = the user cancelled). A dialog with no answer left fails the test, and so
// does one asked for off the GUI thread (cancelled, the script left as it was). Like the
// message boxes, it puts back the handler it replaced.
class ScriptedFileDialog {
public:
    ScriptedFileDialog();
    ~ScriptedFileDialog();
    ScriptedFileDialog(const ScriptedFileDialog&) = delete;
    ScriptedFileDialog& operator=(const ScriptedFileDialog&) = delete;

    ScriptedFileDialog& Answer(std::optional<std::string> path);
    std::vector<OpenFileRequest> Requests() const;

private:
    struct Handler;
    std::optional<std::string> answer(const OpenFileRequest& request);

    std::shared_ptr<ScriptedFileDialog*> self_;
    FileDialogHandler previous_;
    mutable std::mutex mutex_;
    std::deque<std::optional<std::string>> answers_;
    std::vector<OpenFileRequest> requests_;
};

// Installed by the test main for every test: a box or file dialog nobody scripted fails
// the test instead of waiting for a user (and so does one asked for off the GUI thread).
void InstallUnexpectedDialogGuards();
