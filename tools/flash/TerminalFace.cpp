#include "TerminalFace.h"

#include "IntelHexFile.h"
#include "InterruptWatch.h"
#include "TerminalQuestions.h"
#include "Thread_Download.h"
#include "UpdateProcedures.h"

#include <atomic>

namespace {

// The download of one file by the download worker, followed from the waiting thread.
class TerminalJob : public DownloadJob {
public:
    TerminalJob(TFirmware_Downloader& node, TIntelHexFile& file, std::uint8_t sector,
                const std::function<void(int, bool)>& progress)
        : node_(node), file_(file), sector_(sector), progress_(progress) {}

    TIntelHexFile* File() override { return &file_; }
    TFirmware_Downloader* Node() override { return &node_; }
    std::uint8_t Sector() override { return sector_; }
    bool CancelRequested() override { return InterruptWatch::Interrupted(); }
    void ShowProgress(int percent) override {
        if (progress_)
            progress_(percent, verifying_);
    }
    void VerifyStarted() override { verifying_ = true; }
    void Finished(int percent) override { ShowProgress(percent); }

private:
    TFirmware_Downloader& node_;
    TIntelHexFile& file_;
    std::uint8_t sector_;
    const std::function<void(int, bool)>& progress_;
    bool verifying_ = false; // on the waiting thread only
};

} // namespace

TerminalFace::TerminalFace(TFirmware_Downloader& downloader, TerminalQuestions& questions,
                           bool force, std::optional<std::string> password)
    : downloader_(downloader), questions_(questions), force_(force),
      password_(std::move(password)) {}

int TerminalFace::Ask(const UpdateQuestion& question) {
    if (InterruptWatch::Interrupted())
        return IDCANCEL;
    const bool check = question.kind == QuestionKind::ImageCheck;
    const int answer =
        questions_.Ask({question.box, question.text, question.caption, question.flags},
                       check ? force_ : questions_.Yes());
    // The download-mode password is asked for once the user agreed to enter it.
    if (answer == IDYES && question.text == EnterDownloadModeQuestion && !password_) {
        if (auto typed = questions_.AskLine("Password (hexadecimal): "))
            password_ = *typed;
    }
    return answer;
}

void TerminalFace::Tell(const UpdateNotice& notice) {
    questions_.Answer({notice.box, notice.text, notice.caption, notice.flags});
}

std::string TerminalFace::Password() {
    return password_.value_or("");
}

TransferOutcome TerminalFace::Transfer(std::uint8_t sector, std::unique_ptr<TIntelHexFile> file) {
    TerminalJob job(downloader_, *file, sector, OnProgress);
    Thread_Download worker(job);
    worker.SetPriority(TThreadPriority::Highest);
    worker.Start();
    // Waiting on this thread runs the worker's progress reports as they come.
    worker.WaitFor();
    TransferOutcome outcome;
    outcome.downloadOk = worker.DownloadOk != 0;
    outcome.verifyOk = worker.VerifyOk != 0;
    outcome.cancelled = InterruptWatch::Interrupted();
    return outcome;
}
