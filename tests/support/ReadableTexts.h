#pragma once

// Looks through a shown window for texts its controls cannot show in full: a label, button,
// radio button, check box, tab or group-box title narrower or lower than its text, a grid
// header or cell narrower than its text, a grid whose columns run past its visible area, a
// control reaching out of the control that holds it, and labels lying over each other.

#include "StringGrid.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QTabBar>
#include <QTextDocument>
#include <QWidget>
#include <cmath>
#include <string>
#include <vector>

namespace readable_texts {

inline std::string describe(const QWidget* widget, const QString& text) {
    QString name = widget->objectName().isEmpty()
                       ? QString::fromUtf8(widget->metaObject()->className())
                       : widget->objectName();
    return (name + QStringLiteral(" \"") + text + QStringLiteral("\"")).toStdString();
}

inline std::string sizes(QSize needs, QSize has) {
    return "needs " + std::to_string(needs.width()) + "x" + std::to_string(needs.height()) +
           ", has " + std::to_string(has.width()) + "x" + std::to_string(has.height());
}

// The widget's rectangle in the window's coordinates.
inline QRect inWindow(const QWidget* widget, const QWidget* window) {
    return QRect(widget->mapTo(window, QPoint(0, 0)), widget->size());
}

class Finder {
public:
    explicit Finder(const QWidget* window) : window_(window) {}

    void Look() {
        for (QWidget* widget : window_->findChildren<QWidget*>()) {
            if (!widget->isVisible() || insideGrid(widget))
                continue;
            if (auto* label = qobject_cast<QLabel*>(widget))
                look(label);
            else if (auto* button = qobject_cast<QAbstractButton*>(widget))
                look(button);
            else if (auto* bar = qobject_cast<QTabBar*>(widget))
                look(bar);
            else if (auto* box = qobject_cast<QGroupBox*>(widget))
                look(box);
            else if (auto* grid = qobject_cast<TStringGrid*>(widget))
                look(grid);
        }
        for (size_t i = 0; i < labels_.size(); ++i)
            for (size_t j = i + 1; j < labels_.size(); ++j)
                if (labels_[i].second.intersects(labels_[j].second))
                    problems_.push_back(describe(labels_[i].first, labels_[i].first->text()) +
                                        " lies over " +
                                        describe(labels_[j].first, labels_[j].first->text()));
    }

    std::vector<std::string> Problems() const { return problems_; }

private:
    // The parts of a grid (headers, viewport, scroll bars) are looked at with the grid.
    bool insideGrid(const QWidget* widget) const {
        for (const QWidget* w = widget->parentWidget(); w && w != window_; w = w->parentWidget())
            if (qobject_cast<const TStringGrid*>(w))
                return true;
        return false;
    }

    // A control must lie within every control that holds it, or part of it is not drawn.
    void within(const QWidget* widget, const QString& text) {
        const QRect own = inWindow(widget, window_);
        for (const QWidget* holder = widget->parentWidget(); holder;
             holder = holder == window_ ? nullptr : holder->parentWidget()) {
            const QRect room = holder == window_ ? holder->rect() : inWindow(holder, window_);
            if (!room.contains(own)) {
                problems_.push_back(describe(widget, text) + " reaches out of " +
                                    describe(holder, QString()));
                return;
            }
        }
    }

    void check(const QWidget* widget, const QString& text, QSize needs, QSize has) {
        if (needs.width() > has.width() || needs.height() > has.height())
            problems_.push_back(describe(widget, text) + " " + sizes(needs, has));
    }

    void look(QLabel* label) {
        const QString text = label->text();
        if (text.isEmpty())
            return; // a picture
        within(label, text);
        labels_.emplace_back(label, inWindow(label, window_));
        const int margin = label->margin() + std::max(0, label->indent());
        const QRect room = label->contentsRect().adjusted(margin, margin, -margin, -margin);
        const bool rich = label->textFormat() == Qt::RichText ||
                          (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(text));
        QSize needs;
        if (rich || label->wordWrap()) {
            QTextDocument document;
            document.setDefaultFont(label->font());
            document.setDocumentMargin(0);
            if (rich)
                document.setHtml(text);
            else
                document.setPlainText(text);
            document.setTextWidth(room.width());
            needs = QSize(static_cast<int>(std::ceil(document.idealWidth())),
                          static_cast<int>(std::ceil(document.size().height())));
        } else {
            needs = label->fontMetrics().size(Qt::TextShowMnemonic, text);
        }
        check(label, text, needs, room.size());
    }

    void look(QAbstractButton* button) {
        const QString text = button->text();
        if (text.isEmpty())
            return;
        within(button, text);
        QStyleOptionButton option;
        option.initFrom(button);
        option.text = text;
        QStyle::SubElement contents;
        if (auto* push = qobject_cast<QPushButton*>(button)) {
            contents = QStyle::SE_PushButtonContents;
            if (push->isDefault())
                option.features |= QStyleOptionButton::DefaultButton;
            if (push->autoDefault())
                option.features |= QStyleOptionButton::AutoDefaultButton;
        } else if (qobject_cast<QRadioButton*>(button)) {
            contents = QStyle::SE_RadioButtonContents;
        } else if (qobject_cast<QCheckBox*>(button)) {
            contents = QStyle::SE_CheckBoxContents;
        } else {
            return;
        }
        const QRect room = button->style()->subElementRect(contents, &option, button);
        check(button, text, button->fontMetrics().size(Qt::TextShowMnemonic, text), room.size());
    }

    void look(QTabBar* bar) {
        const int space = bar->style()->pixelMetric(QStyle::PM_TabBarTabHSpace, nullptr, bar);
        for (int i = 0; i < bar->count(); ++i) {
            const QString text = bar->tabText(i);
            const QRect tab = bar->tabRect(i);
            if (!bar->rect().contains(tab))
                problems_.push_back(describe(bar, text) + " tab lies outside its bar");
            QSize needs = bar->fontMetrics().size(Qt::TextShowMnemonic, text);
            check(bar, text, QSize(needs.width() + space, needs.height()), tab.size());
        }
    }

    void look(QGroupBox* box) {
        within(box, box->title());
        if (box->title().isEmpty())
            return;
        QStyleOptionGroupBox option;
        option.initFrom(box);
        option.text = box->title();
        option.lineWidth = 1;
        option.textAlignment = box->alignment();
        option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
        const QRect label = box->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                         QStyle::SC_GroupBoxLabel, box);
        if (!box->rect().contains(label))
            problems_.push_back(describe(box, box->title()) + " title reaches out of its box");
        check(box, box->title(), box->fontMetrics().size(Qt::TextShowMnemonic, box->title()),
              label.size());
    }

    void look(TStringGrid* grid) {
        within(grid, QString());
        const QHeaderView* header = grid->horizontalHeader();
        const int headerMargin =
            grid->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
        const int cellMargin =
            grid->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, grid) + 1;
        const QFontMetrics headerFont = header->fontMetrics();
        const QFontMetrics cellFont = grid->fontMetrics();
        for (int col = 0; col < grid->ColCount(); ++col) {
            const QString title = QString::fromStdString(grid->Cell(col, 0));
            if (!title.isEmpty()) {
                const QSize text = headerFont.size(0, title);
                check(grid, title, QSize(text.width() + 2 * headerMargin, text.height()),
                      QSize(header->sectionSize(col), header->height()));
            }
            for (int row = 1; row < grid->RowCount(); ++row) {
                const QString text = QString::fromStdString(grid->Cell(col, row));
                if (text.isEmpty())
                    continue;
                const QSize needs = cellFont.size(0, text);
                const QRect cell = grid->visualRect(grid->model()->index(row - 1, col));
                check(grid, text, QSize(needs.width() + 2 * cellMargin, needs.height()),
                      cell.size());
            }
        }
        if (header->length() > grid->viewport()->width())
            problems_.push_back(describe(grid, QString()) + " shows " +
                                std::to_string(grid->viewport()->width()) + " px of its " +
                                std::to_string(header->length()) + " px of columns");
    }

    const QWidget* window_;
    std::vector<std::string> problems_;
    std::vector<std::pair<QLabel*, QRect>> labels_;
};

} // namespace readable_texts

// The texts of a shown window that its controls cannot show in full, one line each.
inline std::vector<std::string> UnreadableTexts(const QWidget* window) {
    readable_texts::Finder finder(window);
    finder.Look();
    return finder.Problems();
}

inline std::string Lines(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& line : lines)
        all += line + "\n";
    return all;
}
