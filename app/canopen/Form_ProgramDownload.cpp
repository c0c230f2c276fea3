#include "Form_ProgramDownload.h"

#include "Application.h"
#include "FileOpenDialog.h"
#include "Gauge.h"
#include "MessageBox.h"
#include "ProgramDownloadThread.h"
#include "StringGrid.h"
#include "TransferTexts.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

TForm_ProgramDownload::TForm_ProgramDownload(TQVX_COPN_Interface& binding, std::uint8_t node,
                                             QWidget* parent)
    : QDialog(parent), OpenDialog_Program(std::make_unique<TOpenDialog>()), binding_(binding),
      download_(binding, node), node_(node) {
    buildControls();
    OpenDialog_Program->Title = "Program File";
    OpenDialog_Program->Filter = "Program Files (*.hex,*.bin)|*.hex;*.bin|All Files|*";
    progressTimer_.setInterval(100);
    connect(&progressTimer_, &QTimer::timeout, this, [this] { showProgress(); });
}

TForm_ProgramDownload::~TForm_ProgramDownload() {
    if (worker_) {
        worker_->Cancel();
        worker_->WaitFor();
    }
}

void TForm_ProgramDownload::buildControls() {
    setWindowTitle("Program Download");
    auto* layout = new QVBoxLayout(this);
    StaticText_Node = new QLabel(QString("Node: %1").arg(node_), this);
    layout->addWidget(StaticText_Node);

    Grid_Programs = new TStringGrid(this);
    Grid_Programs->SetColCount(4);
    Grid_Programs->SetRowCount(2);
    Grid_Programs->SetCell(ColumnProgram, 0, "Program");
    Grid_Programs->SetCell(ColumnState, 0, "State");
    Grid_Programs->SetCell(ColumnFlashStatus, 0, "Flash Status");
    Grid_Programs->SetCell(ColumnIdentification, 0, "Software Identification");
    for (int col = 0; col < 4; ++col)
        Grid_Programs->SetColWidth(
            col, Grid_Programs->ColWidthForText(Grid_Programs->Cell(col, 0) + "  "));
    Grid_Programs->SetColWidth(ColumnState, Grid_Programs->ColWidthForText("stopped  "));
    Grid_Programs->SetColWidth(ColumnFlashStatus,
                               Grid_Programs->ColWidthForText("flash not cleared before write  "));
    layout->addWidget(Grid_Programs);

    auto* buttons = new QHBoxLayout;
    Button_Download = new QPushButton("Download", this);
    Button_Start = new QPushButton("Start", this);
    Button_Stop = new QPushButton("Stop", this);
    Button_Clear = new QPushButton("Clear", this);
    Button_Refresh = new QPushButton("Refresh", this);
    for (QPushButton* b :
         {Button_Download, Button_Start, Button_Stop, Button_Clear, Button_Refresh})
        buttons->addWidget(b);
    layout->addLayout(buttons);
    CheckBox_ExpectCrc =
        new QCheckBox("Fail unless the node identifies the program by the file's CRC-32", this);
    layout->addWidget(CheckBox_ExpectCrc);

    auto* progress = new QHBoxLayout;
    Gauge_Progress = new TGauge(this);
    StaticText_Progress = new QLabel(this);
    Button_Cancel = new QPushButton("Cancel", this);
    progress->addWidget(Gauge_Progress, 1);
    progress->addWidget(Button_Cancel);
    layout->addLayout(progress);
    layout->addWidget(StaticText_Progress);

    StatusLine = new QStatusBar(this);
    StatusLine->setSizeGripEnabled(false);
    layout->addWidget(StatusLine);

    connect(Button_Download, &QPushButton::clicked, this, [this] { Button_DownloadClick(); });
    connect(Button_Start, &QPushButton::clicked, this, [this] { Button_StartClick(); });
    connect(Button_Stop, &QPushButton::clicked, this, [this] { Button_StopClick(); });
    connect(Button_Clear, &QPushButton::clicked, this, [this] { Button_ClearClick(); });
    connect(Button_Refresh, &QPushButton::clicked, this, [this] { Refresh(); });
    connect(Button_Cancel, &QPushButton::clicked, this, [this] { Button_CancelClick(); });
    enableButtons();
}

void TForm_ProgramDownload::enableButtons() {
    const bool idle = !worker_;
    const bool any = programs_ > 0;
    for (QPushButton* b : {Button_Download, Button_Start, Button_Stop, Button_Clear})
        b->setEnabled(idle && any);
    Button_Refresh->setEnabled(idle);
    Button_Cancel->setEnabled(!idle);
}

bool TForm_ProgramDownload::Refresh() {
    std::uint8_t count = 0;
    if (!download_.ProgramCount(&count)) {
        programs_ = 0;
        Grid_Programs->SetRowCount(2);
        for (int col = 0; col < 4; ++col)
            Grid_Programs->SetCell(col, 1, "");
        StatusLine->showMessage(QString::fromStdString(download_.LastMessage()));
        enableButtons();
        return false;
    }
    programs_ = count;
    Grid_Programs->SetRowCount(1 + std::max<int>(count, 1));
    bool all = true;
    for (std::uint8_t p = 1; p <= count; ++p) {
        TProgramDownload::Program program;
        Grid_Programs->SetCell(ColumnProgram, p, std::to_string(p));
        if (!download_.ReadProgram(p, &program)) {
            all = false;
            for (int col = ColumnState; col <= ColumnIdentification; ++col)
                Grid_Programs->SetCell(col, p, "?");
            continue;
        }
        Grid_Programs->SetCell(ColumnState, p, ProgramControlName(program.control));
        Grid_Programs->SetCell(ColumnFlashStatus, p,
                               program.flashStatus & TProgramDownload::FlashBusy
                                   ? "in progress"
                                   : FlashStatusName(program.flashStatus));
        Grid_Programs->SetCell(ColumnIdentification, p, Hex32Text(program.identification));
    }
    StatusLine->showMessage(all ? QString("Node %1: %2 program(s)").arg(node_).arg(count)
                                : QString::fromStdString(download_.LastMessage()));
    enableButtons();
    return all;
}

std::uint8_t TForm_ProgramDownload::SelectedProgram() const {
    const int row = Grid_Programs->Row();
    return static_cast<std::uint8_t>(row >= 1 && row <= programs_ ? row : 1);
}

bool TForm_ProgramDownload::ask(const std::string& text) {
    return Application->MessageBox(text.c_str(), "Warning",
                                   MB_YESNO | MB_ICONEXCLAMATION | MB_DEFBUTTON2) == IDYES;
}

void TForm_ProgramDownload::control(TProgramDownload::ControlValue value) {
    if (!download_.Control(SelectedProgram(), value))
        Application->MessageBox(download_.LastMessage().c_str(), "Error", MB_OK | MB_ICONERROR);
    Refresh();
}

void TForm_ProgramDownload::Button_StartClick() {
    control(TProgramDownload::Start);
}

void TForm_ProgramDownload::Button_StopClick() {
    const std::string p = std::to_string(SelectedProgram());
    if (ask("Stopping program " + p +
            " stops the node's application.\r\n"
            "Make sure the Node is in a safe state!\r\nStop program " +
            p + "?"))
        control(TProgramDownload::Stop);
}

void TForm_ProgramDownload::Button_ClearClick() {
    const std::string p = std::to_string(SelectedProgram());
    if (ask("Clearing program " + p +
            " stops it and erases it from the node.\r\n"
            "Make sure the Node is in a safe state!\r\nClear program " +
            p + "?"))
        control(TProgramDownload::Clear);
}

void TForm_ProgramDownload::Button_DownloadClick() {
    if (worker_)
        return;
    const std::uint8_t program = SelectedProgram();
    if (!OpenDialog_Program->Execute())
        return;
    ProgramImage image;
    std::string error;
    if (!ReadProgramImage(OpenDialog_Program->FileName, &image, &error)) {
        Application->MessageBox(error.c_str(), "Error", MB_OK | MB_ICONERROR);
        return;
    }
    TProgramDownload::Program now;
    const bool read = download_.ReadProgram(program, &now);
    if (read && now.Runs(image.crc)) {
        const std::string same = ProgramAlreadyHeldText(program, image.crc);
        if (Application->MessageBox(same.c_str(), "Caution",
                                    MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES)
            return;
    } else if (read && now.Holds(image.crc)) {
        // Held, but stopped: started, not written again.
        const std::string start = ProgramStartHeldText(program, image.crc);
        if (Application->MessageBox(start.c_str(), "Caution", MB_YESNO | MB_ICONQUESTION) != IDYES)
            return;
        const bool started = download_.StartHeld(program);
        Refresh();
        if (!started) {
            Application->MessageBox(download_.LastMessage().c_str(), "Error", MB_OK | MB_ICONERROR);
            return;
        }
        const std::string told = "Program " + std::to_string(program) + " started";
        StatusLine->showMessage(QString::fromStdString(told));
        Application->MessageBox(told.c_str(), "Success", MB_OK | MB_ICONINFORMATION);
        return;
    }
    if (!ask(ProgramStopText(node_, program, image.bytes.size())))
        return;

    lastOutcome_ = {};
    // What the node is about to be told; the row is read again when the download ends.
    Grid_Programs->SetCell(ColumnState, program, ProgramControlName(TProgramDownload::Stop));
    Grid_Programs->SetCell(ColumnFlashStatus, program, "downloading");
    Grid_Programs->SetCell(ColumnIdentification, program, "");
    Gauge_Progress->SetProgress(0);
    StaticText_Progress->setText(QString::fromStdString(ProgressText(0, image.bytes.size(), 0)));
    TProgramDownload::Options options;
    options.expectCrc = CheckBox_ExpectCrc->isChecked();
    worker_ = std::make_unique<ProgramDownloadThread>(binding_, node_, program, std::move(image),
                                                      options);
    worker_->Start();
    elapsed_.start();
    progressTimer_.start();
    StatusLine->showMessage(QString("Downloading program %1 ...").arg(program));
    enableButtons();
}

std::uint32_t TForm_ProgramDownload::DownloadedBytes() const {
    return worker_ ? worker_->Done() : 0;
}

std::uint32_t TForm_ProgramDownload::DownloadBytes() const {
    return worker_ ? worker_->Total() : 0;
}

void TForm_ProgramDownload::Button_CancelClick() {
    if (worker_) {
        worker_->Cancel();
        StatusLine->showMessage("Cancelling ...");
    }
}

std::string TForm_ProgramDownload::ProgressText(std::uint32_t done, std::uint32_t total,
                                                std::int64_t milliseconds) {
    std::string text = std::to_string(done) + " of " + std::to_string(total) + " bytes";
    if (done == 0 || milliseconds <= 0)
        return text;
    const double rate = done * 1000.0 / static_cast<double>(milliseconds);
    const auto left = static_cast<long long>((total - std::min(done, total)) / rate + 0.5);
    return text + ", " + RateText(rate) + ", " + std::to_string(left) + " s left";
}

void TForm_ProgramDownload::showProgress() {
    if (!worker_)
        return;
    const std::uint32_t done = worker_->Done(), total = worker_->Total();
    Gauge_Progress->SetProgress(total ? static_cast<int>(100ull * done / total) : 0);
    StaticText_Progress->setText(
        QString::fromStdString(ProgressText(done, total, elapsed_.elapsed())));
    if (worker_->Finished())
        downloadEnded();
}

void TForm_ProgramDownload::downloadEnded() {
    progressTimer_.stop();
    worker_->WaitFor(); // the outcome is read only after the thread has ended
    lastOutcome_ = worker_->Outcome();
    worker_.reset();
    enableButtons();
    Refresh();
    switch (lastOutcome_.result) {
    case TProgramDownload::Result::Done:
        Gauge_Progress->SetProgress(100);
        StatusLine->showMessage(QString::fromStdString(lastOutcome_.message));
        // Started, but not confirmed by the node's identification: said so, not as a success.
        if (lastOutcome_.verified)
            Application->MessageBox(lastOutcome_.message.c_str(), "Success",
                                    MB_OK | MB_ICONINFORMATION);
        else
            Application->MessageBox(lastOutcome_.message.c_str(), "Warning",
                                    MB_OK | MB_ICONEXCLAMATION);
        break;
    case TProgramDownload::Result::Cancelled:
        StatusLine->showMessage(QString::fromStdString(lastOutcome_.message));
        Application->MessageBox(lastOutcome_.message.c_str(), "Warning",
                                MB_OK | MB_ICONEXCLAMATION);
        break;
    case TProgramDownload::Result::Failed:
        StatusLine->showMessage(QString::fromStdString(lastOutcome_.message));
        Application->MessageBox(lastOutcome_.message.c_str(), "Error", MB_OK | MB_ICONERROR);
        break;
    }
}

void TForm_ProgramDownload::closeEvent(QCloseEvent* event) {
    if (worker_) {
        event->ignore(); // a download runs: Cancel first
        return;
    }
    QDialog::closeEvent(event);
}

void TForm_ProgramDownload::reject() {
    if (!worker_)
        QDialog::reject();
}
