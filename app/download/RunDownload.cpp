// One download: the HEX file, the worker and the progress dialog; the update procedures
// judge how it went.

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
    return procedures().RunDownload(sector, std::move(file)).Ok() ? 1 : 0;
}

TransferOutcome TForm_FW_Download::transfer(std::uint8_t sector,
                                            std::unique_ptr<TIntelHexFile> file) {
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
    TransferOutcome outcome;
    outcome.downloadOk = Worker->DownloadOk != 0;
    outcome.verifyOk = Worker->VerifyOk != 0;
    outcome.cancelled = Form_DownloadProgress->Cancelled != 0;
    return outcome;
}

// The dialog stays until the outcome has been told: it shows how far the download came.
void TForm_FW_Download::endTransfer() {
    delete Worker;
    Worker = nullptr;
    delete HexFile;
    HexFile = nullptr;
    delete Form_DownloadProgress;
    Form_DownloadProgress = nullptr;
}
