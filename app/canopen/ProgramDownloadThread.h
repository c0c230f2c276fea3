#pragma once

#include "ProgramDownload.h"
#include "Thread.h"

#include <atomic>
#include <cstdint>

// Runs one program download off the GUI thread. The window reads its progress and, once
// Finished(), its outcome; Cancel makes the download stop at its next progress report (the
// driver then aborts the transfer).
class ProgramDownloadThread : public TThread {
public:
    ProgramDownloadThread(TQVX_COPN_Interface& binding, std::uint8_t node, std::uint8_t program,
                          ProgramImage image, TProgramDownload::Options options = {});
    ~ProgramDownloadThread() override;

    void Cancel() { cancel_ = true; }
    std::uint32_t Done() const { return done_; }
    std::uint32_t Total() const { return total_; }
    // Read only once Finished().
    const TProgramDownload::Outcome& Outcome() const { return outcome_; }

protected:
    void Execute() override;

private:
    TProgramDownload download_;
    const std::uint8_t program_;
    const ProgramImage image_;
    const TProgramDownload::Options options_;
    std::atomic<bool> cancel_{false};
    std::atomic<std::uint32_t> done_{0};
    std::atomic<std::uint32_t> total_{0};
    TProgramDownload::Outcome outcome_;
};
