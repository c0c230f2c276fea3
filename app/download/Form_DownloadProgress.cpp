#include "Form_DownloadProgress.h"

#include "FormScale.h"
#include "Gauge.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

TForm_DownloadProgress::TForm_DownloadProgress(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Form_DownloadProgress"));
    setWindowTitle(QStringLiteral("Download Progress"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowMinimizeButtonHint);
    setModal(true);
    // Pixels of the design, scaled for the dialog's font.
    const FormScale scale = FormScale::Of(this);

    auto* layout = new QVBoxLayout(this);
    CGauge_Progress = new TGauge(this);
    CGauge_Progress->setObjectName(QStringLiteral("CGauge_Progress"));
    CGauge_Progress->setFixedSize(scale.Size(297, 41));
    layout->addWidget(CGauge_Progress, 0, Qt::AlignHCenter);
    Button_Cancel = new QPushButton(QStringLiteral("Cancel"), this);
    Button_Cancel->setObjectName(QStringLiteral("Button_Cancel"));
    Button_Cancel->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Button_Cancel);
    buttons->addStretch();
    layout->addLayout(buttons);
    FixFormSize(this, scale.Size(352, 132));
    connect(Button_Cancel, &QPushButton::clicked, this, [this] { Button_CancelClick(); });
}

void TForm_DownloadProgress::Button_CancelClick() {
    Cancelled = 1;
    done(ModalResultCancel);
}

void TForm_DownloadProgress::Finish() {
    finished_ = true;
    done(ModalResultCancel);
}

int TForm_DownloadProgress::RunModal() {
    if (finished_)
        return ModalResultCancel;
    return exec();
}

void TForm_DownloadProgress::reject() {
    Button_CancelClick();
}

void TForm_DownloadProgress::closeEvent(QCloseEvent* event) {
    if (isVisible() && !finished_)
        Button_CancelClick();
    event->accept();
}
