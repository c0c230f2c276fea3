#include "SdoChannel.h"

#include "SpinWait.h"

#include <utility>

namespace copn {

using bus::CanFrame;
using bus::canopen::Output;
using bus::canopen::SdoClient;
using bus::canopen::SdoResult;
using bus::canopen::SdoStatus;
using bus::canopen::SdoAbort::General;

SdoChannel::SdoChannel(std::uint8_t node, Send send, MasterClock clock, Immediate immediate)
    : node_(node), send_(std::move(send)), clock_(std::move(clock)),
      immediate_(std::move(immediate)), client_(node) {}

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

void SdoChannel::OnFrame(const CanFrame& frame) {
    {
        std::lock_guard lock(mutex_);
        if (!listening_)
            return;
        inbox_.push_back(frame);
        arrived_.fetch_add(1, std::memory_order_release);
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

SdoResult SdoChannel::run(const Start& start, std::chrono::milliseconds timeout) {
    std::lock_guard transfer(transfer_);
    {
        std::lock_guard lock(mutex_);
        if (shutDown_)
            return giveUp(true);
        inbox_.clear();
        listening_ = true; // before the request goes out: the answer may come at once
    }
    client_.SetTimeout(timeout);
    const std::optional<Output> started = start(client_, clock_());
    TimePoint deadline = NoDeadline;
    const bool spin = immediate_ && immediate_();
    bool sent = started && sendAll(*started);
    if (started)
        deadline = started->deadline;

    while (sent && client_.Busy()) {
        std::deque<CanFrame> frames;
        {
            // On a bus without a wire the answer is microseconds away: look for it before
            // sleeping. Anywhere else it is a frame time or more away, and the wait sleeps.
            if (spin) {
                const std::uint64_t seen = arrived_.load(std::memory_order_acquire);
                bus::SpinBriefly([&] { return arrived_.load(std::memory_order_acquire) != seen; });
            }
            std::unique_lock lock(mutex_);
            WaitUntil(changed_, lock, clock_, deadline,
                      [&] { return !inbox_.empty() || shutDown_; });
            if (shutDown_)
                break;
            frames.swap(inbox_);
        }
        for (const CanFrame& frame : frames) {
            if (!client_.Busy())
                break;
            const Output out = client_.OnFrame(frame, clock_());
            deadline = out.deadline;
            sent = sendAll(out);
            if (!sent)
                break;
        }
        if (sent && client_.Busy()) {
            const TimePoint now = clock_();
            if (now >= deadline) {
                const Output out = client_.OnTime(now);
                deadline = out.deadline;
                sent = sendAll(out);
            }
        }
    }

    {
        std::lock_guard lock(mutex_);
        listening_ = false;
        inbox_.clear();
    }
    if (client_.Busy() || !started) // cut short: a frame that did not go, or the shutdown
        return giveUp(sent);
    return client_.Result();
}

bool SdoChannel::sendAll(const Output& output) {
    for (const CanFrame& frame : output.frames)
        if (!send_(frame))
            return false;
    return true;
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
