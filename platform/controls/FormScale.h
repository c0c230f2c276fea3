#pragma once

#include <QMargins>
#include <QSize>

class QFont;
class QWidget;

// The windows are drawn in pixels for an 8-point sans-serif system font at 96 dpi: its
// letters A-Z and a-z average DesignCharWidth pixels across and its lines are
// DesignLineHeight pixels high (the 6 x 13 dialog units of that font). A window whose texts
// are set in another font multiplies its design pixels by the ratio of that font's metrics
// to the design font's, across by the average letter width and down by the line height,
// never by less than 1: the larger fonts of other desktops get a proportionally larger
// window, and every text keeps the room the design gave it.
class FormScale {
public:
    static constexpr double DesignCharWidth = 6.0;
    static constexpr double DesignLineHeight = 13.0;

    // The design itself, 1:1.
    FormScale() = default;
    // For texts set in font.
    explicit FormScale(const QFont& font);
    // For the texts of a window (its font).
    static FormScale Of(const QWidget* window);

    double Horizontal() const { return horizontal_; }
    double Vertical() const { return vertical_; }

    // Design pixels across and down, scaled and rounded up.
    int X(int designPixels) const;
    int Y(int designPixels) const;
    QSize Size(int designWidth, int designHeight) const {
        return {X(designWidth), Y(designHeight)};
    }
    QMargins Margins(int left, int top, int right, int bottom) const {
        return {X(left), Y(top), X(right), Y(bottom)};
    }

    // The average advance of the letters A-Z and a-z in font, in pixels.
    static double AverageCharWidth(const QFont& font);
    // The height of a line of font (ascent and descent), in pixels.
    static double LineHeight(const QFont& font);

private:
    double horizontal_ = 1.0;
    double vertical_ = 1.0;
};

// Fixes the size of a window: size (its design size, scaled), or what its layout needs
// where that is more, so that no control is squeezed below the room its text needs.
void FixFormSize(QWidget* window, QSize size);

// Lets a window of fixed size grow (never shrink) to what its layout needs now, e.g. once a
// grid's column has widened for a longer text.
void GrowFormToFit(QWidget* window);
