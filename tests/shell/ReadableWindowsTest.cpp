// Every window of the program as a user meets it, filled with what the simulated VARNIX
// module reports: each caption, header and cell shows its text in full.
//
// With ZANDREL_SCREENSHOTS naming a folder, the main and download windows are also saved
// there as pictures (the README's pictures are made this way).

#include "AboutBox.h"
#include "EventLoop.h"
#include "Form_DownloadProgress.h"
#include "Form_FW_Download.h"
#include "Form_FW_Download_Main.h"
#include "Form_NetworkSelect.h"
#include "Gauge.h"
#include "ReadableTexts.h"
#include "RecordingSleep.h"
#include "ScriptedDialogs.h"
#include "SimulatedVarnix.h"
#include "StringGrid.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFontMetrics>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <gtest/gtest.h>

namespace {

void expectReadable(QWidget* window, const std::string& what) {
    QApplication::processEvents(); // let the layouts settle
    const std::vector<std::string> problems = UnreadableTexts(window);
    EXPECT_TRUE(problems.empty()) << what << ":\n" << Lines(problems);
}

void saveScreenshot(QWidget* window, const char* name) {
    const QString folder = qEnvironmentVariable("ZANDREL_SCREENSHOTS");
    if (folder.isEmpty())
        return;
    QApplication::processEvents();
    EXPECT_TRUE(window->grab().save(QDir(folder).filePath(QString::fromUtf8(name))));
}

TEST(ReadableWindows, NodeTypeDialog) {
    TForm_NetworkSelect dialog;
    dialog.show();
    expectReadable(&dialog, "node-type dialog");
}

TEST(ReadableWindows, ProgressDialog) {
    TForm_DownloadProgress dialog;
    dialog.show();
    dialog.CGauge_Progress->setValue(42);
    expectReadable(&dialog, "progress dialog");
}

TEST(ReadableWindows, AboutBox) {
    TAboutBox about;
    about.show();
    expectReadable(&about, "About box");
}

// With a font no larger than the design's, a window keeps the design's pixels, and its texts
// still show in full.
TEST(ReadableWindows, AtTheDesignFontTheDesignsPixels) {
    const QFont saved = QApplication::font();
    QFont small(QStringLiteral("DejaVu Sans"));
    small.setPixelSize(9);
    QApplication::setFont(small);
    ASSERT_LE(QFontMetrics(small).height(), 13);
    {
        TForm_NetworkSelect select;
        TForm_DownloadProgress progress;
        TForm_FW_Download download;
        TAboutBox about;
        struct Case {
            QWidget* window;
            QSize design;
        };
        for (const Case& c : {Case{&select, {318, 128}}, Case{&progress, {352, 132}},
                              Case{&download, {635, 465}}, Case{&about, {226, 221}}}) {
            const std::string name = c.window->objectName().toStdString();
            EXPECT_EQ(c.window->size(), c.design) << name;
            c.window->show();
            expectReadable(c.window, name);
            c.window->close();
        }
    }
    QApplication::setFont(saved);
}

// Whether or not a driver library is found, each node type's window shows its own texts.
class ReadableMainWindow : public testing::TestWithParam<TNodeType> {};

TEST_P(ReadableMainWindow, AsShown) {
    TForm_FW_Download_Main window;
    window.NodeType = GetParam();
    window.show();
    expectReadable(&window, "main window");
}

INSTANTIATE_TEST_SUITE_P(NodeTypes, ReadableMainWindow,
                         testing::Values(NodeTypeDeviceNet, NodeTypeCANopen), [](const auto& info) {
                             return info.param == NodeTypeDeviceNet ? "DeviceNet" : "CANopen";
                         });

// The VARNIX module listed in the main window, its configuration window, and its sector
// table in the download window, on both pages.
TEST(ReadableWindows, VarnixModuleWindows) {
    RecordingSleep sleeps;
    SimulatedVarnix simulated;

    TForm_FW_Download_Main window;
    window.NodeType = NodeTypeVARNIX;
    window.show();
    expectReadable(&window, "main window before network access");
    TStringGrid* grid = window.AdvStringGrid_NodesOnline;
    window.Button_NetworkStart->click();
    ASSERT_TRUE(ProcessEventsUntil([&] { return grid->Cell(0, 1) == "1"; }));
    ASSERT_EQ(grid->Cell(6, 1), "VARNIX Interface Module");
    expectReadable(&window, "main window with the module");
    saveScreenshot(&window, "main-window.png");

    {
        OnShown<QDialog> configuration([](QDialog* dialog) {
            expectReadable(dialog, "VARNIX configuration");
            dialog->reject();
        });
        window.Configuration2->trigger();
        EXPECT_TRUE(configuration.Done());
    }

    ScriptedMessageBoxes boxes;
    boxes.ExpectSystem("The module is not currently in the download mode.\r\n"
                       "Entering Download mode will stop current Node Application Firmware!\r\n"
                       "Make sure the Node is in a safe state!\r\n"
                       "Enter download mode?\r\n",
                       "Warning", IDYES);
    bool walked = false;
    OnShown<TForm_FW_Download> download([&](TForm_FW_Download* form) {
        form->Edit_Password->setText("1A2B");
        form->PageControl1->setCurrentWidget(form->TabSheet_Advanced);
        form->Button_Retrieve->click();
        EXPECT_EQ(form->AdvStringGrid_Modules->Cell(4, 1), "VARNIX USB/RS-232 boot loader");
        expectReadable(form, "download window, advanced page");
        saveScreenshot(form, "download-window.png");
        form->PageControl1->setCurrentWidget(form->TabSheet_Standard);
        expectReadable(form, "download window, standard page");
        walked = true;
        form->close();
    });
    grid->DblClickCell(1, 2);
    EXPECT_TRUE(walked);
    EXPECT_EQ(boxes.Pending(), 0u);
    window.close();
}

} // namespace
