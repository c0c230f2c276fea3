#pragma once

#include "CanOpen.h"
#include "Sdo.h"
#include "SdoBlockReceiver.h"
#include "SdoBlockSender.h"

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
    // The transfer went as a block transfer. False for one started as a block transfer that
    // the server refused (0x05040001) and that went expedited or segmented instead.
    bool blockTransfer = false;
};

// The client side of one SDO channel, to the default SDO server of one node: one upload
// (read) or download (write) at a time, expedited, segmented or in blocks. A running transfer that
// does not hear from the server within the time-out of its last request is aborted with
// 0x05040000, and the client sends that abort to the server.
//
// Answers that cannot belong to the running transfer are dropped rather than taken as a
// fault, since a server may answer an aborted transfer late, and CAN may deliver a frame
// twice: while an initiate answer is awaited, segment answers, a block transfer's frames and
// initiate answers for another index or sub-index are ignored; an abort counts only for the
// transfer's own index and sub-index (but for 0x05040001 to a block initiate, the refusal of
// block transfers); a frame identical to the answer taken last is a repeat.
//
// A request's time-out counts from when it has gone out: FramesSent tells the client when the
// frames it gave to send have crossed the wire (a sub-block of 127 segments takes 1.5 s at
// 10 kbit/s, and a busy host may pause between them). A frame of fewer
// than eight bytes from the server ends the transfer at once (abort 0x05040001).
//
// Block transfers check the value's CRC when the server supports it (this client always
// does). While the segments of a block upload come, byte 0 is a sequence number: only 0x80
// is an abort then, and a frame identical to the initiate answer or to the segment taken
// last is a repeat. A sub-block's acknowledgement may legitimately equal the one before it,
// so a block download takes every acknowledgement as it comes; the CRC, checked by the
// server at the end, catches what a doubled one may have cost.
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
    // Writes the bytes to index:subIndex as a block transfer, size indicated, with CRC. A
    // server that answers the initiate with 0x05040001 (no block transfer), whatever object
    // it names, gets the bytes as StartDownload sends them; another abort code ends the
    // transfer when it names this object. Nothing (and no change) while a transfer runs.
    std::optional<Output> StartBlockDownload(std::uint16_t index, std::uint8_t subIndex,
                                             std::vector<std::uint8_t> data, TimePoint now);
    // Reads index:subIndex as a block transfer, in sub-blocks of up to blockSize segments
    // (1 to 127), with CRC and no protocol switch. A value longer than capacity is not cut:
    // the transfer is aborted with 0x05040005 (out of memory) as soon as that is known, and
    // data stays empty. A server that answers the initiate with 0x05040001, whatever object
    // it names, is read segmented or expedited, the value's length checked the same way.
    // Nothing (and no change) while a transfer runs or for a block size out of 1..127.
    std::optional<Output> StartBlockUpload(std::uint16_t index, std::uint8_t subIndex,
                                           std::size_t capacity, std::uint8_t blockSize,
                                           TimePoint now);

    Output OnFrame(const CanFrame& frame, TimePoint now);
    Output OnTime(TimePoint now);
    // The frames given to send so far have all gone out by `at`: the answer awaited gets the
    // whole time-out from then (a deadline only moves later).
    Output FramesSent(TimePoint at);
    // Ends the running transfer, sending the abort code to the server; nothing when idle.
    Output Abort(std::uint32_t code);

    bool Busy() const { return result_.status == SdoStatus::Running; }
    const SdoResult& Result() const { return result_; }
    // How far the running download is: of a block transfer, the bytes of the segments the
    // server acknowledged; of a segmented one, the bytes sent, the last segment's included
    // while its answer is awaited. 0 for an upload and when idle.
    std::size_t DownloadedBytes() const;

private:
    enum class Phase : std::uint8_t {
        Idle,
        UploadInitiate,
        UploadSegment,
        DownloadInitiate,
        DownloadSegment,
        BlockDownloadInitiate,
        BlockDownloadSubBlock, // the sub-block sent, its acknowledgement awaited
        BlockDownloadEnd,
        BlockUploadInitiate,
        BlockUploadSubBlock, // segments coming
        BlockUploadEnd,
    };

    // A new transfer of index:subIndex, running, its first phase given.
    void begin(std::uint16_t index, std::uint8_t subIndex, Phase phase);
    Output request(const CanFrame& frame, TimePoint now);
    Output fail(std::uint32_t code); // aborts: sends the code, ends the transfer
    Output finish();
    Output nextDownloadSegment(TimePoint now);
    bool sameObject(const CanFrame& frame) const;
    bool blockPhase() const { return phase_ >= Phase::BlockDownloadInitiate; }
    Output onBlockFrame(const CanFrame& frame, TimePoint now);
    Output onBlockInitiateAnswer(const CanFrame& frame, TimePoint now);
    Output onBlockDownloadFrame(const CanFrame& frame, TimePoint now);
    Output onBlockUploadFrame(const CanFrame& frame, TimePoint now);
    Output fallBack(TimePoint now); // the server refused the block transfer: the other way
    Output sendSubBlock(TimePoint now);
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
    bool whole_ = false; // a value beyond the capacity fails (0x05040005) rather than cut
    // Download
    std::vector<std::uint8_t> outgoing_;
    std::size_t sentBytes_ = 0;
    bool lastSegmentSent_ = false;
    // Block transfers
    bool crc_ = false;           // both sides check the CRC
    std::uint8_t blockSize_ = 0; // upload: asked for each sub-block
    SdoBlockSender sender_;
    SdoBlockReceiver receiver_;
    // The server's answer taken last in this transfer, to know a repeat of it (of a block
    // transfer: its initiate answer).
    std::optional<CanFrame> lastAnswer_;

    SdoResult result_;
};

} // namespace bus::canopen
