#pragma once

#include <QProgressBar>

// A horizontal bar that shows a progress of 0..100 percent in blue.
class TGauge : public QProgressBar {
    Q_OBJECT
public:
    explicit TGauge(QWidget* parent = nullptr);

    int Progress() const { return value(); }
    void SetProgress(int percent);
};
