#include "Form_FW_Download.h"

#include "Application.h"
#include "FileOpenDialog.h"
#include "FormScale.h"
#include "IntelHexFile.h"
#include "MessageBoxFace.h"
#include "SectorTableText.h"
#include "StringGrid.h"

#include <QAction>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>
#include <QStatusBar>
#include <QTabWidget>
#include <QVBoxLayout>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const char* const* const HeaderTexts = SectorHeaderTexts;
constexpr int ColumnCount = SectorColumnCount;
constexpr QColor Red{255, 0, 0};
constexpr QColor Lime{0, 255, 0};
constexpr QColor Black{0, 0, 0};

QPushButton* makeButton(const char* name, const char* text, QWidget* parent) {
    auto* button = new QPushButton(QString::fromUtf8(text), parent);
    button->setObjectName(QString::fromUtf8(name));
    button->setAutoDefault(false);
    return button;
}

TStringGrid* makeSectorGrid(const char* name, int rows, QWidget* parent) {
    auto* grid = new TStringGrid(parent);
    grid->setObjectName(QString::fromUtf8(name));
    grid->SetColCount(ColumnCount);
    grid->SetRowCount(rows);
    grid->SetFixedCols(2);
    return grid;
}

// The square of a legend: a fixed colour, or (with a grid) the colour the grid draws its
// selected row in, read whenever the square is drawn.
class LegendSquare : public QFrame {
public:
    LegendSquare(const QColor& colour, TStringGrid* grid, QWidget* parent)
        : QFrame(parent), colour_(colour), grid_(grid) {
        setFrameShape(QFrame::Box);
        if (grid_)
            grid_->installEventFilter(this);
    }

    QColor Colour() const { return grid_ ? grid_->SelectionColor() : colour_; }

protected:
    void paintEvent(QPaintEvent* event) override {
        QPainter(this).fillRect(contentsRect(), Colour());
        QFrame::paintEvent(event);
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == grid_ && event->type() == QEvent::PaletteChange)
            update();
        return QFrame::eventFilter(watched, event);
    }

private:
    QColor colour_;
    TStringGrid* grid_;
};

// A legend entry: a small square with its meaning beside it.
QWidget* legendEntry(const char* name, const QColor& colour, TStringGrid* selectionOf,
                     const char* text, QWidget* parent) {
    auto* entry = new QWidget(parent);
    auto* layout = new QHBoxLayout(entry);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* square = new LegendSquare(colour, selectionOf, entry);
    square->setObjectName(QString::fromUtf8(name));
    const int side = FormScale::Of(parent).Y(13);
    square->setFixedSize(side, side);
    layout->addWidget(square);
    layout->addWidget(new QLabel(QString::fromUtf8(text), entry));
    layout->addStretch();
    return entry;
}

std::string decimal(unsigned value) {
    return std::to_string(value);
}

} // namespace

// The window's face to the update procedures: its boxes, its password field, its file
// dialog, its progress dialog and its grids.
class TForm_FW_Download::Face : public MessageBoxFace {
public:
    explicit Face(TForm_FW_Download& window) : window_(window) {}

    std::string Password() override { return window_.Edit_Password->text().toStdString(); }
    std::optional<std::string> ChooseFile() override {
        if (!window_.OpenDialog_DownloadFile->Execute())
            return std::nullopt;
        return window_.OpenDialog_DownloadFile->FileName;
    }
    TransferOutcome Transfer(std::uint8_t sector, std::unique_ptr<TIntelHexFile> file) override {
        return window_.transfer(sector, std::move(file));
    }
    void TransferJudged() override { window_.endTransfer(); }
    void TableRead(const SectorTable& table) override { window_.showTable(table); }
    void TableForgotten() override { window_.forgetTable(); }

private:
    TForm_FW_Download& window_;
};

TForm_FW_Download::TForm_FW_Download(QWidget* parent)
    : QDialog(parent), face_(std::make_unique<Face>(*this)), procedures_(nullptr, *face_) {
    buildControls();
    FormCreate();
    Downloader = nullptr;
    SectorTableValid = 0;
    ClearSectorTable();
    FixFormSize(this, FormScale::Of(this).Size(635, 465));
    // A sector's texts may widen a column; the window grows to show the whole table.
    for (TStringGrid* grid : {AdvStringGrid_Modules, AdvStringGrid_Standard})
        connect(grid, &TStringGrid::ColumnsWidened, this, [this] { GrowFormToFit(this); });
}

TForm_FW_Download::~TForm_FW_Download() {
    Application->OnHint = nullptr;
    delete OpenDialog_DownloadFile;
}

void TForm_FW_Download::buildControls() {
    setObjectName(QStringLiteral("Form_FW_Download"));
    setWindowTitle(QStringLiteral("Zandrel"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    // Pixels of the design, scaled for the window's font; the window's size is fixed once
    // its grids are set up.
    const FormScale scale = FormScale::Of(this);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    buildMenu(layout);
    buildNodePanel(layout, scale);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    layout->addWidget(PageControl1, 1);
    buildStandardPage(scale);
    buildAdvancedPage();

    Button_EraseModule->setEnabled(false);
    Button_Upgrade->setEnabled(false);
    Button_MakeActive->setEnabled(false);
    Button_Execute->setEnabled(false);

    StatusLine = new QStatusBar(this);
    StatusLine->setObjectName(QStringLiteral("StatusLine"));
    StatusLine->setSizeGripEnabled(false);
    layout->addWidget(StatusLine);

    OpenDialog_DownloadFile = new TOpenDialog;
    OpenDialog_DownloadFile->Title = "Open Hex File";
    OpenDialog_DownloadFile->DefaultExt = "h86";
    OpenDialog_DownloadFile->Filter = "Hex Files  (*.HEX,*.H86)|*.H86;*.HEX";
    OpenDialog_DownloadFile->InitialDir = DefaultDocumentsFolder();

    connectControls();
}

// The menu bar with its one entry, both hidden until a node that has a serial number to set
// is shown.
void TForm_FW_Download::buildMenu(QVBoxLayout* layout) {
    MainMenu1 = new QMenuBar(this);
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    MenuItem_SetSerialNumber = new QAction(QStringLiteral("Set Serial Number"), this);
    MenuItem_SetSerialNumber->setObjectName(QStringLiteral("MenuItem_SetSerialNumber"));
    MenuItem_SetSerialNumber->setVisible(false);
    MainMenu1->addAction(MenuItem_SetSerialNumber);
    MainMenu1->setVisible(false);
    layout->setMenuBar(MainMenu1);
    connect(MenuItem_SetSerialNumber, &QAction::triggered, this,
            [this] { MenuItem_SetSerialNumberClick(); });
}

// The node's number and the password field, in a row across the top.
void TForm_FW_Download::buildNodePanel(QVBoxLayout* layout, const FormScale& scale) {
    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameShape(QFrame::StyledPanel);
    Panel1->setFixedHeight(scale.Y(57));
    auto* panelLayout = new QHBoxLayout(Panel1);
    panelLayout->addWidget(new QLabel(QStringLiteral("Node #:"), Panel1));
    StaticText_NodeNumber = new QLabel(QStringLiteral("0"), Panel1);
    StaticText_NodeNumber->setObjectName(QStringLiteral("StaticText_NodeNumber"));
    StaticText_NodeNumber->setMinimumWidth(scale.X(40));
    panelLayout->addWidget(StaticText_NodeNumber);
    panelLayout->addSpacing(scale.X(40));
    panelLayout->addWidget(new QLabel(QStringLiteral("Password:"), Panel1));
    Edit_Password = new QLineEdit(Panel1);
    Edit_Password->setObjectName(QStringLiteral("Edit_Password"));
    Edit_Password->setFixedWidth(scale.X(120));
    panelLayout->addWidget(Edit_Password);
    panelLayout->addStretch();
    layout->addWidget(Panel1);
}

// The standard update: the sector grid, its legend and the one upgrade button.
void TForm_FW_Download::buildStandardPage(const FormScale& scale) {
    TabSheet_Standard = new QWidget(PageControl1);
    TabSheet_Standard->setObjectName(QStringLiteral("TabSheet_Standard"));
    auto* standard = new QVBoxLayout(TabSheet_Standard);
    standard->addWidget(new QLabel(QStringLiteral("Sectors:"), TabSheet_Standard));
    AdvStringGrid_Standard = makeSectorGrid("AdvStringGrid_Standard", 3, TabSheet_Standard);
    standard->addWidget(AdvStringGrid_Standard, 1);
    standard->addWidget(legendEntry("Shape_StandardBootSector", Lime, nullptr,
                                    "Active Sector On Boot", TabSheet_Standard));
    Button1 = makeButton("Button1", "Upgrade Firmware", TabSheet_Standard);
    Button1->setMinimumWidth(scale.X(160));
    auto* standardButtons = new QHBoxLayout;
    standardButtons->addStretch();
    standardButtons->addWidget(Button1);
    standardButtons->addStretch();
    standard->addLayout(standardButtons);
    PageControl1->addTab(TabSheet_Standard, QStringLiteral("Standard Update"));
}

// The advanced update: the sector grid, its legend and the single sector operations.
void TForm_FW_Download::buildAdvancedPage() {
    TabSheet_Advanced = new QWidget(PageControl1);
    TabSheet_Advanced->setObjectName(QStringLiteral("TabSheet_Advanced"));
    auto* advanced = new QVBoxLayout(TabSheet_Advanced);
    advanced->addWidget(new QLabel(QStringLiteral("Sectors:"), TabSheet_Advanced));
    AdvStringGrid_Modules = makeSectorGrid("AdvStringGrid_Modules", 2, TabSheet_Advanced);
    advanced->addWidget(AdvStringGrid_Modules, 1);
    auto* legend = new QHBoxLayout;
    legend->addWidget(legendEntry("Shape_CurrentSelection", QColor(), AdvStringGrid_Modules,
                                  "Current Selection", TabSheet_Advanced));
    legend->addWidget(
        legendEntry("Shape_BootSector", Lime, nullptr, "Active Sector On Boot", TabSheet_Advanced));
    advanced->addLayout(legend);
    buildAdvancedButtons(advanced);
    PageControl1->addTab(TabSheet_Advanced, QStringLiteral("Advanced Update"));
}

// Two rows of three buttons under the advanced page's grid.
void TForm_FW_Download::buildAdvancedButtons(QVBoxLayout* advanced) {
    Button_Retrieve = makeButton("Button_Retrieve", "Retrieve Configuration", TabSheet_Advanced);
    Button_EraseModule = makeButton("Button_EraseModule", "Erase Sector", TabSheet_Advanced);
    Button_Upgrade = makeButton("Button_Upgrade", "Download/Upgrade", TabSheet_Advanced);
    Button_MakeActive = makeButton("Button_MakeActive", "Make Boot Sector", TabSheet_Advanced);
    Button_Execute = makeButton("Button_Execute", "Execute Sector", TabSheet_Advanced);
    Button_RebootNode = makeButton("Button_RebootNode", "Reboot Node", TabSheet_Advanced);
    Button_RebootNode->setToolTip(
        QStringLiteral("This will reboot the node using the selected boot sector firmware."));
    auto* buttons = new QGridLayout;
    buttons->addWidget(Button_Retrieve, 0, 0);
    buttons->addWidget(Button_EraseModule, 0, 1);
    buttons->addWidget(Button_Upgrade, 0, 2);
    buttons->addWidget(Button_MakeActive, 1, 0);
    buttons->addWidget(Button_Execute, 1, 1);
    buttons->addWidget(Button_RebootNode, 1, 2);
    advanced->addLayout(buttons);
}

void TForm_FW_Download::connectControls() {
    connect(Button_Retrieve, &QPushButton::clicked, this, [this] { Button_RetrieveClick(); });
    connect(Button_EraseModule, &QPushButton::clicked, this, [this] { Button_EraseModuleClick(); });
    connect(Button_Upgrade, &QPushButton::clicked, this, [this] { Button_UpgradeClick(); });
    connect(Button_MakeActive, &QPushButton::clicked, this, [this] { Button_MakeActiveClick(); });
    connect(Button_Execute, &QPushButton::clicked, this, [this] { Button_ExecuteClick(); });
    connect(Button_RebootNode, &QPushButton::clicked, this, [this] { Button_RebootNodeClick(); });
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    AdvStringGrid_Modules->OnGetCellColor = [this](int row, int col, QColor& brush, QColor& font) {
        AdvStringGrid_ModulesGetCellColor(row, col, brush, font);
    };
    AdvStringGrid_Standard->OnGetCellColor = [this](int row, int col, QColor& brush, QColor& font) {
        AdvStringGrid_StandardGetCellColor(row, col, brush, font);
    };
}

void TForm_FW_Download::FormCreate() {
    Application->OnHint = [this] {
        ShowHint();
    };
    Application->TrackHints();
    const FormScale scale = FormScale::Of(this);
    for (TStringGrid* grid : {AdvStringGrid_Modules, AdvStringGrid_Standard}) {
        for (int col = 0; col < ColumnCount; ++col)
            grid->SetCell(col, 0, HeaderTexts[col]);
        grid->SetColWidth(0, scale.X(35));
        grid->SetColWidth(3, scale.X(75));
        grid->SetColWidth(4, scale.X(125));
        grid->SetColWidth(5, scale.X(75));
    }
    PageControl1->setCurrentWidget(TabSheet_Standard);
}

void TForm_FW_Download::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void TForm_FW_Download::FormShow() {
    if (Downloader && Downloader->NodeType == 3) {
        MenuItem_SetSerialNumber->setVisible(true);
        MainMenu1->setVisible(true);
    }
    SectorTableValid = 0;
    procedures_.ForgetTable();
    Button_EraseModule->setEnabled(false);
    Button_Upgrade->setEnabled(false);
    Button_MakeActive->setEnabled(false);
    Button_Execute->setEnabled(false);
    StaticText_NodeNumber->setText(
        QString::number(Downloader ? static_cast<unsigned>(Downloader->Node) : 0u));
    clearGrids();
    AdvStringGrid_Modules->SetRow(1);
    AdvStringGrid_Modules->Repaint();
    AdvStringGrid_Standard->Repaint();
}

// The window serves one node at a time: nothing the grids showed for the node before may
// stay in view for this one until its own table has been read.
void TForm_FW_Download::clearGrids() {
    AdvStringGrid_Modules->SetRowCount(2);
    for (int col = 1; col < ColumnCount; ++col)
        AdvStringGrid_Modules->SetCell(col, 1, "");
    AdvStringGrid_Modules->SetCell(0, 1, "");
    AdvStringGrid_Standard->SetRowCount(3);
    for (int row = 1; row < AdvStringGrid_Standard->RowCount(); ++row)
        for (int col = 0; col < ColumnCount; ++col)
            AdvStringGrid_Standard->SetCell(col, row, "");
}

void TForm_FW_Download::ShowHint() {
    StatusLine->showMessage(QString::fromStdString(Application->Hint()));
}

void TForm_FW_Download::ClearSectorTable() {
    for (int col = 0; col < ColumnCount; ++col)
        AdvStringGrid_Modules->SetCell(col, 0, HeaderTexts[col]);
    for (int row = 1; row < AdvStringGrid_Modules->RowCount(); ++row) {
        AdvStringGrid_Modules->SetCell(0, row, decimal(static_cast<unsigned>(row - 1)));
        for (int col = 1; col < ColumnCount; ++col)
            AdvStringGrid_Modules->SetCell(col, row, "");
    }
}

std::int32_t TForm_FW_Download::EnsureDownloadMode() {
    if (!Downloader)
        return 0;
    return procedures().EnsureDownloadMode().Ok() ? 1 : 0;
}

// Writes one column of a sector's row in both grids; the standard grid has no row for
// sector 0.
void TForm_FW_Download::setSectorRow(int sector, int column, const std::string& text) {
    AdvStringGrid_Modules->SetCell(column, sector + 1, text);
    if (sector >= 1)
        AdvStringGrid_Standard->SetCell(column, sector, text);
}

void TForm_FW_Download::RetrieveSectorTable() {
    if (!Downloader)
        return;
    procedures().RetrieveSectorTable();
}

void TForm_FW_Download::showTable(const SectorTable& table) {
    const int shown = table.Count;
    AdvStringGrid_Modules->SetRowCount(shown + 1);
    AdvStringGrid_Standard->SetRowCount(shown);
    for (int s = 0; s < shown; ++s) {
        setSectorRow(s, 0, decimal(static_cast<unsigned>(s)));
        if (!table.Read[s]) {
            for (int col = 1; col < ColumnCount; ++col)
                AdvStringGrid_Modules->SetCell(col, s + 1, "Error");
            continue;
        }
        Sectors[s] = table.Sectors[s];
        SectorStatus[s] = table.Status[s];
        const SectorRowTexts row = SectorRowOf(table, s);
        for (int col = 1; col < ColumnCount; ++col)
            setSectorRow(s, col, row[col]);
    }
    if (table.BootRead) {
        BootSector = table.BootSector;
        SectorTableValid = 1;
    }
    // A sector whose checksum could not be asked about keeps its "<ok>"; the status line says
    // that it was not checked, so that the row is not taken for a confirmed one.
    if (!table.Unchecked.empty()) {
        std::string sectors;
        for (int s : table.Unchecked)
            sectors += (sectors.empty() ? "" : ", ") + decimal(static_cast<unsigned>(s));
        StatusLine->showMessage(
            QString::fromStdString((table.Unchecked.size() == 1 ? "The checksum of sector #"
                                                                : "The checksums of sectors #") +
                                   sectors + " could not be checked."));
    }
    AdvStringGrid_Modules->Repaint();
    AdvStringGrid_Standard->Repaint();
}

void TForm_FW_Download::Button_RetrieveClick() {
    if (!EnsureDownloadMode())
        return;
    RetrieveSectorTable();
    Button_EraseModule->setEnabled(true);
    Button_Upgrade->setEnabled(true);
    Button_MakeActive->setEnabled(true);
    Button_Execute->setEnabled(true);
}

void TForm_FW_Download::cellColor(int sector, QColor& brush, QColor& font) const {
    if (!SectorTableValid || sector < 0 || sector >= MaxSectors)
        return;
    if (SectorStatus[sector] == SectorChecksumError) {
        brush = Red;
        font = Black;
    } else if (sector == BootSector) {
        brush = Lime;
        font = Black;
    }
}

void TForm_FW_Download::AdvStringGrid_ModulesGetCellColor(int row, int, QColor& brush,
                                                          QColor& font) {
    if (row >= 1)
        cellColor(row - 1, brush, font);
}

void TForm_FW_Download::AdvStringGrid_StandardGetCellColor(int row, int, QColor& brush,
                                                           QColor& font) {
    if (row >= 1)
        cellColor(row, brush, font);
}

void TForm_FW_Download::MenuItem_SetSerialNumberClick() {
    // Offered for the VARNIX module; there is nothing to set yet.
}

bool TForm_FW_Download::SelectedSector(std::uint8_t* sector) const {
    int s = AdvStringGrid_Modules->Row() - 1;
    if (s < 0 || s >= MaxSectors || s + 1 >= AdvStringGrid_Modules->RowCount() ||
        !procedures_.Table().Read[s])
        return false;
    *sector = static_cast<std::uint8_t>(s);
    return true;
}

UpdateProcedures& TForm_FW_Download::procedures() {
    procedures_.SetDownloader(Downloader);
    return procedures_;
}
