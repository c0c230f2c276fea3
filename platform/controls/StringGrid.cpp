#include "StringGrid.h"

#include "FormScale.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QHeaderView>
#include <QPalette>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <algorithm>

// Holds every cell, the header row included. Qt's rows are the grid's rows minus one.
class StringGridModel : public QAbstractTableModel {
public:
    explicit StringGridModel(TStringGrid* grid) : QAbstractTableModel(grid), grid_(grid) {}

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : std::max(0, rows_ - 1);
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : cols_;
    }

    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid())
            return {};
        int row = index.row() + 1;
        int col = index.column();
        if (role == Qt::DisplayRole)
            return QString::fromStdString(cell(col, row));
        if (role == Qt::BackgroundRole || role == Qt::ForegroundRole) {
            // The callback colours every cell of a row, the fixed ones included; what it
            // leaves is the grid's own: fixed cells look like the header.
            QColor brush, font;
            if (grid_->OnGetCellColor)
                grid_->OnGetCellColor(row, col, brush, font);
            QColor chosen = role == Qt::BackgroundRole ? brush : font;
            if (chosen.isValid())
                return chosen;
            if (col < grid_->fixedCols_ && role == Qt::BackgroundRole)
                return grid_->palette().brush(QPalette::Button);
            return {};
        }
        return {};
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation == Qt::Horizontal && role == Qt::DisplayRole)
            return QString::fromStdString(cell(section, 0));
        return {};
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        if (!index.isValid())
            return Qt::NoItemFlags;
        return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    }

    std::string cell(int col, int row) const {
        if (col < 0 || row < 0 || col >= cols_ || row >= rows_)
            return {};
        return cells_[static_cast<size_t>(row) * static_cast<size_t>(cols_) +
                      static_cast<size_t>(col)];
    }

    void setCell(int col, int row, const std::string& text) {
        if (col < 0 || row < 0 || col >= cols_ || row >= rows_)
            return;
        cells_[static_cast<size_t>(row) * static_cast<size_t>(cols_) + static_cast<size_t>(col)] =
            text;
        if (row == 0)
            emit headerDataChanged(Qt::Horizontal, col, col);
        else
            emit dataChanged(index(row - 1, col), index(row - 1, col));
    }

    void resize(int cols, int rows) {
        cols = std::max(cols, 1);
        rows = std::max(rows, 1);
        if (cols == cols_ && rows == rows_)
            return;
        std::vector<std::string> cells(static_cast<size_t>(cols) * static_cast<size_t>(rows));
        for (int r = 0; r < std::min(rows, rows_); ++r)
            for (int c = 0; c < std::min(cols, cols_); ++c)
                cells[static_cast<size_t>(r * cols + c)] = cell(c, r);
        beginResetModel();
        cells_ = std::move(cells);
        cols_ = cols;
        rows_ = rows;
        endResetModel();
    }

    void refresh() {
        if (rows_ > 1 && cols_ > 0)
            emit dataChanged(index(0, 0), index(rows_ - 2, cols_ - 1));
    }

    int cols_ = 0;
    int rows_ = 0;

private:
    TStringGrid* grid_;
    std::vector<std::string> cells_;
};

TStringGrid::TStringGrid(QWidget* parent) : QTableView(parent), model_(new StringGridModel(this)) {
    setModel(model_);
    model_->resize(5, 5);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    verticalHeader()->setVisible(false);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 8);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    // The default column width of the design, 64 pixels, scaled for the grid's font.
    horizontalHeader()->setDefaultSectionSize(FormScale::Of(this).X(64));
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setStretchLastSection(false);
    setWordWrap(false);
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { onCurrentChanged(current); });
    connect(this, &QTableView::clicked, this, [this](const QModelIndex& index) {
        if (OnClickCell)
            OnClickCell(index.row() + 1, index.column());
    });
    connect(this, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
        if (OnDblClickCell)
            OnDblClickCell(index.row() + 1, index.column());
    });
}

TStringGrid::~TStringGrid() = default;

int TStringGrid::ColCount() const {
    return model_->cols_;
}

void TStringGrid::SetColCount(int count) {
    resize(count, RowCount());
}

int TStringGrid::RowCount() const {
    return model_->rows_;
}

void TStringGrid::SetRowCount(int count) {
    resize(ColCount(), count);
}

// A new shape keeps the cells that fit, the column widths and the current row where it can.
void TStringGrid::resize(int cols, int rows) {
    QList<int> widths;
    for (int c = 0; c < ColCount(); ++c)
        widths << columnWidth(c);
    model_->resize(cols, rows);
    for (int c = 0; c < std::min<int>(ColCount(), static_cast<int>(widths.size())); ++c)
        setColumnWidth(c, widths[c]);
    SetRow(row_);
}

void TStringGrid::SetFixedCols(int count) {
    fixedCols_ = std::max(0, count);
    Repaint();
}

std::string TStringGrid::Cell(int col, int row) const {
    return model_->cell(col, row);
}

void TStringGrid::SetCell(int col, int row, const std::string& text) {
    model_->setCell(col, row, text);
    if (col >= 0 && col < ColCount() && row >= 0 && row < RowCount())
        fitColumn(col, text);
}

void TStringGrid::SetColWidth(int col, int width) {
    for (int row = 0; row < RowCount(); ++row) {
        const std::string text = Cell(col, row);
        if (!text.empty())
            width = std::max(width, ColWidthForText(text));
    }
    setColumnWidth(col, width);
}

int TStringGrid::ColWidthForText(const std::string& text) const {
    const QString shown = QString::fromStdString(text);
    // A cell's text keeps a margin on either side and the grid line on its right; a
    // header's text the header's margin on either side.
    const int cellMargin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    const int cell = fontMetrics().horizontalAdvance(shown) + 2 * cellMargin + (showGrid() ? 1 : 0);
    const QHeaderView* header = horizontalHeader();
    const int headerMargin = style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
    const int heading = header->fontMetrics().horizontalAdvance(shown) + 2 * headerMargin;
    return std::max(cell, heading);
}

void TStringGrid::fitColumn(int col, const std::string& text) {
    if (text.empty())
        return;
    const int needed = ColWidthForText(text);
    if (needed <= columnWidth(col))
        return;
    setColumnWidth(col, needed);
    updateGeometry();
    emit ColumnsWidened();
}

QColor TStringGrid::SelectionColor() const {
    return palette().color(QPalette::Active, QPalette::Highlight);
}

void TStringGrid::initViewItemOption(QStyleOptionViewItem* option) const {
    QTableView::initViewItemOption(option);
    // The style draws the selection in the active colours only for an active, focused
    // view; the grid's selection keeps them.
    option->state |= QStyle::State_Active;
}

QSize TStringGrid::minimumSizeHint() const {
    int width = 2 * frameWidth() + horizontalHeader()->length();
    if (verticalScrollBarPolicy() != Qt::ScrollBarAlwaysOff)
        width += verticalScrollBar()->sizeHint().width();
    return {width, QTableView::minimumSizeHint().height()};
}

void TStringGrid::SetRow(int row) {
    int last = RowCount() - 1;
    if (row > last)
        row = last;
    if (row < 1)
        row = 1;
    row_ = row;
    if (row_ <= last) {
        QModelIndex index = model_->index(row_ - 1, std::min(fixedCols_, ColCount() - 1));
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect |
                                                     QItemSelectionModel::Rows);
    }
}

void TStringGrid::onCurrentChanged(const QModelIndex& current) {
    if (current.isValid())
        row_ = current.row() + 1;
}

void TStringGrid::Repaint() {
    model_->refresh();
    viewport()->update();
}

void TStringGrid::ClickCell(int row, int col) {
    if (row < 1 || row >= RowCount() || col < 0 || col >= ColCount())
        return;
    SetRow(row);
    emit clicked(model_->index(row - 1, col));
}

void TStringGrid::DblClickCell(int row, int col) {
    if (row < 1 || row >= RowCount() || col < 0 || col >= ColCount())
        return;
    SetRow(row);
    emit doubleClicked(model_->index(row - 1, col));
}
