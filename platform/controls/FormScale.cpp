#include "FormScale.h"

#include <QFont>
#include <QFontMetricsF>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace {

// Scaled design pixels are rounded up, so a factor that is 1 up to rounding errors keeps the
// design's pixels.
int scaled(int designPixels, double factor) {
    return static_cast<int>(std::ceil(designPixels * factor - 1e-6));
}

} // namespace

FormScale::FormScale(const QFont& font)
    : horizontal_(std::max(1.0, AverageCharWidth(font) / DesignCharWidth)),
      vertical_(std::max(1.0, LineHeight(font) / DesignLineHeight)) {}

FormScale FormScale::Of(const QWidget* window) {
    return FormScale(window->font());
}

int FormScale::X(int designPixels) const {
    return scaled(designPixels, horizontal_);
}

int FormScale::Y(int designPixels) const {
    return scaled(designPixels, vertical_);
}

double FormScale::AverageCharWidth(const QFont& font) {
    static const QString letters =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    return QFontMetricsF(font).horizontalAdvance(letters) / letters.size();
}

double FormScale::LineHeight(const QFont& font) {
    return QFontMetricsF(font).height();
}

void FixFormSize(QWidget* window, QSize size) {
    window->setFixedSize(size.expandedTo(window->minimumSizeHint()));
}

void GrowFormToFit(QWidget* window) {
    // Layouts keep their controls' size hints; let them ask again.
    for (QWidget* child : window->findChildren<QWidget*>())
        child->updateGeometry();
    QSize needed = window->size().expandedTo(window->minimumSizeHint());
    if (needed != window->size())
        window->setFixedSize(needed);
}
