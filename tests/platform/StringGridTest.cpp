#include "StringGrid.h"

#include "CellColours.h"
#include "FormScale.h"
#include "ReadableTexts.h"

#include <QAbstractItemModel>
#include <QHeaderView>
#include <QVBoxLayout>
#include <gtest/gtest.h>
#include <vector>

namespace {

TEST(StringGrid, CellsHeaderAndResizeKeepWhatFits) {
    TStringGrid grid;
    grid.SetColCount(3);
    grid.SetRowCount(3);
    grid.SetCell(0, 0, "#");
    grid.SetCell(1, 2, "x");
    EXPECT_EQ(grid.model()->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), "#");
    EXPECT_EQ(grid.model()->rowCount(), 2);
    EXPECT_EQ(grid.Cell(1, 2), "x");

    grid.SetColWidth(1, 75);
    grid.SetRowCount(2);
    EXPECT_EQ(grid.ColWidth(1), 75);
    EXPECT_EQ(grid.Cell(1, 2), ""); // the row is gone
    grid.SetRowCount(3);
    EXPECT_EQ(grid.Cell(1, 2), ""); // and comes back empty
    EXPECT_EQ(grid.Cell(0, 0), "#");
    EXPECT_EQ(grid.Cell(7, 7), ""); // outside: no crash
    grid.SetCell(7, 7, "ignored");
}

TEST(StringGrid, CurrentRowStartsAtFirstDataRowAndStaysInside) {
    TStringGrid grid;
    grid.SetColCount(2);
    grid.SetRowCount(4);
    EXPECT_EQ(grid.Row(), 1);
    grid.SetRow(3);
    EXPECT_EQ(grid.Row(), 3);
    grid.SetRowCount(3);
    EXPECT_EQ(grid.Row(), 2);
    grid.SetRow(0);
    EXPECT_EQ(grid.Row(), 1);
}

TEST(StringGrid, ColourCallbackAndClicksSeeGridRows) {
    TStringGrid grid;
    grid.SetColCount(3);
    grid.SetRowCount(3);
    grid.SetFixedCols(1);
    grid.OnGetCellColor = [](int row, int, QColor& brush, QColor& font) {
        if (row == 2) {
            brush = Qt::red;
            font = Qt::black;
        }
    };
    auto* model = grid.model();
    EXPECT_EQ(model->data(model->index(1, 2), Qt::BackgroundRole).value<QColor>(), QColor(Qt::red));
    EXPECT_FALSE(model->data(model->index(0, 2), Qt::BackgroundRole).isValid());

    std::vector<std::pair<int, int>> clicks, doubleClicks;
    grid.OnClickCell = [&](int row, int col) {
        clicks.emplace_back(row, col);
    };
    grid.OnDblClickCell = [&](int row, int col) {
        doubleClicks.emplace_back(row, col);
    };
    grid.ClickCell(2, 1);
    grid.DblClickCell(1, 0);
    grid.ClickCell(5, 0); // no such row
    EXPECT_EQ(clicks, (std::vector<std::pair<int, int>>{{2, 1}}));
    EXPECT_EQ(doubleClicks, (std::vector<std::pair<int, int>>{{1, 0}}));
    EXPECT_EQ(grid.Row(), 1);
}

} // namespace

namespace {

// A grid of four columns, two of them fixed, in a window of its own: the callback colours
// row 2 red on black; row 3 is the current row.
class StringGridLook : public testing::Test {
public:
    void SetUp() override {
        grid.SetColCount(4);
        grid.SetRowCount(4);
        grid.SetFixedCols(2);
        grid.setFocusPolicy(Qt::NoFocus);
        grid.OnGetCellColor = [](int row, int, QColor& brush, QColor& font) {
            if (row == 2) {
                brush = Qt::red;
                font = Qt::black;
            }
        };
        for (int col = 0; col < 4; ++col)
            grid.SetCell(col, 2, "x");
        grid.SetRow(3);
        grid.QWidget::resize(400, 200);
        grid.show();
    }
    TStringGrid grid;
};

TEST_F(StringGridLook, CallbackColoursEveryColumnTheFixedOnesIncluded) {
    auto* model = grid.model();
    for (int col = 0; col < 4; ++col) {
        SCOPED_TRACE("column " + std::to_string(col));
        EXPECT_EQ(model->data(model->index(1, col), Qt::BackgroundRole).value<QColor>(),
                  QColor(Qt::red));
        EXPECT_EQ(model->data(model->index(1, col), Qt::ForegroundRole).value<QColor>(),
                  QColor(Qt::black));
    }
    const QImage picture = GridPicture(&grid);
    const QColor fixed = grid.palette().color(QPalette::Button);
    const QColor plain = grid.palette().color(QPalette::Base);
    for (int col = 0; col < 4; ++col) {
        SCOPED_TRACE("column " + std::to_string(col));
        EXPECT_EQ(CellColour(picture, &grid, 2, col), QColor(Qt::red));
        // Uncoloured: fixed cells look like the header, the others like the grid.
        EXPECT_EQ(CellColour(picture, &grid, 1, col), col < 2 ? fixed : plain);
    }
}

TEST_F(StringGridLook, SelectionIsDrawnInTheActiveHighlightEvenWithoutFocus) {
    DistinctHighlights palette;
    EXPECT_EQ(grid.SelectionColor(), DistinctHighlights::ActiveHighlight);
    const QImage picture = GridPicture(&grid);
    for (int col = 0; col < 4; ++col)
        EXPECT_EQ(CellColour(picture, &grid, 3, col), DistinctHighlights::ActiveHighlight)
            << "column " << col;
}

TEST(StringGridColumns, ColumnWidensForLongerTextsAndNeverNarrowsByItself) {
    TStringGrid grid;
    grid.SetColCount(3);
    grid.SetRowCount(3);
    int widened = 0;
    QObject::connect(&grid, &TStringGrid::ColumnsWidened, [&] { ++widened; });
    grid.SetColWidth(1, 40);
    EXPECT_EQ(grid.ColWidth(1), 40); // no text yet

    grid.SetCell(1, 0, "Serial Number");
    const int header = grid.ColWidthForText("Serial Number");
    EXPECT_GT(header, 40);
    EXPECT_EQ(grid.ColWidth(1), header);
    grid.SetCell(1, 1, "1");
    EXPECT_EQ(grid.ColWidth(1), header);
    EXPECT_EQ(widened, 1);

    grid.SetCell(1, 2, "VARNIX Interface Module");
    const int cell = grid.ColWidthForText("VARNIX Interface Module");
    EXPECT_GT(cell, header);
    EXPECT_EQ(grid.ColWidth(1), cell);
    EXPECT_EQ(widened, 2);
    grid.SetCell(1, 2, "");
    EXPECT_EQ(grid.ColWidth(1), cell);

    // A width set by the program leaves room for the column's texts; one set by the user
    // (dragging the column's edge) stands until a longer text comes.
    grid.SetColWidth(1, 30);
    EXPECT_EQ(grid.ColWidth(1), header);
    grid.SetColWidth(1, 300);
    EXPECT_EQ(grid.ColWidth(1), 300);
    grid.horizontalHeader()->resizeSection(1, 40);
    grid.SetCell(1, 1, "2");
    EXPECT_EQ(grid.ColWidth(1), 40);
    EXPECT_EQ(widened, 2);
}

// A window that grows when its grid widens shows every text of the grid in full.
TEST(StringGridColumns, WindowGrowingForItsGridShowsEveryText) {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* grid = new TStringGrid(&window);
    grid->SetColCount(3);
    grid->SetRowCount(3);
    layout->addWidget(grid);
    FixFormSize(&window, QSize(120, 150));
    QObject::connect(grid, &TStringGrid::ColumnsWidened, [&] { GrowFormToFit(&window); });
    window.show();
    const char* const texts[3][3] = {{"#", "Product Name", "Serial Number"},
                                     {"1", "VARNIX Interface Module", "100234"},
                                     {"127", "Another rather long product name", "4294967295"}};
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 3; ++col)
            grid->SetCell(col, row, texts[row][col]);
    const std::vector<std::string> problems = UnreadableTexts(&window);
    EXPECT_TRUE(problems.empty()) << Lines(problems);
    EXPECT_GE(grid->width(), grid->minimumSizeHint().width());
}

} // namespace
