#include "ScriptedDialogs.h"

#include "HandlerRestore.h"
#include "Thread.h"

#include <gtest/gtest.h>

namespace {

const char* kindName(MessageBoxKind kind) {
    return kind == MessageBoxKind::System ? "system" : "application";
}

std::string describe(const MessageBoxRequest& r) {
    return std::string(kindName(r.kind)) + " box, caption \"" + r.caption + "\", text \"" + r.text +
           "\", flags " + std::to_string(r.flags);
}

// The real entry points abort when a real box or dialog is asked for off the GUI thread;
// under test the handler is asked first (MessageBox.cpp), so it checks the thread and fails
// only the test.
bool onGuiThread(const std::string& what) {
    if (IsGuiThread())
        return true;
    ADD_FAILURE() << what << " asked for off the GUI thread";
    return false;
}

// Whether an installed handler is the one a script of self installed.
template <typename Handler, typename Function, typename Self>
auto isOwnHandler(const std::shared_ptr<Self>& self) {
    return [self](const Function& installed) {
        const auto* mine = installed.template target<Handler>();
        return mine && mine->script.lock() == self;
    };
}

int unexpectedBox(const MessageBoxRequest& request) {
    if (onGuiThread(describe(request)))
        ADD_FAILURE() << "unexpected " << describe(request);
    return IDCANCEL;
}

std::string describe(const OpenFileRequest& request) {
    return "file dialog \"" + request.title + "\"";
}

std::optional<std::string> unexpectedFileDialog(const OpenFileRequest& request) {
    if (onGuiThread(describe(request)))
        ADD_FAILURE() << "unexpected " << describe(request);
    return std::nullopt;
}

} // namespace

void InstallUnexpectedDialogGuards() {
    SetMessageBoxHandler(unexpectedBox);
    SetFileDialogHandler(unexpectedFileDialog);
}

// The handler a script installs: it reaches the script while that lives and acts as the
// guard once it is gone (a script destroyed out of order leaves no dangling handler).
struct ScriptedMessageBoxes::Handler {
    std::weak_ptr<ScriptedMessageBoxes*> script;
    int operator()(const MessageBoxRequest& request) const {
        auto self = script.lock();
        return self ? (*self)->answer(request) : unexpectedBox(request);
    }
};

ScriptedMessageBoxes::ScriptedMessageBoxes()
    : self_(std::make_shared<ScriptedMessageBoxes*>(this)) {
    previous_ = SetMessageBoxHandler(Handler{self_});
}

ScriptedMessageBoxes::~ScriptedMessageBoxes() {
    RestoreReplacedHandler(SetMessageBoxHandler, std::move(previous_),
                           isOwnHandler<Handler, MessageBoxHandler>(self_),
                           "scripted message boxes");
    self_.reset();
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
    if (!onGuiThread(describe(request)))
        return IDCANCEL;
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

struct ScriptedFileDialog::Handler {
    std::weak_ptr<ScriptedFileDialog*> script;
    std::optional<std::string> operator()(const OpenFileRequest& request) const {
        auto self = script.lock();
        return self ? (*self)->answer(request) : unexpectedFileDialog(request);
    }
};

ScriptedFileDialog::ScriptedFileDialog() : self_(std::make_shared<ScriptedFileDialog*>(this)) {
    previous_ = SetFileDialogHandler(Handler{self_});
}

ScriptedFileDialog::~ScriptedFileDialog() {
    RestoreReplacedHandler(SetFileDialogHandler, std::move(previous_),
                           isOwnHandler<Handler, FileDialogHandler>(self_), "scripted file dialog");
    self_.reset();
    if (!answers_.empty())
        ADD_FAILURE() << answers_.size() << " file dialog answer(s) never asked for";
}

std::optional<std::string> ScriptedFileDialog::answer(const OpenFileRequest& request) {
    if (!onGuiThread(describe(request)))
        return std::nullopt;
    std::lock_guard lock(mutex_);
    requests_.push_back(request);
    if (answers_.empty()) {
        ADD_FAILURE() << "unexpected " << describe(request);
        return std::nullopt;
    }
    auto answer = answers_.front();
    answers_.pop_front();
    return answer;
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
