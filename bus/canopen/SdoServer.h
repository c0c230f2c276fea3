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

struct SdoReadResult {
    std::uint32_t abortCode = 0; // 0: data holds the entry's value
    std::vector<std::uint8_t> data;
};

// The entries of a node, as its SDO server reaches them. Entries are read and written
// whole: a segmented download hands over all its bytes at once, at its end.
class ObjectDictionary {
public:
    virtual ~ObjectDictionary() = default;

    // The entry's value, or an abort code: SdoAbort::NoObject, NoSubIndex, WriteOnly, …
    virtual SdoReadResult Read(std::uint16_t index, std::uint8_t subIndex) = 0;
    // Stores the value; 0, or an abort code: NoObject, NoSubIndex, ReadOnly,
    // LengthMismatch, CannotStore, CannotStoreState, …
    virtual std::uint32_t Write(std::uint16_t index, std::uint8_t subIndex,
                                const std::vector<std::uint8_t>& data) = 0;
    // Asked when a segmented or block download begins (size: as the client announced it, if it
    // did), so that a write that cannot succeed is refused before its data crosses the bus.
    virtual std::uint32_t CheckWrite(std::uint16_t /*index*/, std::uint8_t /*subIndex*/,
                                     std::optional<std::size_t> /*size*/) {
        return 0;
    }
};

// The default SDO server of one node: expedited, segmented and block transfers both ways over
// the node's object dictionary, answering on 0x580+n to requests on 0x600+n. A new initiate
// request ends any transfer in progress and starts afresh, except while the segments of a
// block download come: then byte 0 is a sequence number, and only 0x80 (the client's abort)
// ends it. A block download's initiate that comes again during it is a repeat (CAN may
// deliver a frame twice), not a segment and not a new transfer. A transfer that hears nothing from
// its client for the time-out is aborted with 0x05040000.
//
// Block transfers check the value's CRC when the client supports it (this server always
// does); a block download hands the whole value to Write at its end, as a segmented one. The
// protocol switch threshold of a block upload initiate is not acted on: the value goes in
// blocks whatever its size.
//
// Step functions, as SdoClient; not thread-safe.
class SdoServer {
public:
    static constexpr std::chrono::milliseconds DefaultTimeout{1000};
    // The most bytes a segmented download may bring; more is refused with OutOfMemory.
    static constexpr std::size_t MaxDownloadSize = 1 << 20;

    SdoServer(std::uint8_t node, ObjectDictionary& dictionary,
              std::chrono::milliseconds timeout = DefaultTimeout);

    std::uint8_t Node() const { return node_; }
    void SetTimeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }
    // Whether an expedited upload answer states its size (on by default: command 0x43 to
    // 0x4F, the unused bytes counted). Off, as some nodes answer, it is 0x42: the value in the
    // low bytes, the rest 0, and the client knows the entry's size from elsewhere.
    void SetSizeIndicated(bool on) { sizeIndicated_ = on; }
    // The segments a block download's client may send in one sub-block, 1 to 127 (others
    // are not taken); from the next block download on.
    void SetBlockSize(std::uint8_t blockSize);
    std::uint8_t BlockSize() const { return blockSize_; }
    // Whether block transfers are served (on by default). Off, their initiate requests are
    // answered with 0x05040001, as a server without them answers.
    void SetBlockTransfer(bool on) { blockTransfer_ = on; }

    Output OnFrame(const CanFrame& frame, TimePoint now);
    Output OnTime(TimePoint now);
    // The frames given to send so far have all gone out by `at`: the client's next request
    // gets the whole time-out from then (a deadline only moves later). A sub-block of a block
    // upload may take longer on the wire than the time-out itself.
    Output FramesSent(TimePoint at);
    // Forgets a transfer in progress without a word (the node restarts its communication).
    void Reset();
    bool Busy() const { return phase_ != Phase::Idle; }

private:
    enum class Phase : std::uint8_t {
        Idle,
        Uploading,
        Downloading,
        BlockDownloadSubBlock, // segments coming
        BlockDownloadEnd,
        BlockUploadStart,    // the initiate answered, the go-ahead awaited
        BlockUploadSubBlock, // the sub-block sent, its acknowledgement awaited
        BlockUploadEnd,
    };

    Output reply(const CanFrame& frame, TimePoint now);
    Output abort(std::uint16_t index, std::uint8_t subIndex, std::uint32_t code);
    Output initiateDownload(const CanFrame& frame, TimePoint now);
    Output downloadSegment(const CanFrame& frame, TimePoint now);
    Output initiateUpload(const CanFrame& frame, TimePoint now);
    Output uploadSegment(const CanFrame& frame, TimePoint now);
    Output waiting() const;
    Output blockRequest(const CanFrame& frame, TimePoint now);
    // The abort for a download that cannot succeed (its announced size beyond
    // MaxDownloadSize, or refused by the dictionary's CheckWrite), before its data crosses the
    // bus; nothing when it may go on.
    std::optional<Output> refusedDownload(std::uint16_t index, std::uint8_t subIndex);
    Output initiateBlockDownload(const CanFrame& frame, TimePoint now);
    Output blockDownloadSegment(const CanFrame& frame, TimePoint now);
    Output blockDownloadEnd(const CanFrame& frame, TimePoint now);
    Output initiateBlockUpload(const CanFrame& frame, TimePoint now);
    Output blockUploadStep(const CanFrame& frame, TimePoint now);
    Output sendSubBlock(TimePoint now);
    Output outOfPlace(); // a request that belongs to no transfer in progress

    const std::uint8_t node_;
    ObjectDictionary& dictionary_;
    std::chrono::milliseconds timeout_;
    bool sizeIndicated_ = true;
    bool blockTransfer_ = true;
    std::uint8_t blockSize_ = 127;

    Phase phase_ = Phase::Idle;
    std::uint16_t index_ = 0;
    std::uint8_t subIndex_ = 0;
    bool toggle_ = false;
    // The last segment or segment request taken in this transfer: the same frame again is
    // CAN's double reception, not a new segment, and is let pass.
    std::optional<CanFrame> lastSegment_;
    TimePoint deadline_ = NoDeadline;
    std::vector<std::uint8_t> buffer_; // the value going up, or the bytes coming down
    std::size_t offset_ = 0;           // upload: bytes sent
    std::optional<std::size_t> announced_;
    bool crc_ = false;       // block transfer: both sides check the CRC
    CanFrame blockInitiate_; // a block download's initiate, to know a repeat of it
    SdoBlockSender sender_;
    SdoBlockReceiver receiver_;
};

} // namespace bus::canopen
