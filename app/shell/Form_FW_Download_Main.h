#pragma once

#include "NodeType.h"

#include <QMainWindow>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class FormScale;
class QAction;
class QGroupBox;
class QHBoxLayout;
class QLabel;
class QMenu;
class QPushButton;
class QStatusBar;
class QTimer;
class QVBoxLayout;
class TAboutBox;
class TFirmware_Downloader;
class TForm_FW_Download;
class TStringGrid;
class TThread_NodesOnline;

// The main window: how the PC reaches the bus (the interface panel), network access on and
// off, the nodes present on the bus, and the way into the download window for one of them.
class TForm_FW_Download_Main : public QMainWindow {
    Q_OBJECT
public:
    static constexpr const char* RegistryKey = "\\Software\\Quorvane, LLC.\\Zandrel\\";
    static constexpr int NodeRows = 64;
    static constexpr std::uint32_t NoNode = 255;
    static constexpr std::uint32_t DefaultBrowseTime = 15000;

    explicit TForm_FW_Download_Main(QWidget* parent = nullptr);
    ~TForm_FW_Download_Main() override;

    // Controls.
    QGroupBox* GroupBox_Interface;
    QLabel* Image_Interface;
    QMenu* PopupMenu_DNetInterface;
    QAction* Configuration1;
    QAction* VersionInfo2;
    QLabel* StaticText2;
    QLabel* StaticText_InterfaceType;
    QLabel* StaticText_InterfaceConfigLabel1;
    QLabel* StaticText_InterfaceConfig1;
    QLabel* StaticText_InterfaceConfigLabel2;
    QLabel* StaticText_InterfaceConfig2;
    QLabel* StaticText3;
    QLabel* StaticText_NetworkBaud;
    QLabel* StaticText4;
    QLabel* StaticText_Id;
    QPushButton* Button_NetworkStart;
    QPushButton* Button_Browse;
    QPushButton* Button_NetworkStop;
    TStringGrid* AdvStringGrid_NodesOnline;
    QPushButton* Button_DownloadFirmware;
    QStatusBar* StatusBar1;
    QLabel* StatusPanel; // the status bar's one panel
    QTimer* Timer_Browse;
    QAction* Configuration2;
    QAction* About1;
    QAction* VersionInfo1;

    // Set by the program entry before the window is shown.
    TNodeType NodeType = NodeTypeNone;
    TAboutBox* AboutBox = nullptr;
    // Makes the downloader of a node type (null where there is none yet).
    std::function<std::unique_ptr<TFirmware_Downloader>(TNodeType)> CreateDownloader;

    std::unique_ptr<TFirmware_Downloader> Downloader;
    TThread_NodesOnline* NodesOnlineThread = nullptr;
    std::unique_ptr<TForm_FW_Download> Form_FW_Download;
    // The downloader's Online table as of the last grid fill, and the node of each grid row.
    std::uint32_t OnlineCopy[128] = {};
    std::vector<std::uint32_t> NodeRowMap;

    // Event handlers.
    void FormShow();
    void FormClose();
    void Button_NetworkStartClick();
    void Button_NetworkStopClick();
    void Configuration1Click();
    void Configuration2Click();
    void VersionInfo1Click();
    void VersionInfo2Click();
    void About1Click();
    void Button_BrowseClick();
    void Timer_BrowseTimer();
    void AdvStringGrid_NodesOnlineClickCell(int row, int col);
    void AdvStringGrid_NodesOnlineDblClickCell(int row, int col);
    void Button_DownloadFirmwareClick();

    // Window procedures.
    void RefreshInterfacePanel();
    std::int32_t FillNodesOnlineGrid();
    std::int32_t EndBrowse();
    std::int32_t OpenDownloadWindow(std::uint8_t node);
    bool NodePresentInRow(int row) const;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void buildMenus();
    QGroupBox* buildInterfacePanel(QWidget* central, const FormScale& scale);
    void buildInterfaceLines(QHBoxLayout* panel, const FormScale& scale);
    void buildNetworkButtons(QHBoxLayout* panel);
    void buildNodeList(QWidget* central, QVBoxLayout* layout, const FormScale& scale);
    void buildStatusBar(const FormScale& scale);
    void connectControls();
    void configureInterface();
    void stopNetworkAccess();
    void openNodeOfRow(int row);
    void setSecondLine(const QString& label, const QString& value, bool shown);

    bool shown_ = false;
};
