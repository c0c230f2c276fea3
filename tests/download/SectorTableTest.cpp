#include "Application.h"
#include "DownloadWindowFixture.h"

#include <QPushButton>
#include <QStatusBar>

namespace {

using Row = std::vector<std::string>;
using SectorTableTest = DownloadWindowTest;

const QColor Red(255, 0, 0), Lime(0, 255, 0), Black(0, 0, 0);

TEST_F(SectorTableTest, RetrievalFillsBothGridsInTheNodesOrder) {
    node.inDownloadMode = 1;
    node.sectors[3].descriptionOk = false;
    window.Button_RetrieveClick();

    EXPECT_EQ(node.Calls(), (std::vector<std::string>{
                                "IsInDownloadMode", "GetSectorCount", "GetSectorDescription(0)",
                                "GetSectorSize(0)", "ChecksumOk(0)", "GetSectorDescription(1)",
                                "GetSectorSize(1)", "GetSectorDescription(2)", "GetSectorSize(2)",
                                "ChecksumOk(2)", "GetSectorDescription(3)", "GetBootSector"}));
    const TStringGrid* modules = window.AdvStringGrid_Modules;
    const TStringGrid* standard = window.AdvStringGrid_Standard;
    ASSERT_EQ(modules->RowCount(), 5);
    ASSERT_EQ(standard->RowCount(), 4);
    EXPECT_EQ(RowTexts(modules, 1),
              (Row{"0", "01F000", "<ok>", "Boot", "Loader", "Jan 02 2024", "10:11:12", "2.17"}));
    EXPECT_EQ(RowTexts(modules, 2), (Row{"1", "000800", "<empty>", "", "", "", "", ""}));
    EXPECT_EQ(RowTexts(modules, 3), (Row{"2", "01F000", "<checksum error>", "App", "Application",
                                         "Mar 04 2024", "13:14:15", "1.3"}));
    EXPECT_EQ(RowTexts(modules, 4),
              (Row{"3", "Error", "Error", "Error", "Error", "Error", "Error", "Error"}));
    // The standard grid shows sectors from 1 on; a failed description leaves its row alone.
    EXPECT_EQ(RowTexts(standard, 1), RowTexts(modules, 2));
    EXPECT_EQ(RowTexts(standard, 2), RowTexts(modules, 3));
    EXPECT_EQ(RowTexts(standard, 3), (Row{"3", "", "", "", "", "", "", ""}));

    EXPECT_EQ(window.SectorTableValid, 1u);
    EXPECT_EQ(window.BootSector, 0u);
    EXPECT_EQ((std::vector<int>(window.SectorStatus, window.SectorStatus + 3)),
              (std::vector<int>{1, 0, 2}));
    for (QPushButton* b : {window.Button_EraseModule, window.Button_Upgrade,
                           window.Button_MakeActive, window.Button_Execute})
        EXPECT_TRUE(b->isEnabled());

    // Every node call of the retrieval ran under the hourglass; the cursor is back after.
    auto cursors = node.Cursors();
    for (size_t i = 2; i < cursors.size(); ++i)
        EXPECT_EQ(cursors[i], crHourGlass) << node.Calls()[i];
    EXPECT_EQ(Application->ScreenCursor(), crDefault);
}

TEST_F(SectorTableTest, FailedSizeAndChecksumQueriesShowUnknownAndOk) {
    node.sectors[0].sizeOk = false;
    node.sectors[2].checksumCallOk = false;
    window.RetrieveSectorTable();
    EXPECT_EQ(window.AdvStringGrid_Modules->Cell(1, 1), "<unknown>");
    EXPECT_EQ(window.AdvStringGrid_Modules->Cell(2, 1), "<ok>");
    EXPECT_EQ(window.AdvStringGrid_Modules->Cell(2, 3), "<ok>");
    EXPECT_EQ(window.SectorStatus[2], 1u);
    // The row keeps its "<ok>"; the status line says that the check was not made.
    EXPECT_EQ(window.StatusLine->currentMessage().toStdString(),
              "The checksum of sector #2 could not be checked.");
    node.sectors[0].checksumCallOk = false;
    window.RetrieveSectorTable();
    EXPECT_EQ(window.StatusLine->currentMessage().toStdString(),
              "The checksums of sectors #0, 2 could not be checked.");
}

TEST_F(SectorTableTest, FailedCountChangesNothing) {
    node.countOk = false;
    window.RetrieveSectorTable();
    EXPECT_EQ(node.Calls(), (std::vector<std::string>{"GetSectorCount"}));
    EXPECT_EQ(window.AdvStringGrid_Modules->RowCount(), 2);
    EXPECT_EQ(window.AdvStringGrid_Standard->RowCount(), 3);
    EXPECT_EQ(window.SectorTableValid, 0u);
}

TEST_F(SectorTableTest, FailedBootSectorLeavesTableInvalidAndUncoloured) {
    node.bootOk = false;
    window.BootSector = 3;
    window.RetrieveSectorTable();
    EXPECT_EQ(window.SectorTableValid, 0u);
    EXPECT_EQ(window.BootSector, 3u);
    EXPECT_EQ(ModulesColours(3), Colours{});
    EXPECT_EQ(Application->ScreenCursor(), crDefault);
}

TEST_F(SectorTableTest, ChecksumErrorIsRedBeforeBootSectorIsLime) {
    EXPECT_EQ(ModulesColours(1), Colours{}); // nothing before a completed retrieval
    node.bootSector = 2;                     // the sector whose checksum fails
    window.RetrieveSectorTable();
    EXPECT_EQ(ModulesColours(3), (Colours{Red, Black}));
    EXPECT_EQ(StandardColours(2), (Colours{Red, Black}));
    EXPECT_EQ(ModulesColours(1), Colours{});

    node.bootSector = 3;
    window.RetrieveSectorTable();
    EXPECT_EQ(ModulesColours(4), (Colours{Lime, Black}));
    EXPECT_EQ(StandardColours(3), (Colours{Lime, Black}));
    EXPECT_EQ(ModulesColours(3), (Colours{Red, Black}));
    EXPECT_EQ(ModulesColours(0), Colours{}); // the header row
}

TEST_F(SectorTableTest, OneSectorLeavesStandardGridWithHeaderOnly) {
    node.sectors.resize(1);
    window.RetrieveSectorTable();
    EXPECT_EQ(window.AdvStringGrid_Modules->RowCount(), 2);
    EXPECT_EQ(window.AdvStringGrid_Standard->RowCount(), 1);
}

TEST_F(SectorTableTest, MoreThanEightSectorsShowsAndReadsTheFirstEight) {
    node.sectors.resize(12, node.sectors[3]);
    node.bootSector = 9;
    window.RetrieveSectorTable();
    EXPECT_EQ(window.AdvStringGrid_Modules->RowCount(), 9);
    EXPECT_EQ(window.AdvStringGrid_Standard->RowCount(), 8);
    for (const auto& call : node.Calls())
        EXPECT_EQ(call.find("(8)"), std::string::npos) << call;
    for (int row = 1; row < 9; ++row)
        EXPECT_EQ(ModulesColours(row), row == 3 ? (Colours{Red, Black}) : Colours{});
}

TEST_F(SectorTableTest, TextsWithoutTerminatingZeroStayWithinTheirField) {
    auto& d = node.sectors[0].description;
    std::memset(d.Name, 'N', sizeof d.Name);
    std::memset(d.Description, 'D', sizeof d.Description);
    window.RetrieveSectorTable();
    EXPECT_EQ(window.AdvStringGrid_Modules->Cell(3, 1), std::string(16, 'N'));
    EXPECT_EQ(window.AdvStringGrid_Modules->Cell(4, 1), std::string(32, 'D'));
}

TEST_F(SectorTableTest, OnlySectorsReadDuringThisShowingCanBeSelected) {
    std::uint8_t sector = 99;
    EXPECT_FALSE(window.SelectedSector(&sector));
    node.sectors[3].descriptionOk = false;
    window.RetrieveSectorTable();
    EXPECT_TRUE(window.SelectedSector(&sector));
    EXPECT_EQ(sector, 0u);
    window.AdvStringGrid_Modules->SetRow(4); // sector 3: its description could not be read
    EXPECT_FALSE(window.SelectedSector(&sector));
    window.AdvStringGrid_Modules->SetRow(3);
    EXPECT_TRUE(window.SelectedSector(&sector));
    EXPECT_EQ(sector, 2u);

    node.sectors.resize(2); // another, smaller table: sector 2 is gone
    window.RetrieveSectorTable();
    window.AdvStringGrid_Modules->SetRow(3);
    EXPECT_TRUE(window.SelectedSector(&sector));
    EXPECT_EQ(sector, 1u); // the row was clamped to the last one
}

} // namespace
