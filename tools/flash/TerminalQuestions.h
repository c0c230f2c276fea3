#pragma once

#include "MessageBox.h"

#include <functional>
#include <istream>
#include <ostream>
#include <string>

// Answers the program's message boxes for a run without a window. A question is answered Yes
// when the user gave --yes, asked on the terminal otherwise; a box that only tells is
// printed as it stands. While it lives, it is the program's message-box handler.
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

    // Called when the user agreed to enter download mode and no password was given: it asks
    // for the password (on the terminal) and hands it on.
    std::function<void(const std::string& password)> OnPasswordTyped;
    bool PasswordGiven = false;
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

    int Answer(const MessageBoxRequest& request);

private:
    std::string ask(const std::string& prompt);

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
