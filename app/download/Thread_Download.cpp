#include "Thread_Download.h"

#include "Form_DownloadProgress.h"
#include "Form_FW_Download.h"
#include "Gauge.h"
#include "IntelHexFile.h"
#include "LastError.h"

#include <cstring>

namespace {
void setStatus(std::int32_t code) {
    SetLastError(static_cast<DWORD>(code));
}
} // namespace

Thread_Download::Thread_Download(TForm_FW_Download* form)
    : BlockSize(form->Downloader ? static_cast<std::uint32_t>(form->Downloader->BlockSize) : 32),
      form_(form) {
    // A block is moved with an 8-bit length; a size of 0 would never move anything.
    if (BlockSize == 0)
        BlockSize = 1;
    if (BlockSize > 255)
        BlockSize = 255;
}

Thread_Download::~Thread_Download() {
    WaitFor();
}

std::int32_t Thread_Download::status() const {
    return static_cast<std::int32_t>(GetLastError());
}

bool Thread_Download::cancelled() const {
    return form_->Form_DownloadProgress && form_->Form_DownloadProgress->Cancelled;
}

// Runs one pass record by record until done is set, reporting progress every
// RecordsPerProgress records (the count goes on from the pass before); true when the pass
// reached the end of the file.
bool Thread_Download::runPass(int (Thread_Download::*nextRecord)(), Relaxed<std::uint32_t>& done,
                              unsigned& count) {
    while (!done) {
        if (cancelled() || !(this->*nextRecord)()) {
            done = 1;
        } else if (++count >= RecordsPerProgress) {
            Synchronize([this] { UpdateProgress(); });
            count = 0;
        }
    }
    if (cancelled())
        setStatus(DownloadCancelled);
    return status() == HexEndOfFile;
}

void Thread_Download::Execute() {
    unsigned count = 0;
    DownloadOk = runPass(&Thread_Download::DownloadNextRecord, DownloadDone, count) ? 1 : 0;

    if (DownloadOk && form_->HexFile) {
        form_->HexFile->Rewind();
        Synchronize([this] {
            if (auto* dialog = form_->Form_DownloadProgress) {
                dialog->setWindowTitle(QStringLiteral("Verify Progress"));
                dialog->repaint();
            }
        });
        VerifyOk = runPass(&Thread_Download::VerifyNextRecord, VerifyDone, count) ? 1 : 0;
    }

    Synchronize([this] {
        if (auto* dialog = form_->Form_DownloadProgress) {
            dialog->CGauge_Progress->SetProgress(form_->HexFile ? form_->HexFile->Percent : 0);
            dialog->Finish();
        }
    });
}

// The next data record of the file; false (and the pass done) at its end or on an error.
bool Thread_Download::readRecord(Relaxed<std::uint32_t>& done, std::uint32_t* address,
                                 std::uint8_t* length, std::uint8_t* data) {
    if (!form_->HexFile || !form_->Downloader ||
        !form_->HexFile->ReadRecord(address, length, data)) {
        done = 1;
        return false;
    }
    return true;
}

int Thread_Download::DownloadNextRecord() {
    std::uint32_t address;
    std::uint8_t length;
    std::uint8_t data[256];
    if (!readRecord(DownloadDone, &address, &length, data))
        return 0;
    TFirmware_Downloader* downloader = form_->Downloader;
    const auto block = static_cast<std::uint8_t>(BlockSize);
    const std::uint8_t* p = data;
    for (unsigned i = 0; i < length / BlockSize; ++i) {
        if (!downloader->DownloadFirmware(form_->TargetSector, address, block, p)) {
            setStatus(DownloadWriteFailed);
            DownloadDone = 1;
            return 0;
        }
        address += BlockSize;
        p += BlockSize;
    }
    // The rest of the record, also when it is empty.
    const auto rest = static_cast<std::uint8_t>(length % BlockSize);
    if (!downloader->DownloadFirmware(form_->TargetSector, address, rest, p)) {
        setStatus(DownloadWriteFailed);
        DownloadDone = 1;
        return 0;
    }
    return 1;
}

int Thread_Download::VerifyNextRecord() {
    std::uint32_t address;
    std::uint8_t length;
    std::uint8_t data[256];
    std::uint8_t readBack[256];
    if (!readRecord(VerifyDone, &address, &length, data))
        return 0;
    TFirmware_Downloader* downloader = form_->Downloader;
    unsigned done = 0;
    while (done < length) {
        const auto size =
            static_cast<std::uint8_t>(length - done >= BlockSize ? BlockSize : length - done);
        if (!downloader->UploadFirmware(form_->TargetSector, address + done, size,
                                        readBack + done)) {
            if (readBackWorked_) {
                setStatus(VerifyReadFailed);
            } else {
                // The node cannot read back: the complete download pass stands.
                setStatus(HexEndOfFile);
            }
            VerifyDone = 1;
            return 0;
        }
        readBackWorked_ = true;
        if (std::memcmp(readBack + done, data + done, size) != 0) {
            setStatus(VerifyMismatch);
            VerifyDone = 1;
            return 0;
        }
        done += size;
    }
    return 1;
}

void Thread_Download::UpdateProgress() {
    auto* dialog = form_->Form_DownloadProgress;
    if (!dialog)
        return;
    if (form_->HexFile)
        dialog->CGauge_Progress->SetProgress(form_->HexFile->Percent);
    if (dialog->Cancelled) {
        DownloadDone = 1;
        VerifyDone = 1;
    }
}
