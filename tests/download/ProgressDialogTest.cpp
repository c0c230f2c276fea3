#include "FormScale.h"
#include "Form_DownloadProgress.h"
#include "Gauge.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

TEST(ProgressDialog, AsCreated) {
    TForm_DownloadProgress dialog;
    EXPECT_EQ(dialog.windowTitle(), "Download Progress");
    const FormScale scale = FormScale::Of(&dialog); // the design's pixels, scaled
    EXPECT_EQ(dialog.size(), scale.Size(352, 132));
    EXPECT_EQ(dialog.CGauge_Progress->size(), scale.Size(297, 41));
    EXPECT_EQ(dialog.CGauge_Progress->Progress(), 0);
    EXPECT_EQ(dialog.Button_Cancel->text(), "Cancel");
    EXPECT_EQ(dialog.Cancelled, 0u);
}

TEST(ProgressDialog, CancelButtonEscAndCloseBoxAllCancel) {
    std::function<void(TForm_DownloadProgress&)> ways[] = {
        [](auto& d) { d.Button_Cancel->click(); },
        [](auto& d) {
            QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(&d, &esc);
        },
        [](auto& d) {
            d.close();
        }};
    for (auto& way : ways) {
        TForm_DownloadProgress dialog;
        QTimer::singleShot(0, &dialog, [&] { way(dialog); });
        EXPECT_EQ(dialog.RunModal(), TForm_DownloadProgress::ModalResultCancel);
        EXPECT_EQ(dialog.Cancelled, 1u);
    }
}

TEST(ProgressDialog, FinishBeforeTheModalLoopEndsItAtOnce) {
    TForm_DownloadProgress dialog;
    dialog.Finish();
    EXPECT_EQ(dialog.RunModal(), TForm_DownloadProgress::ModalResultCancel);
    EXPECT_EQ(dialog.Cancelled, 0u);
}

} // namespace
