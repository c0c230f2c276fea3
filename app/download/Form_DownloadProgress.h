#pragma once

#include "RelaxedAtomic.h"

#include <QDialog>
#include <cstdint>

class QPushButton;
class TGauge;

// The modal dialog shown while a download runs: a gauge and Cancel. Cancel, the Esc key
// and the close box all go through Button_CancelClick, which sets Cancelled (read by the
// worker) and closes the dialog at once.
class TForm_DownloadProgress : public QDialog {
    Q_OBJECT
public:
    explicit TForm_DownloadProgress(QWidget* parent = nullptr);

    TGauge* CGauge_Progress;
    QPushButton* Button_Cancel;
    Relaxed<std::uint32_t> Cancelled{0};

    static constexpr int ModalResultCancel = 2;

    void Button_CancelClick();

    // Ends the modal loop with the result Cancel (2). Also works before the loop has
    // started: RunModal then returns at once.
    void Finish();

    // Shows the dialog modally unless Finish came first; returns the modal result.
    int RunModal();

    // Whether the worker's Finish ended the dialog (rather than the user or the
    // application).
    bool FinishedByWorker() const { return finished_; }

protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

private:
    bool finished_ = false;
};
