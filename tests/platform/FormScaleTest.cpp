#include "FormScale.h"

#include <QApplication>
#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QVBoxLayout>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

const QString Alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");

QFont fontOfPixels(int pixels, bool bold = false) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

// Whatever the font, what the design gave room for has room scaled: the alphabet (52
// letters of 6 pixels on average) and a line (13 pixels). A font no larger than the
// design's keeps the design's pixels.
TEST(FormScale, DesignRoomScaledHoldsTheFontsTexts) {
    struct Case {
        int pixels;
        bool bold;
    };
    for (const Case& c : {Case{6, false}, Case{9, false}, Case{12, false}, Case{12, true},
                          Case{16, false}, Case{24, false}}) {
        SCOPED_TRACE(std::to_string(c.pixels) + (c.bold ? " px bold" : " px"));
        const QFont font = fontOfPixels(c.pixels, c.bold);
        const FormScale scale(font);
        const QFontMetrics metrics(font);
        EXPECT_LE(metrics.horizontalAdvance(Alphabet), scale.X(52 * 6));
        EXPECT_LE(metrics.height(), scale.Y(13));
        EXPECT_GE(scale.Horizontal(), 1.0);
        EXPECT_GE(scale.Vertical(), 1.0);
        if (metrics.horizontalAdvance(Alphabet) <= 52 * 6) {
            EXPECT_EQ(scale.X(635), 635);
        }
        if (metrics.height() <= 13) {
            EXPECT_EQ(scale.Y(465), 465);
        }
    }
}

TEST(FormScale, LargerFontLargerWindowRoundedUp) {
    const FormScale normal(fontOfPixels(12)), large(fontOfPixels(24));
    EXPECT_GT(large.Horizontal(), normal.Horizontal());
    EXPECT_GT(large.Vertical(), normal.Vertical());
    // Rounded up: never less room than the exact product.
    for (int pixels : {1, 13, 35, 75, 432})
        EXPECT_GE(normal.X(pixels), pixels * normal.Horizontal()) << pixels;
    EXPECT_EQ(normal.Size(432, 382), QSize(normal.X(432), normal.Y(382)));
    EXPECT_EQ(FormScale().Size(318, 128), QSize(318, 128));
}

// A window with a label whose text may need more than the window's size.
struct LabelWindow {
    LabelWindow() {
        auto* layout = new QVBoxLayout(&window);
        label = new QLabel(QStringLiteral("Short"), &window);
        layout->addWidget(label);
    }
    QWidget window;
    QLabel* label;
};

TEST(FixFormSize, GivenSizeOrWhatTheLayoutNeedsIfMore) {
    LabelWindow w;
    FixFormSize(&w.window, QSize(400, 300));
    EXPECT_EQ(w.window.size(), QSize(400, 300));
    EXPECT_EQ(w.window.minimumSize(), w.window.maximumSize());

    w.label->setText(QString(80, QLatin1Char('W')));
    FixFormSize(&w.window, QSize(400, 300));
    EXPECT_GE(w.window.width(), w.label->minimumSizeHint().width());
    EXPECT_EQ(w.window.height(), 300);
    EXPECT_EQ(w.window.minimumSize(), w.window.maximumSize());
}

TEST(GrowFormToFit, GrowsForLongerTextsAndNeverShrinks) {
    LabelWindow w;
    FixFormSize(&w.window, QSize(100, 60));
    w.window.show();
    GrowFormToFit(&w.window);
    EXPECT_EQ(w.window.size(), QSize(100, 60));

    w.label->setText(QString(60, QLatin1Char('W')));
    GrowFormToFit(&w.window);
    const QSize grown = w.window.size();
    EXPECT_GT(grown.width(), 100);
    EXPECT_EQ(grown.height(), 60);
    QApplication::processEvents();
    EXPECT_GE(w.label->width(), w.label->minimumSizeHint().width());

    w.label->setText(QStringLiteral("Short"));
    GrowFormToFit(&w.window);
    EXPECT_EQ(w.window.size(), grown);
}

} // namespace
