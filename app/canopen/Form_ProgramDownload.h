#pragma once

#include "ProgramDownload.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <string>

class QCheckBox;
class QLabel;
class QPushButton;
class QStatusBar;
class TGauge;
class TOpenDialog;
class TStringGrid;
class ProgramDownloadThread;

// The window for a CANopen node that is updated by standard program download: one row per
// program with its state, flash status and software identification, and the buttons that
// download, start, stop and clear the selected program. Every step that stops the node's
// program asks first. The download runs on a thread of its own while the window shows its
// progress (bytes per second, time left) and offers Cancel.
class TForm_ProgramDownload : public QDialog {
    Q_OBJECT
public:
    TForm_ProgramDownload(TQVX_COPN_Interface& binding, std::uint8_t node,
                          QWidget* parent = nullptr);
    ~TForm_ProgramDownload() override;

    enum Column { ColumnProgram, ColumnState, ColumnFlashStatus, ColumnIdentification };

    QLabel* StaticText_Node;
    TStringGrid* Grid_Programs;
    QPushButton* Button_Download;
    QPushButton* Button_Start;
    QPushButton* Button_Stop;
    QPushButton* Button_Clear;
    QPushButton* Button_Refresh;
    // Anything but the file's CRC-32 as the program's identification fails the download.
    QCheckBox* CheckBox_ExpectCrc;
    TGauge* Gauge_Progress;
    QLabel* StaticText_Progress;
    QPushButton* Button_Cancel;
    QStatusBar* StatusLine;
    std::unique_ptr<TOpenDialog> OpenDialog_Program;

    // Reads every program's entries into the grid; false when the node does not answer.
    bool Refresh();
    // The program of the selected row (1 for the first).
    std::uint8_t SelectedProgram() const;
    // Whether a download runs.
    bool Downloading() const { return worker_ != nullptr; }
    // The running download's bytes written so far and its whole (0 when none runs).
    std::uint32_t DownloadedBytes() const;
    std::uint32_t DownloadBytes() const;
    // The outcome of the last download that ended.
    const TProgramDownload::Outcome& LastOutcome() const { return lastOutcome_; }

    void Button_DownloadClick();
    void Button_StartClick();
    void Button_StopClick();
    void Button_ClearClick();
    void Button_CancelClick();

    // The progress text for done of total bytes after the given milliseconds.
    static std::string ProgressText(std::uint32_t done, std::uint32_t total,
                                    std::int64_t milliseconds);

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void buildControls();
    void enableButtons();
    bool ask(const std::string& text);
    void control(TProgramDownload::ControlValue value);
    void showProgress();
    void downloadEnded();

    TQVX_COPN_Interface& binding_;
    TProgramDownload download_;
    const std::uint8_t node_;
    std::uint8_t programs_ = 0;
    std::unique_ptr<ProgramDownloadThread> worker_;
    QTimer progressTimer_;
    QElapsedTimer elapsed_;
    TProgramDownload::Outcome lastOutcome_;
};
