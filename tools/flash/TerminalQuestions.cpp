#include "TerminalQuestions.h"

#include <cctype>

namespace {

bool isQuestion(unsigned flags) {
    const unsigned buttons = flags & 0x0F;
    return buttons == MB_YESNOCANCEL || buttons == MB_YESNO || buttons == MB_OKCANCEL;
}

std::string lowered(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

bool IsDownloadModeQuestion(const std::string& text) {
    return text.rfind("The module is not currently in the download mode.", 0) == 0;
}

TerminalQuestions::TerminalQuestions(bool yes, Terminal terminal) : yes_(yes), terminal_(terminal) {
    previous_ = SetMessageBoxHandler([this](const MessageBoxRequest& r) { return Answer(r); });
}

TerminalQuestions::~TerminalQuestions() {
    SetMessageBoxHandler(std::move(previous_));
}

void TerminalQuestions::Forget() {
    lastText_.clear();
    lastCaption_.clear();
    toldTrouble_ = false;
    declined_ = false;
}

std::string TerminalQuestions::ask(const std::string& prompt) {
    if (!terminal_.in || !terminal_.out)
        return {};
    *terminal_.out << prompt << std::flush;
    std::string line;
    if (!std::getline(*terminal_.in, line))
        return {};
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

int TerminalQuestions::Answer(const MessageBoxRequest& request) {
    if (BeforeOutput)
        BeforeOutput();
    const unsigned buttons = request.flags & 0x0F;
    if (!isQuestion(request.flags)) {
        lastText_ = request.text;
        lastCaption_ = request.caption;
        if (request.caption != "Success" && request.caption != "Information")
            toldTrouble_ = true;
        if (terminal_.out)
            *terminal_.out << request.caption << ": " << request.text << "\n" << std::flush;
        return IDOK;
    }
    const int yes = buttons == MB_OKCANCEL ? IDOK : IDYES;
    int answer = IDCANCEL;
    if (interrupted_) {
        answer = IDCANCEL;
    } else if (yes_) {
        answer = yes;
        if (terminal_.out)
            *terminal_.out << request.caption << ": " << request.text << " [yes]\n" << std::flush;
    } else {
        const std::string choices = buttons == MB_OKCANCEL ? " [ok/cancel] "
                                    : buttons == MB_YESNO  ? " [yes/no] "
                                                           : " [yes/no/cancel] ";
        const std::string reply = lowered(ask(request.caption + ": " + request.text + choices));
        if (reply == "y" || reply == "yes" || reply == "ok")
            answer = yes;
        else if ((reply == "n" || reply == "no") && buttons != MB_OKCANCEL)
            answer = IDNO;
    }
    if (answer != yes)
        declined_ = true;
    if (answer == yes && IsDownloadModeQuestion(request.text) && !PasswordGiven &&
        OnPasswordTyped && terminal_.in)
        OnPasswordTyped(ask("Password (hexadecimal): "));
    return answer;
}
