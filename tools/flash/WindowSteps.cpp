#include "WindowSteps.h"

#include "FileOpenDialog.h"
#include "Form_DownloadProgress.h"
#include "Gauge.h"
#include "StringGrid.h"
#include "TerminalQuestions.h"

#include <QLineEdit>

namespace {

// Between two looks at the progress dialog.
constexpr int ProgressPeriodMs = 100;

} // namespace

WindowSteps::WindowSteps(TFirmware_Downloader& downloader, std::uint8_t node,
                         TerminalQuestions& questions, const std::optional<std::string>& password)
    : downloader_(downloader), questions_(questions),
      window_(std::make_unique<TForm_FW_Download>()) {
    window_->Downloader = &downloader_;
    downloader_.Node = node;
    if (password)
        window_->Edit_Password->setText(QString::fromStdString(*password));
    questions_.PasswordGiven = password.has_value();
    questions_.OnPasswordTyped = [this](const std::string& typed) {
        window_->Edit_Password->setText(QString::fromStdString(typed));
    };
    SetFileDialogHandler([this](const OpenFileRequest&) -> std::optional<std::string> {
        if (file_.empty())
            return std::nullopt;
        return file_;
    });
    progressTimer_.setInterval(ProgressPeriodMs);
    QObject::connect(&progressTimer_, &QTimer::timeout, [this] { watchProgress(); });
    // Shown as the main window shows it, on the screen of this run, which no one sees.
    window_->show();
}

WindowSteps::~WindowSteps() {
    progressTimer_.stop();
    questions_.OnPasswordTyped = nullptr;
    SetFileDialogHandler({});
    window_->hide();
}

void WindowSteps::watchProgress() {
    TForm_DownloadProgress* dialog = window_->Form_DownloadProgress;
    if (!dialog)
        return;
    if (cancelled_ && !dialog->Cancelled)
        dialog->Button_CancelClick();
    if (OnProgress)
        OnProgress({dialog->CGauge_Progress->Progress(),
                    dialog->windowTitle() == QStringLiteral("Verify Progress")});
}

void WindowSteps::Cancel() {
    cancelled_ = true;
    questions_.Interrupt();
    if (TForm_DownloadProgress* dialog = window_->Form_DownloadProgress)
        dialog->Button_CancelClick();
}

std::vector<std::vector<std::string>> WindowSteps::SectorTable() {
    window_->Button_RetrieveClick();
    std::vector<std::vector<std::string>> rows;
    if (!window_->SectorTableValid)
        return rows;
    TStringGrid* grid = window_->AdvStringGrid_Modules;
    for (int row = 0; row < grid->RowCount(); ++row) {
        std::vector<std::string> cells;
        for (int col = 0; col < grid->ColCount(); ++col)
            cells.push_back(grid->Cell(col, row));
        rows.push_back(std::move(cells));
    }
    return rows;
}

bool WindowSteps::SectorHolds(std::uint8_t sector, const SectorDescription& header) {
    window_->RetrieveSectorTable();
    if (!window_->SectorTableValid || sector >= TForm_FW_Download::MaxSectors)
        return false;
    // The texts as the node tells them: what follows a text's end in its field is no part of it.
    const SectorDescription& held = window_->Sectors[sector];
    if (held.NameText() != header.NameText() ||
        held.DescriptionText() != header.DescriptionText() ||
        held.BuildDateText() != header.BuildDateText() ||
        held.BuildTimeText() != header.BuildTimeText() || held.Revision != header.Revision)
        return false;
    std::uint32_t ok = 0;
    return downloader_.ChecksumOk(sector, &ok) && ok != 0;
}

bool WindowSteps::StandardUpdate(const std::string& file) {
    file_ = file;
    questions_.Forget();
    progressTimer_.start();
    window_->Button1Click();
    progressTimer_.stop();
    file_.clear();
    // The window closes itself once the node restarts into the new firmware, and only then.
    return !window_->isVisible() && !cancelled_;
}

bool WindowSteps::toldNoError() const {
    return !questions_.ToldTrouble() && !questions_.Declined() && !cancelled_;
}

bool WindowSteps::selectSector(std::uint8_t sector) {
    window_->Button_RetrieveClick();
    if (!window_->SectorTableValid || sector >= window_->AdvStringGrid_Modules->RowCount() - 1)
        return false;
    window_->AdvStringGrid_Modules->SetRow(sector + 1);
    return true;
}

bool WindowSteps::sectorOperation(std::uint8_t sector, void (TForm_FW_Download::*button)()) {
    questions_.Forget();
    if (!selectSector(sector)) {
        if (!questions_.ToldTrouble() && !questions_.Declined())
            questions_.Answer({MessageBoxKind::Application,
                               "The node's sector table could not be read, or it has no sector " +
                                   std::to_string(sector) + ".",
                               "Error", MB_OK});
        return false;
    }
    questions_.Forget();
    progressTimer_.start();
    (window_.get()->*button)();
    progressTimer_.stop();
    return toldNoError();
}

bool WindowSteps::Erase(std::uint8_t sector) {
    return sectorOperation(sector, &TForm_FW_Download::Button_EraseModuleClick);
}

bool WindowSteps::Write(std::uint8_t sector, const std::string& file) {
    file_ = file;
    const bool done = sectorOperation(sector, &TForm_FW_Download::Button_UpgradeClick);
    file_.clear();
    return done;
}

bool WindowSteps::MakeBoot(std::uint8_t sector) {
    return sectorOperation(sector, &TForm_FW_Download::Button_MakeActiveClick);
}

bool WindowSteps::Execute(std::uint8_t sector) {
    return sectorOperation(sector, &TForm_FW_Download::Button_ExecuteClick) &&
           !window_->isVisible();
}

bool WindowSteps::Reset() {
    questions_.Forget();
    window_->Button_RebootNodeClick();
    return !window_->isVisible() && toldNoError();
}
