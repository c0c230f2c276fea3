#pragma once

#include <QLabel>
#include <string>

// A label that renders a small piece of HTML (bold, colour, line breaks, links).
class THtmlLabel : public QLabel {
    Q_OBJECT
public:
    explicit THtmlLabel(QWidget* parent = nullptr);

    std::string Html() const { return text().toStdString(); }
    void SetHtml(const std::string& html) { setText(QString::fromStdString(html)); }
};
