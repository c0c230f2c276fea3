#include "ScriptedDialogs.h"

#include <gtest/gtest.h>

namespace {

const char* kindName(MessageBoxKind kind) {
    return kind == MessageBoxKind::System ? "system" : "application";
}

std::string describe(const MessageBoxRequest& r) {
    return std::string(kindName(r.kind)) + " box, caption \"" + r.caption + "\", text \"" + r.text +
           "\", flags " + std::to_string(r.flags);
}

int unexpectedBox(const MessageBoxRequest& request) {
    ADD_FAILURE() << "unexpected " << describe(request);
    return IDCANCEL;
}

std::optional<std::string> unexpectedFileDialog(const OpenFileRequest& request) {
    ADD_FAILURE() << "unexpected file dialog \"" << request.title << "\"";
    return std::nullopt;
}

} // namespace

void InstallUnexpectedDialogGuards() {
    SetMessageBoxHandler(unexpectedBox);
    SetFileDialogHandler(unexpectedFileDialog);
}

ScriptedMessageBoxes::ScriptedMessageBoxes() {
    SetMessageBoxHandler([this](const MessageBoxRequest& request) { return answer(request); });
}

ScriptedMessageBoxes::~ScriptedMessageBoxes() {
    SetMessageBoxHandler(unexpectedBox);
    for (const auto& e : expected_)
        ADD_FAILURE() << "expected but never shown: " << describe(e.request);
}

ScriptedMessageBoxes& ScriptedMessageBoxes::Expect(MessageBoxKind kind, std::string text,
                                                   std::string caption, int answer,
                                                   std::optional<unsigned> flags) {
    std::lock_guard lock(mutex_);
    expected_.push_back({{kind, std::move(text), std::move(caption), flags.value_or(0)},
                         flags.has_value(),
                         answer,
                         {}});
    return *this;
}

ScriptedMessageBoxes& ScriptedMessageBoxes::WhenShown(std::function<void()> action) {
    std::lock_guard lock(mutex_);
    if (!expected_.empty())
        expected_.back().whenShown = std::move(action);
    return *this;
}

std::vector<MessageBoxRequest> ScriptedMessageBoxes::Shown() const {
    std::lock_guard lock(mutex_);
    return shown_;
}

size_t ScriptedMessageBoxes::Pending() const {
    std::lock_guard lock(mutex_);
    return expected_.size();
}

int ScriptedMessageBoxes::answer(const MessageBoxRequest& request) {
    std::unique_lock lock(mutex_);
    shown_.push_back(request);
    if (expected_.empty()) {
        ADD_FAILURE() << "unexpected " << describe(request);
        return IDCANCEL;
    }
    Expected next = expected_.front();
    expected_.pop_front();
    bool same = next.request.kind == request.kind && next.request.text == request.text &&
                next.request.caption == request.caption &&
                (!next.checkFlags || next.request.flags == request.flags);
    if (!same) {
        ADD_FAILURE() << "shown:    " << describe(request)
                      << "\nexpected: " << describe(next.request);
        return IDCANCEL;
    }
    lock.unlock();
    if (next.whenShown)
        next.whenShown();
    return next.answer;
}

ScriptedFileDialog::ScriptedFileDialog() {
    SetFileDialogHandler([this](const OpenFileRequest& request) -> std::optional<std::string> {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
        if (answers_.empty()) {
            ADD_FAILURE() << "unexpected file dialog \"" << request.title << "\"";
            return std::nullopt;
        }
        auto answer = answers_.front();
        answers_.pop_front();
        return answer;
    });
}

ScriptedFileDialog::~ScriptedFileDialog() {
    SetFileDialogHandler(unexpectedFileDialog);
    if (!answers_.empty())
        ADD_FAILURE() << answers_.size() << " file dialog answer(s) never asked for";
}

ScriptedFileDialog& ScriptedFileDialog::Answer(std::optional<std::string> path) {
    std::lock_guard lock(mutex_);
    answers_.push_back(std::move(path));
    return *this;
}

std::vector<OpenFileRequest> ScriptedFileDialog::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}
