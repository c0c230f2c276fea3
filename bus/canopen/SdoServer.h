#pragma once

#include "CanOpen.h"
#include "Sdo.h"

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
    // Asked when a segmented download begins (size: as the client announced it, if it did),
    // so that a write that cannot succeed is refused before its data crosses the bus.
    virtual std::uint32_t CheckWrite(std::uint16_t /*index*/, std::uint8_t /*subIndex*/,
                                     std::optional<std::size_t> /*size*/) {
        return 0;
    }
};

// The default SDO server of one node: expedited and segmented transfers both ways over the
// node's object dictionary, answering on 0x580+n to requests on 0x600+n. A new initiate
// request ends any transfer in progress and starts afresh. A segmented transfer that hears
// nothing from its client for the time-out is aborted with 0x05040000.
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

    Output OnFrame(const CanFrame& frame, TimePoint now);
    Output OnTime(TimePoint now);
    // Forgets a transfer in progress without a word (the node restarts its communication).
    void Reset();
    bool Busy() const { return phase_ != Phase::Idle; }

private:
    enum class Phase : std::uint8_t { Idle, Uploading, Downloading };

    Output reply(const CanFrame& frame, TimePoint now);
    Output abort(std::uint16_t index, std::uint8_t subIndex, std::uint32_t code);
    Output initiateDownload(const CanFrame& frame, TimePoint now);
    Output downloadSegment(const CanFrame& frame, TimePoint now);
    Output initiateUpload(const CanFrame& frame, TimePoint now);
    Output uploadSegment(const CanFrame& frame, TimePoint now);
    Output waiting() const;

    const std::uint8_t node_;
    ObjectDictionary& dictionary_;
    std::chrono::milliseconds timeout_;
    bool sizeIndicated_ = true;

    Phase phase_ = Phase::Idle;
    std::uint16_t index_ = 0;
    std::uint8_t subIndex_ = 0;
    bool toggle_ = false;
    TimePoint deadline_ = NoDeadline;
    std::vector<std::uint8_t> buffer_; // the value going up, or the bytes coming down
    std::size_t offset_ = 0;           // upload: bytes sent
    std::optional<std::size_t> announced_;
};

} // namespace bus::canopen
