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

// The download window's download: its file, its sector, its downloader, its progress dialog.
class WindowJob : public DownloadJob {
public:
    explicit WindowJob(TForm_FW_Download* form) : form_(form) {}

    TIntelHexFile* File() override { return form_->HexFile; }
    TFirmware_Downloader* Node() override { return form_->Downloader; }
    std::uint8_t Sector() override { return form_->TargetSector; }
    bool CancelRequested() override {
        return form_->Form_DownloadProgress && form_->Form_DownloadProgress->Cancelled;
    }
    void ShowProgress(int percent) override {
        if (auto* dialog = form_->Form_DownloadProgress)
            dialog->CGauge_Progress->SetProgress(percent);
    }
    void VerifyStarted() override {
        if (auto* dialog = form_->Form_DownloadProgress) {
            dialog->setWindowTitle(QStringLiteral("Verify Progress"));
            dialog->repaint();
        }
    }
    void Finished(int percent) override {
        if (auto* dialog = form_->Form_DownloadProgress) {
            dialog->CGauge_Progress->SetProgress(percent);
            dialog->Finish();
        }
    }

private:
    TForm_FW_Download* form_;
};

std::uint32_t blockSizeOf(TFirmware_Downloader* node) {
    // A block is moved with an 8-bit length; a size of 0 would never move anything.
    const std::uint32_t size = node ? static_cast<std::uint32_t>(node->BlockSize) : 32;
    return size == 0 ? 1 : size > 255 ? 255 : size;
}

} // namespace

Thread_Download::Thread_Download(TForm_FW_Download* form)
    : ownJob_(std::make_unique<WindowJob>(form)), job_(*ownJob_) {
    BlockSize = blockSizeOf(job_.Node());
}

Thread_Download::Thread_Download(DownloadJob& job) : job_(job) {
    BlockSize = blockSizeOf(job_.Node());
}

Thread_Download::~Thread_Download() {
    WaitFor();
}

std::int32_t Thread_Download::status() const {
    return static_cast<std::int32_t>(GetLastError());
}

bool Thread_Download::cancelled() const {
    return job_.CancelRequested();
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

    if (DownloadOk && job_.File()) {
        job_.File()->Rewind();
        Synchronize([this] { job_.VerifyStarted(); });
        VerifyOk = runPass(&Thread_Download::VerifyNextRecord, VerifyDone, count) ? 1 : 0;
    }

    Synchronize([this] { job_.Finished(job_.File() ? job_.File()->Percent : 0); });
}

// The next data record of the file; false (and the pass done) at its end or on an error.
bool Thread_Download::readRecord(Relaxed<std::uint32_t>& done, std::uint32_t* address,
                                 std::uint8_t* length, std::uint8_t* data) {
    if (!job_.File() || !job_.Node() || !job_.File()->ReadRecord(address, length, data)) {
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
    TFirmware_Downloader* downloader = job_.Node();
    const auto block = static_cast<std::uint8_t>(BlockSize);
    const std::uint8_t* p = data;
    for (unsigned i = 0; i < length / BlockSize; ++i) {
        if (!downloader->DownloadFirmware(job_.Sector(), address, block, p)) {
            setStatus(DownloadWriteFailed);
            DownloadDone = 1;
            return 0;
        }
        address += BlockSize;
        p += BlockSize;
    }
    // The rest of the record, also when it is empty.
    const auto rest = static_cast<std::uint8_t>(length % BlockSize);
    if (!downloader->DownloadFirmware(job_.Sector(), address, rest, p)) {
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
    TFirmware_Downloader* downloader = job_.Node();
    unsigned done = 0;
    while (done < length) {
        const auto size =
            static_cast<std::uint8_t>(length - done >= BlockSize ? BlockSize : length - done);
        if (!downloader->UploadFirmware(job_.Sector(), address + done, size, readBack + done)) {
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
    if (job_.File())
        job_.ShowProgress(job_.File()->Percent);
    if (job_.CancelRequested()) {
        DownloadDone = 1;
        VerifyDone = 1;
    }
}
