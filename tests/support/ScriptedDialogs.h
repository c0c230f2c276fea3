#pragma once

#include "FileOpenDialog.h"
#include "MessageBox.h"

#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// Answers the program's message boxes from a script while it lives. Each box must be the
// next one expected (kind, text, caption and, when given, flags); anything else fails the
// test and is answered with Cancel. Boxes expected but never shown fail the test too.
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
    int answer(const MessageBoxRequest& request);

    mutable std::mutex mutex_;
    std::deque<Expected> expected_;
    std::vector<MessageBoxRequest> shown_;
};

// Answers the file-open dialog from a script while it lives: each Execute takes the next
// answer (nullopt = the user cancelled). A dialog with no answer left fails the test.
class ScriptedFileDialog {
public:
    ScriptedFileDialog();
    ~ScriptedFileDialog();
    ScriptedFileDialog(const ScriptedFileDialog&) = delete;
    ScriptedFileDialog& operator=(const ScriptedFileDialog&) = delete;

    ScriptedFileDialog& Answer(std::optional<std::string> path);
    std::vector<OpenFileRequest> Requests() const;

private:
    mutable std::mutex mutex_;
    std::deque<std::optional<std::string>> answers_;
    std::vector<OpenFileRequest> requests_;
};

// Installed by the test main for every test: a box or file dialog nobody scripted fails
// the test instead of waiting for a user.
void InstallUnexpectedDialogGuards();
