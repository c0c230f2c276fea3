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

std::optional<std::string> TerminalQuestions::AskLine(const std::string& prompt) {
    if (!terminal_.in || !terminal_.out || interrupted_)
        return std::nullopt;
    if (BeforeOutput)
        BeforeOutput();
    *terminal_.out << prompt << std::flush;
    std::string line;
    if (!std::getline(*terminal_.in, line))
        return std::nullopt;
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

int TerminalQuestions::Answer(const MessageBoxRequest& request) {
    if (!isQuestion(request.flags)) {
        if (BeforeOutput)
            BeforeOutput();
        lastText_ = request.text;
        lastCaption_ = request.caption;
        if (request.caption != "Success" && request.caption != "Information")
            toldTrouble_ = true;
        if (terminal_.out)
            *terminal_.out << request.caption << ": " << request.text << "\n" << std::flush;
        return IDOK;
    }
    return Ask(request, yes_);
}

int TerminalQuestions::Ask(const MessageBoxRequest& request, bool answerYes) {
    if (BeforeOutput)
        BeforeOutput();
    const unsigned buttons = request.flags & 0x0F;
    const int yes = buttons == MB_OKCANCEL ? IDOK : IDYES;
    int answer = IDCANCEL;
    if (interrupted_) {
        answer = IDCANCEL;
    } else if (answerYes) {
        answer = yes;
        if (terminal_.out)
            *terminal_.out << request.caption << ": " << request.text << " [yes]\n" << std::flush;
    } else if (!terminal_.in) {
        answer = buttons == MB_OKCANCEL ? IDCANCEL : IDNO;
        if (terminal_.out)
            *terminal_.out << request.caption << ": " << request.text << " [no]\n" << std::flush;
    } else {
        const std::string choices = buttons == MB_OKCANCEL ? " [ok/cancel] "
                                    : buttons == MB_YESNO  ? " [yes/no] "
                                                           : " [yes/no/cancel] ";
        const std::string reply =
            lowered(AskLine(request.caption + ": " + request.text + choices).value_or(""));
        if (reply == "y" || reply == "yes" || reply == "ok")
            answer = yes;
        else if ((reply == "n" || reply == "no") && buttons != MB_OKCANCEL)
            answer = IDNO;
    }
    if (answer != yes)
        declined_ = true;
    return answer;
}
