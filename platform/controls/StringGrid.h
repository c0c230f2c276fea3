#pragma once

#include <QColor>
#include <QFont>
#include <QTableView>
#include <functional>
#include <string>
#include <vector>

class StringGridModel;

// A grid of text cells addressed by column and row. Row 0 is the fixed header row, shown
// as the grid's column header; the first FixedCols() columns are fixed as well (drawn like
// headers unless the colour callback gives them colours). Selection takes whole rows, drawn
// in SelectionColor(); Row() is the current row, at least 1. A column widens by itself to
// show a text set into it in full, and never narrows by itself.
class TStringGrid : public QTableView {
    Q_OBJECT
public:
    explicit TStringGrid(QWidget* parent = nullptr);
    ~TStringGrid() override;

    int ColCount() const;
    void SetColCount(int count);
    int RowCount() const;
    void SetRowCount(int count);
    int FixedCols() const { return fixedCols_; }
    void SetFixedCols(int count);

    std::string Cell(int col, int row) const;
    void SetCell(int col, int row, const std::string& text);

    int ColWidth(int col) const { return columnWidth(col); }
    // Sets a column's width, or what the column's texts need where that is more.
    void SetColWidth(int col, int width);
    // The width a column needs to show text in full, in a cell and in the header.
    int ColWidthForText(const std::string& text) const;

    // The colour the selected row is drawn in: the highlight of an active window, also while
    // the grid's window is inactive or another control has the focus.
    QColor SelectionColor() const;

    // Room for every column side by side, and for the vertical scroll bar.
    QSize minimumSizeHint() const override;

    // The current row (the first data row, 1, until another is chosen).
    int Row() const { return row_; }
    void SetRow(int row);

    // Colours of one data cell: the callback may change brush and font colour; an invalid
    // colour keeps the grid's own.
    using CellColorCallback =
        std::function<void(int row, int col, QColor& brush, QColor& fontColor)>;
    CellColorCallback OnGetCellColor;

    // Clicks on a cell, with the cell's row and column.
    std::function<void(int row, int col)> OnClickCell;
    std::function<void(int row, int col)> OnDblClickCell;

    // Redraws every cell, asking the colour callback again.
    void Repaint();

    // Simulates the user clicking a cell (row >= 1), as a click of the mouse would.
    void ClickCell(int row, int col);
    void DblClickCell(int row, int col);

signals:
    // A column widened for a longer text: the grid asks for more room.
    void ColumnsWidened();

protected:
    void initViewItemOption(QStyleOptionViewItem* option) const override;

private:
    friend class StringGridModel;
    void fitColumn(int col, const std::string& text);
    void onCurrentChanged(const QModelIndex& current);
    void resize(int cols, int rows);

    StringGridModel* model_;
    int fixedCols_ = 0;
    int row_ = 1;
};
