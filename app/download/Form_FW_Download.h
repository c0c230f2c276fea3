#pragma once

#include "Firmware_Downloader.h"
#include "SectorDescription.h"
#include "UpdateProcedures.h"

#include <QColor>
#include <QDialog>
#include <cstdint>
#include <memory>

class FormScale;
class QAction;
class QFrame;
class QLabel;
class QLineEdit;
class QMenuBar;
class QPushButton;
class QStatusBar;
class QTabWidget;
class QVBoxLayout;
class QWidget;
class TForm_DownloadProgress;
class TIntelHexFile;
class TOpenDialog;
class Thread_Download;
class TStringGrid;

// The window in which the user works on one node's firmware sectors: it reads the node's
// sector table into two grids and offers the standard update and the single sector
// operations. One instance serves every node of a run; the main window sets Downloader and
// the downloader's Node before it shows the window modally.
class TForm_FW_Download : public QDialog {
    Q_OBJECT
public:
    static constexpr int MaxSectors = 8;

    explicit TForm_FW_Download(QWidget* parent = nullptr);
    ~TForm_FW_Download() override;

    // Controls.
    QMenuBar* MainMenu1;
    QAction* MenuItem_SetSerialNumber;
    QFrame* Panel1;
    QLabel* StaticText_NodeNumber;
    QLineEdit* Edit_Password;
    QTabWidget* PageControl1;
    QWidget* TabSheet_Standard;
    QWidget* TabSheet_Advanced;
    TStringGrid* AdvStringGrid_Standard;
    QPushButton* Button1;
    TStringGrid* AdvStringGrid_Modules;
    QPushButton* Button_Retrieve;
    QPushButton* Button_EraseModule;
    QPushButton* Button_Upgrade;
    QPushButton* Button_MakeActive;
    QPushButton* Button_Execute;
    QPushButton* Button_RebootNode;
    QStatusBar* StatusLine;
    TOpenDialog* OpenDialog_DownloadFile;

    // The sector table as last read from the node.
    SectorDescription Sectors[MaxSectors];
    std::uint8_t BootSector = 0;
    std::uint32_t SectorTableValid = 0;
    TFirmware_Downloader* Downloader = nullptr;
    std::uint8_t SectorStatus[MaxSectors] = {};

    enum : std::uint8_t { SectorEmpty = 0, SectorOk = 1, SectorChecksumError = 2 };

    // The download in progress (null outside a download).
    TIntelHexFile* HexFile = nullptr;
    std::uint8_t TargetSector = 0;
    Thread_Download* Worker = nullptr;
    TForm_DownloadProgress* Form_DownloadProgress = nullptr;

    // The sector the standard update writes.
    static constexpr std::uint8_t ApplicationSector = UpdateProcedures::ApplicationSector;

    // Event handlers.
    void FormCreate();
    void FormShow();
    void ShowHint();
    void Button_RetrieveClick();
    void AdvStringGrid_ModulesGetCellColor(int row, int col, QColor& brush, QColor& font);
    void AdvStringGrid_StandardGetCellColor(int row, int col, QColor& brush, QColor& font);
    void MenuItem_SetSerialNumberClick();
    void Button_EraseModuleClick();
    void Button_UpgradeClick();
    void Button_MakeActiveClick();
    void Button_ExecuteClick();
    void Button_RebootNodeClick();
    void Button1Click();

    // Window procedures.
    std::int32_t EnsureDownloadMode();
    void RetrieveSectorTable();
    void ClearSectorTable();
    std::int32_t EraseSectorAndRefresh(std::uint8_t sector);
    std::int32_t DownloadSector(std::uint8_t sector);
    std::int32_t RunDownload(std::uint8_t sector, const char* fileName);
    // The same for a file that is already open (and was checked): the download writes
    // exactly the file that was checked, whatever happens to its name meanwhile.
    std::int32_t RunDownload(std::uint8_t sector, std::unique_ptr<TIntelHexFile> file);

    // The sector of the current row of the sector grid, when that row shows a sector whose
    // description was read from the node since the window was last shown.
    bool SelectedSector(std::uint8_t* sector) const;

    // The update procedures the window's buttons run, asking and telling through the window.
    UpdateProcedures& Procedures() { return procedures_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void buildControls();
    void buildMenu(QVBoxLayout* layout);
    void buildNodePanel(QVBoxLayout* layout, const FormScale& scale);
    void buildStandardPage(const FormScale& scale);
    void buildAdvancedPage();
    void buildAdvancedButtons(QVBoxLayout* advanced);
    void connectControls();
    void cellColor(int sector, QColor& brush, QColor& font) const;
    void setSectorRow(int sector, int column, const std::string& text);
    void clearGrids();
    void forgetTable();
    // The procedures' table, shown in both grids.
    void showTable(const SectorTable& table);
    // The download of the open file with the worker behind the modal progress dialog.
    TransferOutcome transfer(std::uint8_t sector, std::unique_ptr<TIntelHexFile> file);
    void endTransfer();
    // The procedures' target: the window's current downloader.
    UpdateProcedures& procedures();

    class Face;
    std::unique_ptr<Face> face_;
    UpdateProcedures procedures_;
};
