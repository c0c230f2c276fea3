#include "HtmlLabel.h"

THtmlLabel::THtmlLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::RichText);
    setWordWrap(true);
    setOpenExternalLinks(false);
}
