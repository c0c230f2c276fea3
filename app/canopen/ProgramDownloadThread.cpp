#include "ProgramDownloadThread.h"

ProgramDownloadThread::ProgramDownloadThread(TQVX_COPN_Interface& binding, std::uint8_t node,
                                             std::uint8_t program, ProgramImage image,
                                             TProgramDownload::Options options)
    : download_(binding, node), program_(program), image_(std::move(image)), options_(options) {
    total_ = static_cast<std::uint32_t>(image_.bytes.size());
}

ProgramDownloadThread::~ProgramDownloadThread() {
    Cancel();
    WaitFor();
}

void ProgramDownloadThread::Execute() {
    outcome_ = download_.Download(
        program_, image_,
        [this](std::uint32_t done, std::uint32_t total) {
            done_ = done;
            total_ = total;
            return !cancel_;
        },
        options_);
}
