#include "Gauge.h"

#include <algorithm>

TGauge::TGauge(QWidget* parent) : QProgressBar(parent) {
    setRange(0, 100);
    setValue(0);
    setTextVisible(true);
    setAlignment(Qt::AlignCenter);
    setStyleSheet(QStringLiteral("QProgressBar { border: 1px solid gray; background: white; }"
                                 "QProgressBar::chunk { background-color: blue; }"));
}

void TGauge::SetProgress(int percent) {
    setValue(std::clamp(percent, 0, 100));
}
