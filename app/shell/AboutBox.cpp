#include "AboutBox.h"

#include "FormScale.h"
#include "HtmlLabel.h"

#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace {

// The program's picture: a chip with a flash arrow, drawn rather than shipped.
QPixmap programPicture() {
    QPixmap picture(161, 49);
    picture.fill(QColor(0, 64, 128));
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::white, 2));
    painter.drawRect(10, 10, 28, 28);
    for (int i = 0; i < 4; ++i) {
        painter.drawLine(14 + 7 * i, 4, 14 + 7 * i, 10);
        painter.drawLine(14 + 7 * i, 38, 14 + 7 * i, 44);
    }
    painter.setFont(QFont(QStringLiteral("Sans"), 16, QFont::Bold));
    painter.drawText(QRect(48, 0, 113, 49), Qt::AlignVCenter | Qt::AlignLeft,
                     QStringLiteral("Zandrel"));
    return picture;
}

} // namespace

TAboutBox::TAboutBox(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("AboutBox"));
    setWindowTitle(QStringLiteral("About"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    // Pixels of the design, scaled for the box's font; the picture keeps its own.
    const FormScale scale = FormScale::Of(this);

    auto* layout = new QVBoxLayout(this);
    auto* panel = new QFrame(this);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    auto* inner = new QVBoxLayout(panel);
    inner->setSpacing(2);
    ProgramIcon = new QLabel(panel);
    ProgramIcon->setPixmap(programPicture());
    ProgramIcon->setFixedSize(161, 49);
    inner->addWidget(ProgramIcon, 0, Qt::AlignHCenter);
    ProductName = new QLabel(QStringLiteral("Zandrel"), panel);
    ProductName->setObjectName(QStringLiteral("ProductName"));
    QFont nameFont = ProductName->font();
    nameFont.setPixelSize(scale.Y(13));
    nameFont.setBold(true);
    ProductName->setFont(nameFont);
    inner->addWidget(ProductName);
    auto* versionLine = new QHBoxLayout;
    Version = new QLabel(QStringLiteral("Version"), panel);
    VersionNumber = new QLabel(QStringLiteral("2.04"), panel);
    VersionNumber->setObjectName(QStringLiteral("VersionNumber"));
    versionLine->addWidget(Version);
    versionLine->addWidget(VersionNumber);
    versionLine->addStretch();
    inner->addLayout(versionLine);
    auto* notice = new QHBoxLayout;
    Copyright = new QLabel(QStringLiteral("Firmware update"), panel);
    Comments = new QLabel(QStringLiteral("for field-bus nodes"), panel);
    notice->addWidget(Copyright);
    notice->addWidget(Comments);
    notice->addStretch();
    inner->addLayout(notice);
    HTMLabel_Link = new THtmlLabel(panel);
    HTMLabel_Link->SetHtml("<a href=\"https://zandrel.example/\" style=\"color:blue\">"
                           "https://zandrel.example/</a>");
    inner->addWidget(HTMLabel_Link);
    layout->addWidget(panel, 1);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setDefault(true);
    layout->addWidget(OKButton, 0, Qt::AlignHCenter);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
    FixFormSize(this, scale.Size(226, 221));

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
}
