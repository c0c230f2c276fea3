#include "ProgramSteps.h"

#include "FileOpenDialog.h"
#include "StringGrid.h"
#include "TerminalQuestions.h"

#include <QEventLoop>

namespace {

// Between two looks at a running download.
constexpr int ProgressPeriodMs = 100;

} // namespace

ProgramSteps::ProgramSteps(TQVX_COPN_Interface& binding, std::uint8_t node,
                           TerminalQuestions& questions)
    : probe_(binding, node), questions_(questions),
      window_(std::make_unique<TForm_ProgramDownload>(binding, node)) {
    SetFileDialogHandler([this](const OpenFileRequest&) -> std::optional<std::string> {
        if (file_.empty())
            return std::nullopt;
        return file_;
    });
    window_->show();
}

ProgramSteps::~ProgramSteps() {
    SetFileDialogHandler({});
    window_->hide();
}

bool ProgramSteps::IsStandardNode() {
    return probe_.IsStandardNode();
}

std::optional<TProgramDownload::Program> ProgramSteps::Program(std::uint8_t program) {
    TProgramDownload::Program state;
    if (!probe_.ReadProgram(program, &state))
        return std::nullopt;
    return state;
}

TProgramDownload::Outcome ProgramSteps::Download(std::uint8_t program, const std::string& file) {
    questions_.Forget();
    if (!window_->Refresh() || program < 1 || program >= window_->Grid_Programs->RowCount()) {
        TProgramDownload::Outcome outcome;
        outcome.message = "The node has no program " + std::to_string(program) + ".";
        return outcome;
    }
    window_->Grid_Programs->SetRow(program);
    file_ = file;
    window_->Button_DownloadClick();
    file_.clear();
    QEventLoop loop;
    QTimer look;
    look.setInterval(ProgressPeriodMs);
    QObject::connect(&look, &QTimer::timeout, [&] {
        if (!window_->Downloading()) {
            loop.quit();
            return;
        }
        if (cancelled_)
            window_->Button_CancelClick();
        if (OnProgress)
            OnProgress(window_->DownloadedBytes(), window_->DownloadBytes());
    });
    if (window_->Downloading()) {
        look.start();
        loop.exec();
    }
    TProgramDownload::Outcome outcome = window_->LastOutcome();
    if (outcome.message.empty())
        outcome.message = questions_.LastText();
    return outcome;
}

void ProgramSteps::Cancel() {
    cancelled_ = true;
    questions_.Interrupt();
    window_->Button_CancelClick();
}
