#pragma once

// What a grid looks like on the screen: the colour each cell is drawn in, and an application
// palette whose active and inactive colours differ, to tell them apart.

#include "StringGrid.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QImage>
#include <QPalette>
#include <map>

// The grid's visible cells as drawn now.
inline QImage GridPicture(TStringGrid* grid) {
    QApplication::processEvents();
    return grid->viewport()->grab().toImage();
}

// The colour most of a cell is drawn in (its background: the text covers less).
inline QColor CellColour(const QImage& picture, const TStringGrid* grid, int row, int col) {
    const QRect cell =
        grid->visualRect(grid->model()->index(row - 1, col)).intersected(picture.rect());
    std::map<QRgb, int> counts;
    for (int y = cell.top(); y <= cell.bottom(); ++y)
        for (int x = cell.left(); x <= cell.right(); ++x)
            ++counts[picture.pixel(x, y)];
    QRgb most = 0;
    int mostCount = 0;
    for (const auto& [colour, count] : counts)
        if (count > mostCount) {
            most = colour;
            mostCount = count;
        }
    return QColor(most);
}

// The colour a widget shows in its middle.
inline QColor MiddleColour(QWidget* widget) {
    QApplication::processEvents();
    const QImage picture = widget->grab().toImage();
    return QColor(picture.pixel(picture.rect().center()));
}

// While it lives, the application's palette highlights in ActiveHighlight in an active
// window and in InactiveHighlight elsewhere.
class DistinctHighlights {
public:
    static constexpr QColor ActiveHighlight{16, 64, 192};
    static constexpr QColor InactiveHighlight{160, 160, 160};

    DistinctHighlights() : saved_(QApplication::palette()) {
        QPalette palette = saved_;
        palette.setColor(QPalette::Active, QPalette::Highlight, ActiveHighlight);
        palette.setColor(QPalette::Inactive, QPalette::Highlight, InactiveHighlight);
        QApplication::setPalette(palette);
        QApplication::processEvents(); // the widgets take the palette from a posted event
    }
    ~DistinctHighlights() {
        QApplication::setPalette(saved_);
        QApplication::processEvents();
    }
    DistinctHighlights(const DistinctHighlights&) = delete;
    DistinctHighlights& operator=(const DistinctHighlights&) = delete;

private:
    QPalette saved_;
};
