#pragma once

#include "CanPort.h"
#include "MasterClock.h"
#include "SpinWait.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <utility>
#include <vector>

// How a master's blocking calls drive its protocol engines. An engine (an SDO client, an
// explicit-messaging client) is a plain step function: started, then fed each frame of its
// peer and the time when its deadline comes, each step giving the frames to send and the next
// deadline. The port's delivery thread never steps an engine and never sends: it puts the
// frame in the engine's inbox and wakes the thread that steps it — the caller that waits for
// its transfer, or the master's own thread for the work no caller waits for.
namespace drivercore {

// The frames for one engine, put there on the port's delivery thread and taken by the thread
// that steps the engine, both under the lock that guards the engine.
class Inbox {
public:
    void Put(const bus::CanFrame& frame) {
        frames_.push_back(frame);
        arrived_.fetch_add(1, std::memory_order_release);
    }
    bool Empty() const { return frames_.empty(); }
    std::deque<bus::CanFrame> TakeAll() { return std::exchange(frames_, {}); }
    void Clear() { frames_.clear(); }
    // How many frames were ever put; read without the lock, to spin on.
    std::uint64_t Arrived() const { return arrived_.load(std::memory_order_acquire); }

private:
    std::deque<bus::CanFrame> frames_;
    std::atomic<std::uint64_t> arrived_{0};
};

// Steps the engine's transfer on the calling thread until it ends, stop() holds, or a frame
// does not go out. lock is held on entry and on return and guards the inbox and the engine;
// it is let go while the thread waits (on cv, which whoever puts a frame in the inbox or
// changes stop() notifies) and while it sends. deadline is the one the engine's start gave.
// With spin (answers come within microseconds, see CanPort::Immediate) the thread looks for
// the next frame a moment before it sleeps. False when a frame did not go out: the engine is
// then still busy, for the caller to end.
template <typename Engine, typename Send, typename Stop>
bool StepToEnd(Engine& engine, TimePoint deadline, Inbox& inbox, std::unique_lock<std::mutex>& lock,
               std::condition_variable& cv, const MasterClock& clock, Send&& send, Stop&& stop,
               bool spin) {
    auto sendUnlocked = [&](const std::vector<bus::CanFrame>& frames) {
        if (frames.empty())
            return true;
        lock.unlock();
        bool sent = true;
        for (const bus::CanFrame& frame : frames)
            if (!(sent = send(frame)))
                break;
        lock.lock();
        return sent;
    };
    while (engine.Busy() && !stop()) {
        if (spin && inbox.Empty()) {
            const std::uint64_t seen = inbox.Arrived();
            lock.unlock();
            bus::SpinBriefly([&] { return inbox.Arrived() != seen; });
            lock.lock();
        }
        WaitUntil(cv, lock, clock, deadline,
                  [&] { return !inbox.Empty() || !engine.Busy() || stop(); });
        for (const bus::CanFrame& frame : inbox.TakeAll()) {
            if (!engine.Busy() || stop())
                break;
            const auto out = engine.OnFrame(frame, clock());
            deadline = out.deadline;
            if (!sendUnlocked(out.frames))
                return false;
        }
        if (engine.Busy() && !stop() && clock() >= deadline) {
            const auto out = engine.OnTime(clock());
            deadline = out.deadline;
            if (!sendUnlocked(out.frames))
                return false;
        }
    }
    return true;
}

} // namespace drivercore
