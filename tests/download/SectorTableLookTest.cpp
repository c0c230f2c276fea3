// The sector table as drawn: the colour of every cell of a coloured row, the fixed columns
// included, and the selection drawn in the colour the legend shows.

#include "CellColours.h"
#include "DownloadWindowFixture.h"
#include "ReadableTexts.h"

#include <QFrame>
#include <QLineEdit>
#include <QTabWidget>

namespace {

const QColor Red(255, 0, 0), Lime(0, 255, 0);

// The window shown with its advanced page, the table read, and sector 3 (row 4) selected:
// row 1 is the boot sector, row 2 an empty sector, row 3 a sector whose checksum fails.
class SectorTableLook : public DownloadWindowTest {
public:
    void SetUp() override {
        DownloadWindowTest::SetUp();
        node.inDownloadMode = 1;
        window.show();
        window.PageControl1->setCurrentWidget(window.TabSheet_Advanced);
        // Whatever else happens, the grid has no focus.
        window.Edit_Password->setFocus();
        window.Button_RetrieveClick();
        window.AdvStringGrid_Modules->SetRow(4);
    }

    QColor SelectionSquare() {
        auto* square = window.TabSheet_Advanced->findChild<QFrame*>("Shape_CurrentSelection");
        return square ? MiddleColour(square) : QColor();
    }
};

TEST_F(SectorTableLook, RowColoursCoverEveryColumnAndTheSelectionFollowsTheLegend) {
    TStringGrid* grid = window.AdvStringGrid_Modules;
    const QImage picture = GridPicture(grid);
    const QColor fixed = grid->palette().color(QPalette::Button);
    const QColor plain = grid->palette().color(QPalette::Base);
    const QColor selected = grid->palette().color(QPalette::Active, QPalette::Highlight);
    for (int col = 0; col < 8; ++col) {
        SCOPED_TRACE("column " + std::to_string(col));
        EXPECT_EQ(CellColour(picture, grid, 1, col), Lime);
        EXPECT_EQ(CellColour(picture, grid, 2, col), col < 2 ? fixed : plain);
        EXPECT_EQ(CellColour(picture, grid, 3, col), Red);
        EXPECT_EQ(CellColour(picture, grid, 4, col), selected);
    }
    EXPECT_EQ(SelectionSquare(), selected);
    EXPECT_EQ(SelectionSquare(), grid->SelectionColor());

    // The standard page: row 2 shows sector 2.
    window.PageControl1->setCurrentWidget(window.TabSheet_Standard);
    TStringGrid* standard = window.AdvStringGrid_Standard;
    const QImage standardPicture = GridPicture(standard);
    for (int col = 0; col < 8; ++col)
        EXPECT_EQ(CellColour(standardPicture, standard, 2, col), Red) << "column " << col;
}

// The selection and its legend show the active window's highlight, as the palette has it
// when they are drawn: also when the palette changed after the window was made, the window
// is not active and the grid has no focus.
TEST_F(SectorTableLook, SelectionAndLegendShowTheActiveHighlightOfThePaletteAsItIsNow) {
    DistinctHighlights palette;
    TStringGrid* grid = window.AdvStringGrid_Modules;
    EXPECT_EQ(grid->SelectionColor(), DistinctHighlights::ActiveHighlight);
    const QImage picture = GridPicture(grid);
    for (int col = 0; col < 8; ++col)
        EXPECT_EQ(CellColour(picture, grid, 4, col), DistinctHighlights::ActiveHighlight)
            << "column " << col;
    EXPECT_EQ(SelectionSquare(), DistinctHighlights::ActiveHighlight);
}

TEST_F(SectorTableLook, EveryTextShowsInFull) {
    // The table texts, "<checksum error>" among them, fit their columns; the window grew
    // where the columns needed it.
    std::vector<std::string> problems = UnreadableTexts(&window);
    EXPECT_TRUE(problems.empty()) << Lines(problems);
    window.PageControl1->setCurrentWidget(window.TabSheet_Standard);
    problems = UnreadableTexts(&window);
    EXPECT_TRUE(problems.empty()) << Lines(problems);
}

} // namespace
