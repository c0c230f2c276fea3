// One download: the HEX file, the worker and the progress dialog, and the judgement of
// how it went.

#include "Application.h"
#include "Form_DownloadProgress.h"
#include "Form_FW_Download.h"
#include "IntelHexFile.h"
#include "MessageBox.h"
#include "Thread_Download.h"

std::int32_t TForm_FW_Download::RunDownload(std::uint8_t sector, const char* fileName) {
    if (!Downloader)
        return 0;
    auto file = std::make_unique<TIntelHexFile>();
    if (!file->Open(fileName)) {
        // The sector has been erased for this file: never leave that without a word.
        RetrieveSectorTable();
        Application->MessageBox("Download Error", "Warning", MB_OK);
        return 0;
    }
    return RunDownload(sector, std::move(file));
}

std::int32_t TForm_FW_Download::RunDownload(std::uint8_t sector,
                                            std::unique_ptr<TIntelHexFile> file) {
    if (!Downloader || !file)
        return 0;
    TargetSector = sector;
    HexFile = file.release();
    Form_DownloadProgress = new TForm_DownloadProgress(this);
    Worker = new Thread_Download(this);
    Worker->SetPriority(TThreadPriority::Highest);
    Worker->Start();

    Form_DownloadProgress->RunModal();
    // Whatever ended the dialog's loop but the worker's Finish (Cancel, Esc, the close box,
    // the application quitting) stops the worker at its next record. Nothing is judged,
    // re-read or destroyed before it has ended; a node call under way may take a while.
    if (!Form_DownloadProgress->FinishedByWorker())
        Form_DownloadProgress->Cancelled = 1;
    {
        HourGlassCursor hourglass;
        Worker->WaitFor();
    }

    const bool cancelled = Form_DownloadProgress->Cancelled != 0;
    std::int32_t result = 0;
    if (!Worker->DownloadOk) {
        RetrieveSectorTable();
        Application->MessageBox("Download Error", "Warning", MB_OK);
    } else if (!Worker->VerifyOk || cancelled) {
        RetrieveSectorTable();
        Application->MessageBox("Verify Error", "Warning", MB_OK);
    } else {
        result = Downloader->SetSectorChecksum(sector);
        RetrieveSectorTable();
        if (result)
            Application->MessageBox("Download Successful", "Success", MB_OK);
        else
            Application->MessageBox("Could Not Write Checksum", "Error", MB_OK);
    }

    delete Worker;
    Worker = nullptr;
    delete HexFile;
    HexFile = nullptr;
    delete Form_DownloadProgress;
    Form_DownloadProgress = nullptr;
    return result;
}
