#pragma once

#include "CanOpen.h"
#include "Sdo.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace bus::canopen {

enum class SdoStatus : std::uint8_t {
    Idle,    // no transfer started yet
    Running, // waiting for the server
    Done,    // the transfer succeeded
    Failed,  // aborted, by the server or by this client (see SdoResult)
};

struct SdoResult {
    SdoStatus status = SdoStatus::Idle;
    // Failed: the abort code, and who aborted: the server (it sent the code), or this client
    // (it sent the code to the server: time-out, wrong toggle, unknown command, length).
    std::uint32_t abortCode = 0;
    bool abortedByServer = false;
    // Upload: the bytes delivered, at most the capacity asked for.
    std::vector<std::uint8_t> data;
    // Upload: the value's full length as the server sent it (more than data.size() when the
    // capacity cut it). Download: the bytes written.
    std::size_t size = 0;
    // Upload: an expedited answer that did not state its size (e=1, s=0). Its four bytes are
    // then all in size; the entry's own type tells how many of them (from the lowest) count.
    bool sizeUnstated = false;
};

// The client side of one SDO channel, to the default SDO server of one node: one upload
// (read) or download (write) at a time, expedited or segmented. A running transfer that
// does not hear from the server within the time-out of its last request is aborted with
// 0x05040000, and the client sends that abort to the server.
//
// Answers that cannot belong to the running transfer are dropped rather than taken as a
// fault, since a server may answer an aborted transfer late, and CAN may deliver a frame
// twice: while an initiate answer is awaited, segment answers and initiate answers for
// another index or sub-index are ignored; an abort counts only for the transfer's own index
// and sub-index; a frame identical to the answer taken last is a repeat. A frame of fewer
// than eight bytes from the server ends the transfer at once (abort 0x05040001).
//
// Step functions: the caller sends the frames of every Output it gets, feeds every frame
// received on the bus to OnFrame (frames of other COB-IDs are ignored) and calls OnTime when
// the deadline comes. Not thread-safe: one caller at a time.
class SdoClient {
public:
    static constexpr std::chrono::milliseconds DefaultTimeout{500};

    explicit SdoClient(std::uint8_t node, std::chrono::milliseconds timeout = DefaultTimeout);

    std::uint8_t Node() const { return node_; }
    // For the requests sent from now on.
    void SetTimeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }
    std::chrono::milliseconds Timeout() const { return timeout_; }

    // Reads index:subIndex, keeping at most capacity bytes (a longer value is still read to
    // its end, and cut). Nothing (and no change) while a transfer runs.
    std::optional<Output> StartUpload(std::uint16_t index, std::uint8_t subIndex,
                                      std::size_t capacity, TimePoint now);
    // Writes the bytes to index:subIndex: expedited for 1 to 4 bytes, else segmented.
    // Nothing (and no change) while a transfer runs.
    std::optional<Output> StartDownload(std::uint16_t index, std::uint8_t subIndex,
                                        std::vector<std::uint8_t> data, TimePoint now);

    Output OnFrame(const CanFrame& frame, TimePoint now);
    Output OnTime(TimePoint now);
    // Ends the running transfer, sending the abort code to the server; nothing when idle.
    Output Abort(std::uint32_t code);

    bool Busy() const { return result_.status == SdoStatus::Running; }
    const SdoResult& Result() const { return result_; }

private:
    enum class Phase : std::uint8_t {
        Idle,
        UploadInitiate,
        UploadSegment,
        DownloadInitiate,
        DownloadSegment
    };

    Output request(const CanFrame& frame, TimePoint now);
    Output fail(std::uint32_t code); // aborts: sends the code, ends the transfer
    Output finish();
    Output nextDownloadSegment(TimePoint now);
    bool sameObject(const CanFrame& frame) const;
    bool initiating() const {
        return phase_ == Phase::UploadInitiate || phase_ == Phase::DownloadInitiate;
    }

    const std::uint8_t node_;
    std::chrono::milliseconds timeout_;

    Phase phase_ = Phase::Idle;
    std::uint16_t index_ = 0;
    std::uint8_t subIndex_ = 0;
    TimePoint deadline_ = NoDeadline;
    bool toggle_ = false;
    // Upload
    std::size_t capacity_ = 0;
    std::optional<std::size_t> announced_;
    // Download
    std::vector<std::uint8_t> outgoing_;
    std::size_t sentBytes_ = 0;
    bool lastSegmentSent_ = false;
    // The server's answer taken last in this transfer, to know a repeat of it.
    std::optional<CanFrame> lastAnswer_;

    SdoResult result_;
};

} // namespace bus::canopen
