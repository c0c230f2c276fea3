#include "AboutBox.h"
#include "Form_FW_Download.h"
#include "MainWindowFixture.h"
#include "Thread_NodesOnline.h"

#include <QLineEdit>
#include <QMouseEvent>
#include <QStatusBar>

namespace {

using Texts = std::vector<std::string>;

class NodesOnlineTest : public MainWindowTest {
public:
    void SetUp() override { Show(NodeTypeDeviceNet); }
    // Network access on, with nodes 5 and 10 present and listed.
    void StartWithTwoNodes() {
        node->Online[5] = 1;
        node->Online[10] = 1;
        window.Button_NetworkStart->click();
        ASSERT_TRUE(ProcessEventsUntil(
            [&] { return window.AdvStringGrid_NodesOnline->Cell(0, 2) == "10"; }));
    }
};

TEST_F(NodesOnlineTest, WindowAsShown) {
    EXPECT_EQ(window.windowTitle(), "Zandrel");
    EXPECT_EQ(window.StatusPanel->text(), "Status: Offline");
    EXPECT_EQ(window.AdvStringGrid_NodesOnline->RowCount(), 65);
    EXPECT_EQ(window.AdvStringGrid_NodesOnline->ColCount(), 7);
    EXPECT_EQ(window.Image_Interface->toolTip(), "Right Click for more options");
    EXPECT_TRUE(window.Button_NetworkStart->isEnabled());
    EXPECT_FALSE(window.Button_Browse->isEnabled());
    EXPECT_FALSE(window.Button_NetworkStop->isEnabled());
    EXPECT_FALSE(window.Button_DownloadFirmware->isEnabled());
    EXPECT_FALSE(window.Timer_Browse->isActive());
}

TEST_F(NodesOnlineTest, PresentNodesFillPackedRowsInAddressOrder) {
    StartWithTwoNodes();
    EXPECT_EQ(Row(1), (Texts{"5", "Vendor", "12", "P5", "1.2", "S5", "Node 5"}));
    EXPECT_EQ(Row(2), (Texts{"10", "Vendor", "12", "P10", "1.2", "S10", "Node 10"}));
    EXPECT_EQ(Row(3), Texts(7, ""));
    EXPECT_EQ(window.NodeRowMap[1], 5u);
    EXPECT_EQ(window.NodeRowMap[2], 10u);
    for (int row = 3; row <= 64; ++row)
        EXPECT_EQ(window.NodeRowMap[static_cast<size_t>(row)], 255u);
    EXPECT_TRUE(window.Button_DownloadFirmware->isEnabled());
    EXPECT_FALSE(window.Button_NetworkStart->isEnabled());
    EXPECT_TRUE(window.Button_NetworkStop->isEnabled());
}

TEST_F(NodesOnlineTest, ClicksOnHeaderOrBlankRowsSelectNothing) {
    StartWithTwoNodes();
    window.AdvStringGrid_NodesOnlineClickCell(0, 1);
    EXPECT_FALSE(window.Button_DownloadFirmware->isEnabled());
    window.AdvStringGrid_NodesOnline->ClickCell(2, 3);
    EXPECT_TRUE(window.Button_DownloadFirmware->isEnabled());
    window.AdvStringGrid_NodesOnline->ClickCell(3, 0);
    EXPECT_FALSE(window.Button_DownloadFirmware->isEnabled());
    window.AdvStringGrid_NodesOnline->DblClickCell(3, 0); // nothing opens
    EXPECT_EQ(window.Form_FW_Download, nullptr);
}

TEST_F(NodesOnlineTest, DoubleClickOpensTheDownloadWindowForTheRowsNodeAndEndsTheBrowse) {
    StartWithTwoNodes();
    ASSERT_TRUE(window.Timer_Browse->isActive());
    ASSERT_FALSE(window.Button_Browse->isEnabled());
    node->ClearCalls();
    int nodeShown = -1;
    bool browseEnded = false;
    OnShown<TForm_FW_Download> watch1([&](TForm_FW_Download* w) {
        nodeShown = w->StaticText_NodeNumber->text().toInt();
        browseEnded = !window.Timer_Browse->isActive() && window.Button_Browse->isEnabled();
        w->close();
    });
    window.AdvStringGrid_NodesOnline->DblClickCell(2, 4);
    EXPECT_EQ(nodeShown, 10);
    EXPECT_EQ(node->Node, 10);
    EXPECT_TRUE(browseEnded);
    EXPECT_EQ(node->Calls(), (std::vector<std::string>{"StopBrowse"}));
    ASSERT_NE(window.Form_FW_Download, nullptr);
    EXPECT_EQ(window.Form_FW_Download->Downloader, node);

    // The same window serves the next opening, through the button this time.
    TForm_FW_Download* first = window.Form_FW_Download.get();
    window.AdvStringGrid_NodesOnline->SetRow(1);
    OnShown<TForm_FW_Download> watch2([](TForm_FW_Download* w) { w->close(); });
    window.Button_DownloadFirmware->click();
    EXPECT_EQ(window.Form_FW_Download.get(), first);
    EXPECT_EQ(node->Node, 5);
}

TEST_F(NodesOnlineTest, BrowseTimeFromTheDownloaderOrFifteenSeconds) {
    node->browseTime = 5000;
    window.Button_NetworkStart->click();
    EXPECT_EQ(window.Timer_Browse->interval(), 5000);
    EXPECT_TRUE(window.Timer_Browse->isActive());
    window.Button_NetworkStop->click();

    node->browseTimeOk = false;
    window.Button_NetworkStart->click();
    EXPECT_EQ(window.Timer_Browse->interval(), 15000);
}

TEST_F(NodesOnlineTest, BrowseRunsUntilTheTimerFires) {
    window.Button_NetworkStart->click();
    window.Timer_BrowseTimer(); // the browse time is over
    EXPECT_FALSE(window.Timer_Browse->isActive());
    EXPECT_TRUE(window.Button_Browse->isEnabled());
    EXPECT_EQ(node->CountCalls("StopBrowse"), 1u);

    window.Button_Browse->click();
    EXPECT_EQ(node->CountCalls("StartBrowse"), 1u);
    EXPECT_TRUE(window.Timer_Browse->isActive());
    EXPECT_EQ(window.Timer_Browse->interval(), 5000);
    EXPECT_FALSE(window.Button_Browse->isEnabled());
}

TEST_F(NodesOnlineTest, FailedStartChangesNothing) {
    node->goOnlineOk = false;
    window.Button_NetworkStart->click();
    EXPECT_TRUE(window.Button_NetworkStart->isEnabled());
    EXPECT_EQ(window.NodesOnlineThread, nullptr);
    EXPECT_FALSE(window.Timer_Browse->isActive());
}

TEST_F(NodesOnlineTest, StopEndsTheThreadBeforeGoingOffline) {
    StartWithTwoNodes();
    bool threadGone = false;
    int pollsAtOffline = -1;
    node->onGoOffline = [&] {
        threadGone = window.NodesOnlineThread == nullptr;
        pollsAtOffline = node->polls;
    };
    window.Button_NetworkStop->click();
    EXPECT_TRUE(threadGone);
    EXPECT_EQ(node->polls, pollsAtOffline);
    EXPECT_TRUE(window.Button_NetworkStart->isEnabled());
    EXPECT_FALSE(window.Button_NetworkStop->isEnabled());
    EXPECT_FALSE(window.Button_DownloadFirmware->isEnabled());
    EXPECT_FALSE(window.Button_Browse->isEnabled());
    EXPECT_EQ(Row(1)[0], "5"); // filled once more from the tables GoOffline left
}

TEST_F(NodesOnlineTest, StopWhileFillsAreRequestedReturns) {
    node->alwaysChanged = true; // every poll asks the GUI thread for a fill
    window.Button_NetworkStart->click();
    ASSERT_TRUE(ProcessEventsUntil([&] { return node->polls >= 3; }));
    window.Button_NetworkStop->click(); // with fills pending: must not wait forever
    EXPECT_EQ(window.NodesOnlineThread, nullptr);
}

TEST_F(NodesOnlineTest, ClosingTheWindowGoesOfflineOnceEvenIfNeverStarted) {
    window.close();
    EXPECT_EQ(node->CountCalls("GoOffline"), 1u);
    EXPECT_TRUE(window.Button_NetworkStart->isEnabled());
}

TEST_F(NodesOnlineTest, MoreThanSixtyFourNodesEachGetARow) {
    for (int n = 0; n < 100; ++n)
        node->Online[n] = 1;
    ASSERT_EQ(window.FillNodesOnlineGrid(), 1);
    EXPECT_EQ(window.AdvStringGrid_NodesOnline->RowCount(), 101);
    EXPECT_EQ(window.NodeRowMap[100], 99u);
    EXPECT_EQ(Row(100)[0], "99");
    EXPECT_TRUE(window.NodePresentInRow(100));

    for (int n = 0; n < 100; ++n)
        node->Online[n] = n == 3;
    window.FillNodesOnlineGrid();
    EXPECT_EQ(window.AdvStringGrid_NodesOnline->RowCount(), 65);
    EXPECT_EQ(window.NodeRowMap[100], 255u);
    EXPECT_FALSE(window.NodePresentInRow(2));
}

TEST_F(NodesOnlineTest, NoNodesLeavesTheDownloadButtonAsItWas) {
    window.Button_DownloadFirmware->setEnabled(true);
    window.FillNodesOnlineGrid();
    EXPECT_TRUE(window.Button_DownloadFirmware->isEnabled());
    EXPECT_EQ(Row(1), Texts(7, ""));
}

TEST_F(NodesOnlineTest, AboutIsOneBoxAndVersionInformationAsksTheDriver) {
    TAboutBox about;
    window.AboutBox = &about;
    EXPECT_EQ(about.windowTitle(), "About");
    EXPECT_EQ(about.VersionNumber->text(), "2.04");
    EXPECT_EQ(about.ProductName->text(), "Zandrel");
    EXPECT_TRUE(about.OKButton->isDefault());
    int shown = 0;
    auto closeIt = [&](TAboutBox* box) {
        EXPECT_EQ(box, &about);
        ++shown;
        box->OKButton->click();
    };
    {
        OnShown<TAboutBox> watch(closeIt);
        window.About1->trigger();
    }
    {
        // Clicking the bit-rate value opens it as well.
        OnShown<TAboutBox> watch(closeIt);
        QMouseEvent click(QEvent::MouseButtonRelease, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton,
                          Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(window.StaticText_NetworkBaud, &click);
    }
    EXPECT_EQ(shown, 2);

    window.VersionInfo1->trigger();
    window.VersionInfo2->trigger();
    EXPECT_EQ(node->CountCalls("VersionInformationWindow"), 2u);
}

} // namespace
