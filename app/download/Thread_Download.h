#pragma once

#include "RelaxedAtomic.h"
#include "Thread.h"

#include <cstdint>
#include <memory>

class TFirmware_Downloader;
class TForm_FW_Download;
class TIntelHexFile;

// What a download worker works from and reports to. The worker reads File, Node, Sector and
// CancelRequested on its own thread; the three reports run on the thread that waits for it
// (through Synchronize).
class DownloadJob {
public:
    virtual ~DownloadJob() = default;
    virtual TIntelHexFile* File() = 0;
    virtual TFirmware_Downloader* Node() = 0;
    virtual std::uint8_t Sector() = 0;
    virtual bool CancelRequested() = 0;

    virtual void ShowProgress(int percent) = 0;
    virtual void VerifyStarted() = 0;
    virtual void Finished(int percent) = 0;
};

// Status codes the worker leaves in its last-error value beside those of the HEX reader.
enum DownloadStatus : std::int32_t {
    DownloadWriteFailed = -10, // the node refused a block
    VerifyReadFailed = -11,    // a read-back failed after an earlier one had worked
    VerifyMismatch = -12,      // a block read back differs from the file
    DownloadCancelled = -13,   // the user pressed Cancel
};

// Writes a HEX file into its target sector block by block, then reads it back and compares.
// For the download window it reaches the file, the sector, the downloader and the progress
// dialog through the window, and touches no widget itself: progress, the caption of the
// verify pass and the end reach the dialog through Synchronize. Another face gives it a job
// of its own.
class Thread_Download : public TThread {
public:
    explicit Thread_Download(TForm_FW_Download* form);
    explicit Thread_Download(DownloadJob& job);
    ~Thread_Download() override;

    Relaxed<std::uint32_t> DownloadDone{0};
    Relaxed<std::uint32_t> DownloadOk{0};
    std::uint32_t BlockSize = 32;
    Relaxed<std::uint32_t> VerifyDone{0};
    Relaxed<std::uint32_t> VerifyOk{0};

    int DownloadNextRecord();
    int VerifyNextRecord();
    void UpdateProgress(); // on the GUI thread

    // Records between two progress reports.
    static constexpr unsigned RecordsPerProgress = 100;

protected:
    void Execute() override;

private:
    bool runPass(int (Thread_Download::*nextRecord)(), Relaxed<std::uint32_t>& done,
                 unsigned& count);
    bool readRecord(Relaxed<std::uint32_t>& done, std::uint32_t* address, std::uint8_t* length,
                    std::uint8_t* data);
    bool cancelled() const;
    std::int32_t status() const;

    std::unique_ptr<DownloadJob> ownJob_; // the window's job
    DownloadJob& job_;
    // Whether a read-back of the verify pass has worked yet: a node that cannot read back
    // refuses the very first one.
    bool readBackWorked_ = false;
};
