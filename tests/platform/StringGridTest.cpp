#include "StringGrid.h"

#include <QAbstractItemModel>
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
