// The sector operations of the download window and the one-button standard update: each
// button runs its update procedure, which asks and tells through the window.

#include "Form_FW_Download.h"
#include "StringGrid.h"

std::int32_t TForm_FW_Download::EraseSectorAndRefresh(std::uint8_t sector) {
    return procedures().EraseSectorAndRefresh(sector);
}

std::int32_t TForm_FW_Download::DownloadSector(std::uint8_t sector) {
    return procedures().DownloadSector(sector).Ok() ? 1 : 0;
}

// The node's table no longer holds (no downloader, or the node restarted).
void TForm_FW_Download::forgetTable() {
    ClearSectorTable();
    SectorTableValid = 0;
}

void TForm_FW_Download::Button_EraseModuleClick() {
    std::uint8_t s;
    if (!Downloader || !SelectedSector(&s))
        return;
    procedures().EraseSector(s);
}

void TForm_FW_Download::Button_UpgradeClick() {
    std::uint8_t s;
    if (!Downloader || !SelectedSector(&s))
        return;
    procedures().UpgradeSector(s);
}

void TForm_FW_Download::Button_MakeActiveClick() {
    std::uint8_t s;
    if (!Downloader) {
        forgetTable();
        return;
    }
    if (!SelectedSector(&s))
        return;
    procedures().MakeBootSector(s);
}

void TForm_FW_Download::Button_ExecuteClick() {
    if (!Downloader)
        return;
    // Row 1 is sector 0, the loader that runs the node in download mode: nothing to ask the
    // node, whether or not its description could be read.
    std::uint8_t s = 0;
    if (AdvStringGrid_Modules->Row() != 1 && !SelectedSector(&s))
        return;
    if (procedures().ExecuteSector(s).Ok())
        close();
}

void TForm_FW_Download::Button_RebootNodeClick() {
    if (!Downloader)
        return;
    if (procedures().RebootNode().Ok())
        close();
}

void TForm_FW_Download::Button1Click() {
    if (procedures().StandardUpdate().Ok())
        close();
}
