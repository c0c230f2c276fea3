#include "Application.h"
#include "DownloadWindowFixture.h"
#include "FormScale.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>

namespace {

const std::vector<std::string> Header = {"#",           "Size",       "Status",     "Name",
                                         "Description", "Build Date", "Build Time", "Revision"};

TEST(DownloadWindowCreated, ControlsTextsAndInitialState) {
    TForm_FW_Download window;
    // The design's pixels, scaled for the window's font.
    const FormScale scale = FormScale::Of(&window);
    EXPECT_EQ(window.windowTitle(), "Zandrel");
    EXPECT_EQ(window.size(), scale.Size(635, 465));
    EXPECT_EQ(window.Downloader, nullptr);
    EXPECT_EQ(window.SectorTableValid, 0u);
    EXPECT_EQ(window.PageControl1->currentWidget(), window.TabSheet_Standard);
    EXPECT_EQ(window.PageControl1->tabText(0), "Standard Update");
    EXPECT_EQ(window.PageControl1->tabText(1), "Advanced Update");
    EXPECT_EQ(window.StaticText_NodeNumber->text(), "0");
    EXPECT_EQ(window.Edit_Password->text(), "");
    EXPECT_EQ(window.Panel1->height(), scale.Y(57));

    struct ButtonState {
        QPushButton* button;
        const char* name;
        const char* text;
        bool enabled;
    };
    for (const auto& b : std::vector<ButtonState>{
             {window.Button1, "Button1", "Upgrade Firmware", true},
             {window.Button_Retrieve, "Button_Retrieve", "Retrieve Configuration", true},
             {window.Button_EraseModule, "Button_EraseModule", "Erase Sector", false},
             {window.Button_Upgrade, "Button_Upgrade", "Download/Upgrade", false},
             {window.Button_MakeActive, "Button_MakeActive", "Make Boot Sector", false},
             {window.Button_Execute, "Button_Execute", "Execute Sector", false},
             {window.Button_RebootNode, "Button_RebootNode", "Reboot Node", true}}) {
        EXPECT_EQ(b.button->objectName(), b.name);
        EXPECT_EQ(b.button->text(), b.text);
        EXPECT_EQ(b.button->isEnabled(), b.enabled) << b.name;
        EXPECT_EQ(window.findChild<QPushButton*>(b.name), b.button);
    }
    EXPECT_EQ(window.Button_RebootNode->toolTip(),
              "This will reboot the node using the selected boot sector firmware.");
    EXPECT_EQ(window.MenuItem_SetSerialNumber->text(), "Set Serial Number");
    EXPECT_FALSE(window.MenuItem_SetSerialNumber->isVisible());
    EXPECT_EQ(window.findChild<QAction*>("MenuItem_SetSerialNumber"),
              window.MenuItem_SetSerialNumber);

    EXPECT_EQ(window.OpenDialog_DownloadFile->Title, "Open Hex File");
    EXPECT_EQ(window.OpenDialog_DownloadFile->DefaultExt, "h86");
    EXPECT_EQ(window.OpenDialog_DownloadFile->Filter, "Hex Files  (*.HEX,*.H86)|*.H86;*.HEX");

    struct GridShape {
        TStringGrid* grid;
        const char* name;
        int rows;
    };
    for (const auto& g : {GridShape{window.AdvStringGrid_Modules, "AdvStringGrid_Modules", 2},
                          GridShape{window.AdvStringGrid_Standard, "AdvStringGrid_Standard", 3}}) {
        EXPECT_EQ(g.grid->objectName(), g.name);
        EXPECT_EQ(g.grid->ColCount(), 8);
        EXPECT_EQ(g.grid->FixedCols(), 2);
        EXPECT_EQ(g.grid->RowCount(), g.rows);
        EXPECT_EQ(g.grid->Row(), 1);
        EXPECT_EQ(g.grid->selectionBehavior(), QAbstractItemView::SelectRows);
        EXPECT_EQ(DownloadWindowTest::RowTexts(g.grid, 0), Header);
        EXPECT_EQ(g.grid->ColWidth(0), scale.X(35));
        EXPECT_EQ(g.grid->ColWidth(3), scale.X(75));
        EXPECT_EQ(g.grid->ColWidth(4), scale.X(125));
        EXPECT_EQ(g.grid->ColWidth(5), scale.X(75));
    }
    // The empty sector table: row 1 is sector 0.
    EXPECT_EQ(DownloadWindowTest::RowTexts(window.AdvStringGrid_Modules, 1),
              (std::vector<std::string>{"0", "", "", "", "", "", "", ""}));
}

TEST(DownloadWindowCreated, WithoutDownloaderEveryActionDoesNothing) {
    TForm_FW_Download window;
    window.FormShow();
    EXPECT_EQ(window.EnsureDownloadMode(), 0);
    window.RetrieveSectorTable();
    window.Button_RetrieveClick();
    EXPECT_FALSE(window.Button_EraseModule->isEnabled());
    EXPECT_EQ(window.SectorTableValid, 0u);
    std::uint8_t sector = 9;
    EXPECT_FALSE(window.SelectedSector(&sector));
}

TEST(DownloadWindowCreated, ApplicationHintShowsInStatusLine) {
    TForm_FW_Download window;
    Application->SetHint("This will reboot the node using the selected boot sector firmware.");
    EXPECT_EQ(window.StatusLine->currentMessage(),
              "This will reboot the node using the selected boot sector firmware.");
    Application->SetHint("");
    EXPECT_EQ(window.StatusLine->currentMessage(), "");
}

TEST_F(DownloadWindowTest, ShowSetsNodeNumberAndSerialNumberMenuOnlyForVarnix) {
    EXPECT_EQ(window.StaticText_NodeNumber->text(), "5");
    EXPECT_FALSE(window.MenuItem_SetSerialNumber->isVisible());
    node.NodeType = 3;
    node.Node = 200;
    window.show(); // showing the window runs FormShow
    EXPECT_EQ(window.StaticText_NodeNumber->text(), "200");
    EXPECT_TRUE(window.MenuItem_SetSerialNumber->isVisible());
    window.MenuItem_SetSerialNumber->trigger(); // does nothing, in particular no node call
    EXPECT_TRUE(node.Calls().empty());
}

// The window serves one node after another: shown for the next node it shows nothing of
// the last one's table, on either page, until that node's own table has been read.
TEST_F(DownloadWindowTest, ShowingForTheNextNodeShowsNothingOfTheLastOne) {
    node.inDownloadMode = 1;
    window.Edit_Password->setText("1A2B");
    window.Button_RetrieveClick();
    ASSERT_TRUE(window.Button_Execute->isEnabled());
    ASSERT_EQ(window.SectorTableValid, 1u);

    node.Node = 9;
    node.ClearCalls();
    window.FormShow();
    EXPECT_TRUE(node.Calls().empty()); // nothing read yet from node 9
    EXPECT_EQ(window.StaticText_NodeNumber->text(), "9");
    EXPECT_EQ(window.SectorTableValid, 0u);
    for (QPushButton* b : {window.Button_EraseModule, window.Button_Upgrade,
                           window.Button_MakeActive, window.Button_Execute})
        EXPECT_FALSE(b->isEnabled());
    EXPECT_EQ(window.AdvStringGrid_Modules->RowCount(), 2);
    EXPECT_EQ(RowTexts(window.AdvStringGrid_Modules, 1), std::vector<std::string>(8, ""));
    for (int row = 1; row < window.AdvStringGrid_Standard->RowCount(); ++row)
        EXPECT_EQ(RowTexts(window.AdvStringGrid_Standard, row), std::vector<std::string>(8, ""))
            << "standard row " << row;
    EXPECT_EQ(window.Edit_Password->text(), "1A2B");
    EXPECT_EQ(StandardColours(2), Colours{});
    std::uint8_t sector;
    EXPECT_FALSE(window.SelectedSector(&sector));

    // Node 9's own table fills the grids as before.
    window.Button_RetrieveClick();
    EXPECT_EQ(window.AdvStringGrid_Standard->Cell(3, 2), "App");
    EXPECT_EQ(window.AdvStringGrid_Modules->Cell(3, 1), "Boot");
}

} // namespace
