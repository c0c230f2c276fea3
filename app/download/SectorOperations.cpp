// The sector operations of the download window and the one-button standard update.

#include "Application.h"
#include "FileOpenDialog.h"
#include "Form_FW_Download.h"
#include "ImageChecks.h"
#include "IntelHexFile.h"
#include "MessageBox.h"
#include "Sleep.h"
#include "StringGrid.h"

#include <optional>
#include <string>

namespace {

int ask(const std::string& text) {
    return Application->MessageBox(text.c_str(), "Caution", MB_YESNOCANCEL);
}

void tell(const char* text, const char* caption) {
    Application->MessageBox(text, caption, MB_OK);
}

// A question whose safe answer is the default: only Yes goes on.
bool confirmRisk(const std::string& text) {
    return Application->MessageBox(text.c_str(), "Warning",
                                   MB_YESNOCANCEL | MB_ICONEXCLAMATION | MB_DEFBUTTON2) == IDYES;
}

} // namespace

std::int32_t TForm_FW_Download::EraseSectorAndRefresh(std::uint8_t sector) {
    if (!Downloader) {
        forgetTable();
        return 0;
    }
    std::int32_t erased = Downloader->EraseSector(sector);
    RetrieveSectorTable();
    return erased;
}

// Asks for the file and reads it through before anything is erased: a file that cannot be
// downloaded whole must not cost the sector its contents. The file stays open from this
// check to the end of the download, so that what is written is what was checked.
std::uint32_t TForm_FW_Download::imageBase() {
    return ImageBaseOf(*Downloader);
}

// The checks made on the chosen file before its sector is erased: it must fit the sector,
// and it must look like firmware for this node unless the user says otherwise.
bool TForm_FW_Download::imageSuitsSector(TIntelHexFile& file, std::uint8_t sector) {
    const std::uint32_t base = imageBase();
    std::optional<HexImageSummary> image;
    {
        HourGlassCursor hourglass;
        image = SummariseHexImage(file, base);
    }
    if (!image) {
        tell("Download Error", "Warning");
        return false;
    }
    // A sector whose size the node did not tell is taken to hold whatever the file writes.
    const bool sizeKnown = sector < MaxSectors && sizeKnown_[sector];
    const std::string refusal =
        SectorRefusal(*image, base, sector, sizeKnown ? sectorSize_[sector] : 0xFFFFFFFFu);
    if (!refusal.empty()) {
        Application->MessageBox(refusal.c_str(), "Error", MB_OK);
        return false;
    }
    const std::string question =
        ImageQuestion(image->Header, NodeFirmware(Sectors, sectorRead_, MaxSectors, BootSector,
                                                  ApplicationSector));
    return question.empty() || confirmRisk(question);
}

std::unique_ptr<TIntelHexFile> TForm_FW_Download::chooseHexFile(std::uint8_t sector) {
    if (!OpenDialog_DownloadFile->Execute())
        return nullptr;
    auto file = std::make_unique<TIntelHexFile>();
    bool sound;
    {
        HourGlassCursor hourglass;
        sound =
            file->Open(OpenDialog_DownloadFile->FileName.c_str()) && HexFileHoldsValidImage(*file);
    }
    if (!sound) {
        tell("Download Error", "Warning");
        return nullptr;
    }
    if (!imageSuitsSector(*file, sector))
        return nullptr;
    return file;
}

std::int32_t TForm_FW_Download::eraseAndDownload(std::uint8_t sector,
                                                 std::unique_ptr<TIntelHexFile> file) {
    if (!Downloader->EraseSector(sector)) {
        tell("Could Not Erase Sector!", "Error");
        return 0;
    }
    return RunDownload(sector, std::move(file));
}

std::int32_t TForm_FW_Download::DownloadSector(std::uint8_t sector) {
    if (!Downloader) {
        forgetTable();
        return 0;
    }
    auto file = chooseHexFile(sector);
    if (!file)
        return 0;
    return eraseAndDownload(sector, std::move(file));
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
    if (ask("Erase Sector #" + std::to_string(s) + "?") != IDYES)
        return;
    if (s == BootSector &&
        ask("Erasing the active page will set the active page to 0...\r\n       Continue?") !=
            IDYES)
        return;
    if (s == 0 && !confirmRisk("Sector 0 holds the loader the node needs to take new firmware. "
                               "Erase it anyway?"))
        return;
    if (!EraseSectorAndRefresh(s))
        tell("Could Not Erase Sector!", "Error");
    else
        tell("Sector Erased!", "Success");
}

void TForm_FW_Download::Button_UpgradeClick() {
    std::uint8_t s;
    if (!Downloader || !SelectedSector(&s))
        return;
    if (!Sectors[s].IsEmpty()) {
        tell("Sector Not Empty...\r\n\r\nErase Sector First!", "Error");
        return;
    }
    if (ask("Download Sector #" + std::to_string(s) + "?") != IDYES)
        return;
    DownloadSector(s);
}

void TForm_FW_Download::Button_MakeActiveClick() {
    std::uint8_t s;
    if (!Downloader) {
        forgetTable();
        return;
    }
    if (!SelectedSector(&s))
        return;
    if (Sectors[s].IsEmpty()) {
        tell("Sector Empty.\r\n Cannot make current sector the Boot Sector!", "Error");
        return;
    }
    if (ask("Make current sector the Boot Sector?") != IDYES)
        return;
    // A sector whose checksum the node has not confirmed may not start at all.
    if (!checksumConfirmed_[s] &&
        !confirmRisk("The node does not confirm the checksum of sector #" + std::to_string(s) +
                     ". Make it the Boot Sector anyway?"))
        return;
    if (!Downloader->SetBootSector(s))
        tell("Cannot Make Sector Active!", "Warning");
    RetrieveSectorTable();
}

void TForm_FW_Download::Button_ExecuteClick() {
    if (!Downloader)
        return;
    // Row 1 is sector 0, the loader that runs the node in download mode: nothing to ask the
    // node, whether or not its description could be read.
    if (AdvStringGrid_Modules->Row() == 1) {
        tell("Active Sector already running.\r\n", "Information");
        return;
    }
    std::uint8_t s;
    if (!SelectedSector(&s))
        return;
    if (SectorStatus[s] == SectorChecksumError) {
        tell("Cannot Execute Sector!\r\nChecksum Error!", "Error");
        return;
    }
    if (Sectors[s].IsEmpty()) {
        tell("Sector Empty!\r\n Cannot make execute an empty sector!", "Error");
        return;
    }
    if (ask("Execute Sector #" + std::to_string(s) + "?") != IDYES)
        return;
    if (s != BootSector) {
        int answer = ask("Do you want to make this the boot sector?\r\nIf you choose \"No\" this "
                         "sector will only be active until power cycle or reset!\r\n");
        if (answer == IDYES)
            Downloader->SetBootSector(s);
        else if (answer != IDNO)
            return;
    }
    if (!Downloader->ExecuteSector(s)) {
        tell("Could Not Execute Sector!\r\n Possible Checksum Error", "Error");
        return;
    }
    forgetTable();
    close();
}

void TForm_FW_Download::Button_RebootNodeClick() {
    if (!Downloader)
        return;
    if (Downloader->Reset()) {
        forgetTable();
        close();
    }
}

void TForm_FW_Download::Button1Click() {
    if (!EnsureDownloadMode())
        return;
    RetrieveSectorTable();
    if (MessageBoxA(nullptr, "Are you sure you want to Download New Firmware?\r\n Continue?",
                    "Warning", MB_YESNOCANCEL | MB_ICONEXCLAMATION) != IDYES)
        return;
    // The file is chosen and checked before sector 2 is erased, so that a cancelled choice
    // or a bad file leaves the running firmware in place.
    auto file = chooseHexFile(ApplicationSector);
    if (!file)
        return;
    if (!EraseSectorAndRefresh(ApplicationSector)) {
        Sleep(1000);
        if (!EraseSectorAndRefresh(ApplicationSector)) {
            tell("Could Not Erase Sector!", "Error");
            return;
        }
    }
    if (!eraseAndDownload(ApplicationSector, std::move(file)))
        return;
    if (!Downloader->SetBootSector(ApplicationSector)) {
        tell("Cannot Make Sector Active!", "Warning");
        return;
    }
    if (Application->MessageBox("Sector Download Complete\r\nExecute new Firmware?", "Caution",
                                MB_YESNOCANCEL) != IDYES)
        return;
    if (!Downloader->Reset()) {
        tell("Cannot Execute New Firmware!", "Warning");
        return;
    }
    close();
}
