#pragma once

#include "CopnClock.h"
#include "TransferSteps.h"
#include "canopen/SdoClient.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace copn {

// The master's SDO client channel to the default SDO server of one node. One transfer runs
// at a time; a caller that comes while one runs waits its turn. The calling thread runs its
// transfer to the end (StepToEnd): it steps the client with each frame the server sends
// (put in its inbox by the port's delivery thread) and with the time when the client's
// deadline comes, waiting on a condition variable in between.
//
// A transfer fails when the server aborts it, when it times out (the client then sends abort
// 0x05040000), when the client finds the server's answer wrong (a toggle bit, a command, a
// length: it sends the abort), when a frame cannot be sent, and when the channel shuts down
// (the last two end with abort code 0x08000000, general error).
class SdoChannel {
public:
    using Send = std::function<bool(const bus::CanFrame&)>;
    // Whether answers come within microseconds (see CanPort::Immediate): then a transfer looks
    // for its answer a moment before it sleeps.
    using Immediate = std::function<bool()>;
    // How long the frames sent still need to cross the wire (see CanPort::Backlog): a
    // request's time-out counts from when it has gone out.
    using Backlog = std::function<std::chrono::nanoseconds()>;

    SdoChannel(std::uint8_t node, Send send, MasterClock clock, Immediate immediate = {},
               Backlog backlog = {});
    SdoChannel(const SdoChannel&) = delete;
    SdoChannel& operator=(const SdoChannel&) = delete;

    std::uint8_t Node() const { return node_; }

    // Reads the entry, keeping at most capacity bytes of its value (a longer value is read to
    // its end and cut).
    bus::canopen::SdoResult Upload(std::uint16_t index, std::uint8_t subIndex, std::size_t capacity,
                                   std::chrono::milliseconds timeout);
    // Writes the bytes to the entry: expedited for 1 to 4 bytes, segmented for more.
    bus::canopen::SdoResult Download(std::uint16_t index, std::uint8_t subIndex,
                                     std::vector<std::uint8_t> data,
                                     std::chrono::milliseconds timeout);

    // Called on the calling thread as a download goes on, with the bytes the server has
    // taken and the whole; false ends the transfer (abort 0x08000000 goes to the server).
    using Progress = std::function<bool(std::size_t done, std::size_t total)>;

    // A block transfer (segmented or expedited where the server has none).
    bus::canopen::SdoResult BlockDownload(std::uint16_t index, std::uint8_t subIndex,
                                          std::vector<std::uint8_t> data,
                                          std::chrono::milliseconds timeout,
                                          const Progress& progress = {});
    bus::canopen::SdoResult BlockUpload(std::uint16_t index, std::uint8_t subIndex,
                                        std::size_t capacity, std::chrono::milliseconds timeout);
    // The sub-blocks a block upload asks for.
    static constexpr std::uint8_t UploadBlockSize = 127;

    // On the port's delivery thread: a frame from the node's SDO server. Kept for the
    // transfer that runs; dropped when none does.
    void OnFrame(const bus::CanFrame& frame);

    // Wakes a waiting transfer to look at the clock again.
    void Poke();
    // True once a transfer's first frames have gone out and their time is taken: from then
    // on it waits for the answer or its time-out (for a clock a test drives).
    bool Waiting() const { return waiting_.load(); }
    // Ends the transfer that runs, and refuses every later one.
    void Shutdown();

private:
    using Start =
        std::function<std::optional<bus::canopen::Output>(bus::canopen::SdoClient&, TimePoint)>;
    // progress, when given, is told of a download of total bytes.
    bus::canopen::SdoResult run(const Start& start, std::chrono::milliseconds timeout,
                                const Progress& progress = {}, std::size_t total = 0);
    bus::canopen::SdoResult giveUp(bool canSend);

    const std::uint8_t node_;
    const Send send_;
    const MasterClock clock_;
    const Immediate immediate_;
    const Backlog backlog_;

    std::mutex transfer_; // held by the caller whose transfer runs

    std::mutex mutex_; // guards what follows
    std::condition_variable changed_;
    bus::canopen::SdoClient client_; // stepped by the caller whose transfer runs
    drivercore::Inbox inbox_;
    bool listening_ = false;
    std::atomic<bool> waiting_{false};
    bool shutDown_ = false;
    // No transfer begins before this: the frames of one that timed out may still come.
    TimePoint quietUntil_{};
};

} // namespace copn
