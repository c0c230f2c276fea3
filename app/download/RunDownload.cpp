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
    TargetSector = sector;
    HexFile = new TIntelHexFile;
    if (!HexFile->Open(fileName)) {
        delete HexFile;
        HexFile = nullptr;
        return 0;
    }
    Form_DownloadProgress = new TForm_DownloadProgress(this);
    Worker = new Thread_Download(this);
    Worker->SetPriority(TThreadPriority::Highest);
    Worker->Start();

    Form_DownloadProgress->RunModal();
    // Cancel closes the dialog at once; the worker stops within a record. Nothing is
    // judged, re-read or destroyed before it has ended.
    Worker->WaitFor();

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
