#include "Form_FW_Download_Main.h"

#include "AboutBox.h"
#include "Class_copn.h"
#include "DownloaderFactory.h"
#include "Firmware_Downloader.h"
#include "FormScale.h"
#include "Form_FW_Download.h"
#include "Form_ProgramDownload.h"
#include "StringGrid.h"
#include "Thread_NodesOnline.h"

#include <QAction>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

namespace {

QLabel* makeLabel(const char* name, const char* text, QWidget* parent) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setObjectName(QString::fromUtf8(name));
    return label;
}

QPushButton* makeButton(const char* name, const char* text, QWidget* parent) {
    auto* button = new QPushButton(QString::fromUtf8(text), parent);
    button->setObjectName(QString::fromUtf8(name));
    button->setAutoDefault(false);
    return button;
}

QAction* makeAction(const char* name, const char* text, QObject* parent) {
    auto* action = new QAction(QString::fromUtf8(text), parent);
    action->setObjectName(QString::fromUtf8(name));
    return action;
}

// A small picture of an interface adapter with its cable.
QPixmap interfacePicture() {
    QPixmap picture(25, 25);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setBrush(QColor(40, 90, 160));
    painter.setPen(Qt::black);
    painter.drawRect(3, 6, 14, 13);
    painter.setBrush(QColor(240, 200, 40));
    painter.drawRect(6, 9, 8, 3);
    painter.setPen(QPen(Qt::black, 2));
    painter.drawLine(17, 12, 23, 12);
    painter.drawLine(23, 12, 23, 22);
    return picture;
}

struct GridColumn {
    int width;
    const char* header;
    const char* canopenHeader;
};
const GridColumn gridColumns[] = {{35, "Node", "Node ID"},
                                  {60, "Vendor ID", "Vendor ID"},
                                  {75, "Device Type", "Device Type"},
                                  {75, "Product Code", "Product Code"},
                                  {60, "Revision", "Revision"},
                                  {75, "Serial Number", "Serial Number"},
                                  {100, "Product Name", "Device Name"}};

const char* interfaceCaption(TNodeType type) {
    switch (type) {
    case NodeTypeDeviceNet:
        return "DeviceNet Interface:";
    case NodeTypeCANopen:
        return "CANopen Interface:";
    case NodeTypeVARNIX:
        return "VARNIX Interface:";
    default:
        return "Interface:";
    }
}

} // namespace

TForm_FW_Download_Main::TForm_FW_Download_Main(QWidget* parent)
    : QMainWindow(parent), CreateDownloader(CreateDownloaderFor), NodeRowMap(2 * NodeRows + 1, 0) {
    buildControls();
}

TForm_FW_Download_Main::~TForm_FW_Download_Main() {
    if (NodesOnlineThread) {
        NodesOnlineThread->RequestStop();
        NodesOnlineThread->WaitFor();
        delete NodesOnlineThread;
        NodesOnlineThread = nullptr;
    }
}

void TForm_FW_Download_Main::buildControls() {
    setObjectName(QStringLiteral("Form_FW_Download_Main"));
    setWindowTitle(QStringLiteral("Zandrel"));
    setWindowFlags(Qt::Window | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    // Pixels of the design, scaled for the window's font; the interface picture keeps its
    // own.
    const FormScale scale = FormScale::Of(this);

    buildMenus();

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(scale.Margins(6, 6, 6, 4));
    layout->addWidget(buildInterfacePanel(central, scale));
    buildNodeList(central, layout, scale);
    setCentralWidget(central);

    buildStatusBar(scale);

    Timer_Browse = new QTimer(this);
    Timer_Browse->setObjectName(QStringLiteral("Timer_Browse"));
    Timer_Browse->setInterval(static_cast<int>(DefaultBrowseTime));

    // The client area is the design's; the menu bar comes on top of it.
    FixFormSize(this, scale.Size(432, 382) + QSize(0, menuBar()->sizeHint().height()));
    // A node's texts may widen a column; the window grows to show every column.
    connect(AdvStringGrid_NodesOnline, &TStringGrid::ColumnsWidened, this,
            [this] { GrowFormToFit(this); });

    connectControls();
}

void TForm_FW_Download_Main::buildMenus() {
    QMenu* network = menuBar()->addMenu(QStringLiteral("Network"));
    network->setObjectName(QStringLiteral("Network1"));
    Configuration2 = makeAction("Configuration2", "Configuration", this);
    network->addAction(Configuration2);
    QMenu* help = menuBar()->addMenu(QStringLiteral("Help"));
    help->setObjectName(QStringLiteral("Help1"));
    About1 = makeAction("About1", "About", this);
    VersionInfo1 = makeAction("VersionInfo1", "Version Information", this);
    help->addAction(About1);
    help->addAction(VersionInfo1);
}

// The interface panel: the picture with its right-click menu, the lines that tell how the
// interface is set up, and the network buttons.
QGroupBox* TForm_FW_Download_Main::buildInterfacePanel(QWidget* central, const FormScale& scale) {
    GroupBox_Interface = new QGroupBox(QStringLiteral("Interface:"), central);
    GroupBox_Interface->setObjectName(QStringLiteral("GroupBox_Interface"));
    auto* panel = new QHBoxLayout(GroupBox_Interface);
    Image_Interface = new QLabel(GroupBox_Interface);
    Image_Interface->setObjectName(QStringLiteral("Image_Interface"));
    Image_Interface->setFixedSize(25, 25);
    Image_Interface->setPixmap(interfacePicture());
    Image_Interface->setToolTip(QStringLiteral("Right Click for more options"));
    Image_Interface->installEventFilter(this);
    panel->addWidget(Image_Interface, 0, Qt::AlignTop);
    PopupMenu_DNetInterface = new QMenu(this);
    PopupMenu_DNetInterface->setObjectName(QStringLiteral("PopupMenu_DNetInterface"));
    Configuration1 = makeAction("Configuration1", "Configuration", this);
    VersionInfo2 = makeAction("VersionInfo2", "Version Information", this);
    PopupMenu_DNetInterface->addAction(Configuration1);
    PopupMenu_DNetInterface->addAction(VersionInfo2);

    buildInterfaceLines(panel, scale);
    buildNetworkButtons(panel);
    return GroupBox_Interface;
}

// Label and value, one pair a line.
void TForm_FW_Download_Main::buildInterfaceLines(QHBoxLayout* panel, const FormScale& scale) {
    auto* lines = new QGridLayout;
    lines->setHorizontalSpacing(scale.X(8));
    lines->setVerticalSpacing(scale.Y(2));
    StaticText2 = makeLabel("StaticText2", "Interface Type:", GroupBox_Interface);
    StaticText_InterfaceType = makeLabel("StaticText_InterfaceType", "None", GroupBox_Interface);
    StaticText_InterfaceConfigLabel1 =
        makeLabel("StaticText_InterfaceConfigLabel1", "Access Point:", GroupBox_Interface);
    StaticText_InterfaceConfig1 = makeLabel("StaticText_InterfaceConfig1", "1", GroupBox_Interface);
    StaticText_InterfaceConfigLabel2 =
        makeLabel("StaticText_InterfaceConfigLabel2", "Serial Baud:", GroupBox_Interface);
    StaticText_InterfaceConfig2 =
        makeLabel("StaticText_InterfaceConfig2", "57600", GroupBox_Interface);
    StaticText3 = makeLabel("StaticText3", "Baud Rate:", GroupBox_Interface);
    StaticText_NetworkBaud = makeLabel("StaticText_NetworkBaud", "125K", GroupBox_Interface);
    StaticText_NetworkBaud->installEventFilter(this);
    StaticText4 = makeLabel("StaticText4", "MacId:", GroupBox_Interface);
    StaticText_Id = makeLabel("StaticText_Id", "0", GroupBox_Interface);
    QLabel* pairs[][2] = {{StaticText2, StaticText_InterfaceType},
                          {StaticText_InterfaceConfigLabel1, StaticText_InterfaceConfig1},
                          {StaticText_InterfaceConfigLabel2, StaticText_InterfaceConfig2},
                          {StaticText3, StaticText_NetworkBaud},
                          {StaticText4, StaticText_Id}};
    for (int i = 0; i < 5; ++i) {
        lines->addWidget(pairs[i][0], i, 0);
        lines->addWidget(pairs[i][1], i, 1);
    }
    lines->setColumnStretch(1, 1);
    panel->addLayout(lines, 1);
}

// Start, browse and stop, one above the other; only start is offered at first.
void TForm_FW_Download_Main::buildNetworkButtons(QHBoxLayout* panel) {
    auto* buttons = new QVBoxLayout;
    Button_NetworkStart =
        makeButton("Button_NetworkStart", "Start Network Access", GroupBox_Interface);
    Button_Browse = makeButton("Button_Browse", "Browse", GroupBox_Interface);
    Button_NetworkStop =
        makeButton("Button_NetworkStop", "Stop Network Access", GroupBox_Interface);
    buttons->addWidget(Button_NetworkStart);
    buttons->addWidget(Button_Browse);
    buttons->addWidget(Button_NetworkStop);
    buttons->addStretch();
    panel->addLayout(buttons);
    Button_Browse->setEnabled(false);
    Button_NetworkStop->setEnabled(false);
}

// The grid of the nodes online, and under it the way into the download window.
void TForm_FW_Download_Main::buildNodeList(QWidget* central, QVBoxLayout* layout,
                                           const FormScale& scale) {
    AdvStringGrid_NodesOnline = new TStringGrid(central);
    AdvStringGrid_NodesOnline->setObjectName(QStringLiteral("AdvStringGrid_NodesOnline"));
    AdvStringGrid_NodesOnline->SetColCount(7);
    AdvStringGrid_NodesOnline->SetRowCount(NodeRows + 1);
    AdvStringGrid_NodesOnline->SetFixedCols(1);
    AdvStringGrid_NodesOnline->verticalHeader()->setDefaultSectionSize(scale.Y(21));
    layout->addWidget(AdvStringGrid_NodesOnline, 1);

    Button_DownloadFirmware =
        makeButton("Button_DownloadFirmware", "Select Mode/Download Firmware", central);
    Button_DownloadFirmware->setEnabled(false);
    layout->addWidget(Button_DownloadFirmware, 0, Qt::AlignHCenter);
}

void TForm_FW_Download_Main::buildStatusBar(const FormScale& scale) {
    StatusBar1 = statusBar();
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    StatusPanel = new QLabel(QStringLiteral("Status: Offline"), StatusBar1);
    StatusPanel->setMinimumWidth(scale.X(50));
    StatusBar1->addWidget(StatusPanel);
}

void TForm_FW_Download_Main::connectControls() {
    connect(Button_NetworkStart, &QPushButton::clicked, this,
            [this] { Button_NetworkStartClick(); });
    connect(Button_NetworkStop, &QPushButton::clicked, this, [this] { Button_NetworkStopClick(); });
    connect(Button_Browse, &QPushButton::clicked, this, [this] { Button_BrowseClick(); });
    connect(Button_DownloadFirmware, &QPushButton::clicked, this,
            [this] { Button_DownloadFirmwareClick(); });
    connect(Configuration1, &QAction::triggered, this, [this] { Configuration1Click(); });
    connect(Configuration2, &QAction::triggered, this, [this] { Configuration2Click(); });
    connect(VersionInfo1, &QAction::triggered, this, [this] { VersionInfo1Click(); });
    connect(VersionInfo2, &QAction::triggered, this, [this] { VersionInfo2Click(); });
    connect(About1, &QAction::triggered, this, [this] { About1Click(); });
    connect(Timer_Browse, &QTimer::timeout, this, [this] { Timer_BrowseTimer(); });
    AdvStringGrid_NodesOnline->OnClickCell = [this](int row, int col) {
        AdvStringGrid_NodesOnlineClickCell(row, col);
    };
    AdvStringGrid_NodesOnline->OnDblClickCell = [this](int row, int col) {
        AdvStringGrid_NodesOnlineDblClickCell(row, col);
    };
}

bool TForm_FW_Download_Main::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Image_Interface && event->type() == QEvent::MouseButtonPress &&
        static_cast<QMouseEvent*>(event)->button() == Qt::RightButton) {
        PopupMenu_DNetInterface->popup(
            static_cast<QMouseEvent*>(event)->globalPosition().toPoint());
        return true;
    }
    if (watched == StaticText_NetworkBaud && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        About1Click();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm_FW_Download_Main::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
}

void TForm_FW_Download_Main::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
}

void TForm_FW_Download_Main::FormShow() {
    GroupBox_Interface->setTitle(QString::fromUtf8(interfaceCaption(NodeType)));
    const FormScale scale = FormScale::Of(this);
    for (int col = 0; col < 7; ++col) {
        const GridColumn& c = gridColumns[col];
        AdvStringGrid_NodesOnline->SetCell(
            col, 0, NodeType == NodeTypeCANopen ? c.canopenHeader : c.header);
        AdvStringGrid_NodesOnline->SetColWidth(col, scale.X(c.width));
    }
    Downloader = CreateDownloader ? CreateDownloader(NodeType) : nullptr;
    if (Downloader) {
        Downloader->NodeType = NodeType;
        Downloader->ReadConfiguration(RegistryKey);
    }
    RefreshInterfacePanel();
    // The node type's captions and columns may need more room than the design's.
    GrowFormToFit(this);
}

void TForm_FW_Download_Main::FormClose() {
    stopNetworkAccess();
}

void TForm_FW_Download_Main::Button_NetworkStartClick() {
    if (!Downloader || !Downloader->GoOnline())
        return;
    if (!NodesOnlineThread) {
        NodesOnlineThread = new TThread_NodesOnline(this);
        NodesOnlineThread->downloader = Downloader.get();
        NodesOnlineThread->Start();
    }
    Button_NetworkStart->setEnabled(false);
    Button_NetworkStop->setEnabled(true);
    StatusPanel->setText(QStringLiteral("Status: Online"));
    std::uint32_t browseTime = 0;
    if (!Downloader->GetBrowseTime(&browseTime))
        browseTime = DefaultBrowseTime;
    Timer_Browse->setInterval(static_cast<int>(browseTime));
    Timer_Browse->start();
}

void TForm_FW_Download_Main::Button_NetworkStopClick() {
    stopNetworkAccess();
}

void TForm_FW_Download_Main::stopNetworkAccess() {
    Button_Browse->setEnabled(false);
    Timer_Browse->stop();
    if (NodesOnlineThread) {
        // Waiting here still carries out a grid fill the thread has asked for.
        NodesOnlineThread->RequestStop();
        NodesOnlineThread->WaitFor();
        delete NodesOnlineThread;
        NodesOnlineThread = nullptr;
    }
    if (Downloader)
        Downloader->GoOffline();
    StatusPanel->setText(QStringLiteral("Status: Offline"));
    FillNodesOnlineGrid();
    Button_DownloadFirmware->setEnabled(false);
    Button_NetworkStop->setEnabled(false);
    Button_NetworkStart->setEnabled(true);
    Configuration1->setEnabled(true);
    Configuration2->setEnabled(true);
}

void TForm_FW_Download_Main::Configuration1Click() {
    configureInterface();
}
void TForm_FW_Download_Main::Configuration2Click() {
    configureInterface();
}

void TForm_FW_Download_Main::configureInterface() {
    if (!Downloader || !Downloader->ConfigurationWindow())
        return;
    Downloader->SaveConfiguration(RegistryKey);
    RefreshInterfacePanel();
}

void TForm_FW_Download_Main::setSecondLine(const QString& label, const QString& value, bool shown) {
    StaticText_InterfaceConfigLabel2->setText(label);
    StaticText_InterfaceConfig2->setText(value);
    StaticText_InterfaceConfigLabel2->setVisible(shown);
    StaticText_InterfaceConfig2->setVisible(shown);
}

void TForm_FW_Download_Main::RefreshInterfacePanel() {
    if (!Downloader)
        return;
    InterfaceConfigRecord record;
    if (!Downloader->GetInterfaceConfig(&record))
        return;
    char name[256] = {};
    if (Downloader->GetInterfaceName(name))
        StaticText_InterfaceType->setText(
            QString::fromLocal8Bit(name, static_cast<int>(strnlen(name, sizeof name))));

    const QString accessPoint = QString::fromStdString(record.AccessPointText());
    const std::uint32_t port = record.Port;
    const std::uint32_t irq = record.Irq;
    const std::uint32_t comPort = record.ComPort;
    const std::uint32_t comBaud = record.ComBaud;
    if (accessPoint.isEmpty() && port == 0 && comPort == 0) {
        StaticText_InterfaceConfigLabel1->setText(QStringLiteral("Not Configured"));
        StaticText_InterfaceConfig1->setText(QString());
        setSecondLine(StaticText_InterfaceConfigLabel2->text(), StaticText_InterfaceConfig2->text(),
                      false);
    } else if (!accessPoint.isEmpty()) {
        StaticText_InterfaceConfigLabel1->setText(QStringLiteral("Access Point:"));
        StaticText_InterfaceConfig1->setText(accessPoint);
        setSecondLine(StaticText_InterfaceConfigLabel2->text(), StaticText_InterfaceConfig2->text(),
                      false);
    } else if (port != 0) {
        StaticText_InterfaceConfigLabel1->setText(QStringLiteral("Port:"));
        StaticText_InterfaceConfig1->setText(QString::number(port));
        setSecondLine(QStringLiteral("IRQ:"), QString::number(irq), irq != 0);
    } else {
        StaticText_InterfaceConfigLabel1->setText(QStringLiteral("COM Port:"));
        StaticText_InterfaceConfig1->setText(QStringLiteral("COM") + QString::number(comPort));
        setSecondLine(QStringLiteral("COM Baud:"), QString::number(comBaud), comBaud != 0);
    }

    const bool varnix = NodeType == NodeTypeVARNIX;
    if (!varnix) {
        StaticText_NetworkBaud->setText(QString::fromStdString(Downloader->GetBaudRateString()));
        StaticText_Id->setText(QString::fromStdString(Downloader->GetNodeIdString()));
    }
    for (QLabel* label : {StaticText3, StaticText_NetworkBaud, StaticText4, StaticText_Id})
        label->setVisible(!varnix);
    if (NodeType == NodeTypeCANopen)
        StaticText4->setText(QStringLiteral("NodeID:"));
    else if (NodeType == NodeTypeDeviceNet)
        StaticText4->setText(QStringLiteral("MacId:"));
    GrowFormToFit(this);
}

std::int32_t TForm_FW_Download_Main::FillNodesOnlineGrid() {
    if (!Downloader)
        return 0;
    std::uint16_t count = 0;
    Downloader->GetMaxNodes(&count);
    const int nodes = std::min<int>(count, TFirmware_Downloader::MaxNodeAddresses);

    int listed = 0;
    for (int n = 0; n < nodes; ++n)
        listed += Downloader->Online[n] != 0;
    // More nodes than rows (possible on CANopen): the grid grows so that each has a row.
    TStringGrid* grid = AdvStringGrid_NodesOnline;
    grid->SetRowCount(std::max(NodeRows, listed) + 1);

    int row = 1;
    for (int n = 0; n < nodes; ++n) {
        OnlineCopy[n] = Downloader->Online[n];
        if (!OnlineCopy[n])
            continue;
        const auto node = static_cast<std::uint8_t>(n);
        NodeRowMap[static_cast<std::size_t>(row)] = static_cast<std::uint32_t>(n);
        const std::string texts[] = {
            Downloader->GetNodeString(node), Downloader->GetVendor(node),
            Downloader->GetDeviceType(node), Downloader->GetProductCode(node),
            Downloader->GetRevision(node),   Downloader->GetSerialNumber(node),
            Downloader->GetProductName(node)};
        for (int col = 0; col < 7; ++col)
            grid->SetCell(col, row, texts[col]);
        ++row;
    }
    for (int blank = row; blank < static_cast<int>(NodeRowMap.size()); ++blank) {
        NodeRowMap[static_cast<std::size_t>(blank)] = NoNode;
        for (int col = 0; col < 7; ++col)
            grid->SetCell(col, blank, "");
    }
    if (listed > 0)
        Button_DownloadFirmware->setEnabled(true);
    return 1;
}

bool TForm_FW_Download_Main::NodePresentInRow(int row) const {
    if (row < 1 || row >= static_cast<int>(NodeRowMap.size()))
        return false;
    const std::uint32_t node = NodeRowMap[static_cast<std::size_t>(row)];
    return node < 128 && OnlineCopy[node] != 0;
}

std::int32_t TForm_FW_Download_Main::EndBrowse() {
    Timer_Browse->stop();
    if (!Downloader)
        return 0;
    Downloader->StopBrowse();
    Button_Browse->setEnabled(true);
    return 1;
}

void TForm_FW_Download_Main::Button_BrowseClick() {
    if (!Downloader)
        return;
    Downloader->StartBrowse();
    Timer_Browse->start();
    Button_Browse->setEnabled(false);
}

void TForm_FW_Download_Main::Timer_BrowseTimer() {
    EndBrowse();
}

void TForm_FW_Download_Main::AdvStringGrid_NodesOnlineClickCell(int row, int) {
    Button_DownloadFirmware->setEnabled(NodePresentInRow(row));
}

void TForm_FW_Download_Main::AdvStringGrid_NodesOnlineDblClickCell(int row, int) {
    openNodeOfRow(row);
}

void TForm_FW_Download_Main::Button_DownloadFirmwareClick() {
    openNodeOfRow(AdvStringGrid_NodesOnline->Row());
}

void TForm_FW_Download_Main::openNodeOfRow(int row) {
    if (NodePresentInRow(row))
        OpenDownloadWindow(static_cast<std::uint8_t>(NodeRowMap[static_cast<std::size_t>(row)]));
}

std::int32_t TForm_FW_Download_Main::OpenDownloadWindow(std::uint8_t node) {
    // A CANopen node without the firmware objects that has standard program download gets
    // the program window instead.
    if (auto* copn = dynamic_cast<TCOPN_Downloader*>(Downloader.get());
        copn && copn->copnInterface &&
        TProgramDownload(*copn->copnInterface, node).IsStandardNode()) {
        EndBrowse();
        TForm_ProgramDownload window(*copn->copnInterface, node, this);
        window.Refresh();
        window.exec();
        return 1;
    }
    if (!Form_FW_Download)
        Form_FW_Download = std::make_unique<TForm_FW_Download>();
    Form_FW_Download->Downloader = Downloader.get();
    if (Downloader)
        Downloader->Node = node;
    EndBrowse();
    Form_FW_Download->exec();
    return 1;
}

void TForm_FW_Download_Main::VersionInfo1Click() {
    if (Downloader)
        Downloader->VersionInformationWindow();
}

void TForm_FW_Download_Main::VersionInfo2Click() {
    VersionInfo1Click();
}

void TForm_FW_Download_Main::About1Click() {
    if (AboutBox)
        AboutBox->exec();
}
