#include "SdoChannel.h"

#include "TransferSteps.h"

#include <algorithm>
#include <utility>

namespace copn {

using bus::CanFrame;
using bus::canopen::Output;
using bus::canopen::SdoClient;
using bus::canopen::SdoResult;
using bus::canopen::SdoStatus;
using bus::canopen::SdoAbort::General;

SdoChannel::SdoChannel(std::uint8_t node, Send send, MasterClock clock, Immediate immediate,
                       Backlog backlog)
    : node_(node), send_(std::move(send)), clock_(std::move(clock)),
      immediate_(std::move(immediate)), backlog_(std::move(backlog)), client_(node) {}

SdoResult SdoChannel::Upload(std::uint16_t index, std::uint8_t subIndex, std::size_t capacity,
                             std::chrono::milliseconds timeout) {
    return run([&](SdoClient& client,
                   TimePoint now) { return client.StartUpload(index, subIndex, capacity, now); },
               timeout);
}

SdoResult SdoChannel::Download(std::uint16_t index, std::uint8_t subIndex,
                               std::vector<std::uint8_t> data, std::chrono::milliseconds timeout) {
    return run(
        [&](SdoClient& client, TimePoint now) {
            return client.StartDownload(index, subIndex, std::move(data), now);
        },
        timeout);
}

SdoResult SdoChannel::BlockDownload(std::uint16_t index, std::uint8_t subIndex,
                                    std::vector<std::uint8_t> data,
                                    std::chrono::milliseconds timeout, const Progress& progress) {
    const std::size_t total = data.size();
    return run(
        [&](SdoClient& client, TimePoint now) {
            return client.StartBlockDownload(index, subIndex, std::move(data), now);
        },
        timeout, progress, total);
}

SdoResult SdoChannel::BlockUpload(std::uint16_t index, std::uint8_t subIndex, std::size_t capacity,
                                  std::chrono::milliseconds timeout) {
    return run(
        [&](SdoClient& client, TimePoint now) {
            return client.StartBlockUpload(index, subIndex, capacity, UploadBlockSize, now);
        },
        timeout);
}

void SdoChannel::OnFrame(const CanFrame& frame) {
    {
        std::lock_guard lock(mutex_);
        if (!listening_)
            return;
        inbox_.Put(frame);
    }
    changed_.notify_all();
}

void SdoChannel::Poke() {
    std::lock_guard lock(mutex_);
    changed_.notify_all();
}

void SdoChannel::Shutdown() {
    std::lock_guard lock(mutex_);
    shutDown_ = true;
    changed_.notify_all();
}

SdoResult SdoChannel::run(const Start& start, std::chrono::milliseconds timeout,
                          const Progress& progress, std::size_t total) {
    std::lock_guard transfer(transfer_);
    std::unique_lock lock(mutex_);
    // After a transfer this client gave up on for want of an answer, its frames may still be
    // on their way (held in an adapter's queue or by a gateway). The next transfer begins
    // once they have had one more time-out to arrive: the server has answered them as strays
    // by then, and none of them can be taken for a frame of the new transfer.
    WaitUntil(changed_, lock, clock_, quietUntil_, [this] { return shutDown_; });
    if (shutDown_)
        return giveUp(true);
    inbox_.Clear();
    listening_ = true; // before the request goes out: the answer may come at once
    client_.SetTimeout(timeout);
    const std::optional<Output> started = start(client_, clock_());
    // The progress is told while frames go out, which is on this thread with the lock let go;
    // the client is stepped only on this thread, so its count may be read then, and it is
    // told there when each frame has gone out: the answer's time-out counts from the last.
    bool stopped = false;
    std::size_t told = 0;
    auto send = [&](const CanFrame& frame) {
        const std::size_t done = client_.DownloadedBytes();
        if (progress && !stopped && done != told) {
            told = done;
            stopped = !progress(done, total);
        }
        if (!send_(frame))
            return false;
        client_.FramesSent(clock_() + (backlog_ ? backlog_() : std::chrono::nanoseconds(0)));
        return true;
    };
    bool sent = false;
    if (started) {
        lock.unlock();
        sent = std::all_of(started->frames.begin(), started->frames.end(), send);
        lock.lock();
    }
    waiting_.store(sent);
    if (sent)
        sent = drivercore::StepToEnd(
            client_, started->deadline, inbox_, lock, changed_, clock_, send,
            [this, &stopped] { return shutDown_ || stopped; }, immediate_ && immediate_());
    if (sent && progress && !stopped && told != total && client_.Result().status == SdoStatus::Done)
        progress(total, total);
    waiting_.store(false);
    listening_ = false;
    inbox_.Clear();
    const SdoResult& result = client_.Result();
    if (!client_.Busy() && result.status == SdoStatus::Failed && !result.abortedByServer &&
        result.abortCode == bus::canopen::SdoAbort::Timeout)
        quietUntil_ = clock_() + timeout;
    lock.unlock();
    if (client_.Busy() || !started) // cut short: a frame that did not go, or the shutdown
        return giveUp(sent);
    return client_.Result();
}

SdoResult SdoChannel::giveUp(bool canSend) {
    if (client_.Busy()) {
        // Tell the server, if the bus still takes frames: after a frame that did not go, the
        // abort would only wait as long again for the same refusal.
        const auto frames = client_.Abort(General).frames;
        if (canSend)
            for (const CanFrame& frame : frames)
                send_(frame);
        return client_.Result();
    }
    SdoResult result;
    result.status = SdoStatus::Failed;
    result.abortCode = General;
    return result;
}

} // namespace copn
