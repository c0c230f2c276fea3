#pragma once

#include "MessageBox.h"

#include <functional>
#include <istream>
#include <optional>
#include <ostream>
#include <string>

// Asks and tells on the terminal for a run without a window. A routine question is answered
// Yes when the user gave --yes, asked on the terminal otherwise (No when there is none); a
// box that only tells is printed as it stands. While it lives, it is the program's
// message-box handler, for the boxes the downloaders show themselves.
class TerminalQuestions {
public:
    struct Terminal {
        std::istream* in = nullptr; // null: no one to ask
        std::ostream* out = nullptr;
    };

    TerminalQuestions(bool yes, Terminal terminal);
    ~TerminalQuestions();
    TerminalQuestions(const TerminalQuestions&) = delete;
    TerminalQuestions& operator=(const TerminalQuestions&) = delete;

    // Called before anything is printed: a progress line drawn in place is ended first.
    std::function<void()> BeforeOutput;

    // After an interruption every question is answered Cancel.
    void Interrupt() { interrupted_ = true; }

    // The last box that told something (not a question), and whether it was an error or a
    // warning; cleared by Forget.
    const std::string& LastText() const { return lastText_; }
    const std::string& LastCaption() const { return lastCaption_; }
    // Since Forget: whether a box told of an error or a warning, and whether a question was
    // answered anything but Yes.
    bool ToldTrouble() const { return toldTrouble_; }
    bool Declined() const { return declined_; }
    void Forget();

    // A box as the message-box handler gets it: a question is asked as a routine one.
    int Answer(const MessageBoxRequest& request);
    // A question: Yes without asking when answerYes, else asked on the terminal (No when
    // there is none, or the reply is not Yes).
    int Ask(const MessageBoxRequest& request, bool answerYes);
    // A line typed on the terminal after the prompt; nothing when there is no terminal.
    std::optional<std::string> AskLine(const std::string& prompt);
    bool Yes() const { return yes_; }

private:
    bool yes_;
    Terminal terminal_;
    bool interrupted_ = false;
    std::string lastText_;
    std::string lastCaption_;
    bool toldTrouble_ = false;
    bool declined_ = false;
    MessageBoxHandler previous_;
};

// The text the window asks before it enters download mode.
bool IsDownloadModeQuestion(const std::string& text);
