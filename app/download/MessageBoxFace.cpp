#include "MessageBoxFace.h"

#include "Application.h"

namespace {

int show(MessageBoxKind box, const std::string& text, const std::string& caption, unsigned flags) {
    if (box == MessageBoxKind::System)
        return MessageBoxA(nullptr, text.c_str(), caption.c_str(), flags);
    return Application->MessageBox(text.c_str(), caption.c_str(), flags);
}

} // namespace

int MessageBoxFace::Ask(const UpdateQuestion& question) {
    return show(question.box, question.text, question.caption, question.flags);
}

void MessageBoxFace::Tell(const UpdateNotice& notice) {
    show(notice.box, notice.text, notice.caption, notice.flags);
}
