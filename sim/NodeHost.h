#pragma once

#include "BusFaults.h"
#include "CanPort.h"
#include "FolderLock.h"
#include "NetworkFile.h"
#include "NodeNetwork.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace sim {

// Serves the simulated nodes of one network on a CAN port. A node is a step engine:
// OnFrame(frame, now) and OnTime(now) return the frames to send and the time by which it
// wants to be called again. Frames are handed to the node the router names (or to every
// node) on the port's delivery thread; a thread of the host calls the nodes when their time
// comes. The network folder stays locked while the host lives.
//
// The host also makes the network as awkward as its file asks (NetworkBehaviour):
// - a node with an answer delay has everything it sends held for that time and sent, in
//   order, by the host's thread;
// - the bus faults meet the frames the host receives (before they are routed) and those it
//   sends, counted from the start of the network over both directions: a lost frame is
//   dropped, a duplicated one handed on twice, a delayed one held and handed on later by the
//   host's thread (frames after it may overtake it).
// Without them, frames pass straight through and nothing is held.
template <typename Node> class NodeHost {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    static constexpr TimePoint NoDeadline = TimePoint::max();
    // The address of the node a frame is for; EveryNode for all of them; nothing for none.
    static constexpr std::uint8_t EveryNode = 0xFF;
    using Router = std::function<std::optional<std::uint8_t>(const bus::CanFrame&)>;

    NodeHost(std::unique_ptr<FolderLock> lock, std::unique_ptr<bus::CanPort> port,
             const std::string& folder, NodeClock clock, Router router,
             const NetworkBehaviour& behaviour = {})
        : lock_(std::move(lock)), port_(std::move(port)), clock_(std::move(clock)),
          network_(folder, clock_), router_(std::move(router)), faults_(behaviour.bus) {
        for (const auto& [address, milliseconds] : behaviour.answerDelayMilliseconds)
            if (milliseconds != 0)
                answerDelay_[address] = std::chrono::milliseconds(milliseconds);
    }

    ~NodeHost() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        if (timer_.joinable())
            timer_.join();
        port_->SetReceiveHandler({}); // returns once no frame is being handled
    }

    NodeHost(const NodeHost&) = delete;
    NodeHost& operator=(const NodeHost&) = delete;

    // The nodes' flash, opened when a node first needs it.
    NodeNetwork& Network() { return network_; }
    NodeClock Clock() const { return clock_; }
    void Add(std::uint8_t address, std::unique_ptr<Node> node) {
        nodes_[address] = std::move(node);
    }

    // Switches the nodes on (their first words, from powerOn) and starts serving them.
    template <typename PowerOn> void Start(PowerOn powerOn) {
        {
            std::lock_guard lock(mutex_);
            const TimePoint now = clock_();
            for (auto& [address, node] : nodes_)
                sendFrom(address, powerOn(*node, now), now);
        }
        // Not under the lock: the handler takes it, and the port may be delivering already.
        port_->SetReceiveHandler([this](const bus::CanFrame& frame) { onFrame(frame); });
        timer_ = std::thread([this] { runTimer(); });
    }

    std::vector<std::uint8_t> Addresses() const {
        std::vector<std::uint8_t> addresses;
        for (const auto& [address, node] : nodes_)
            addresses.push_back(address);
        return addresses;
    }

    // Wakes the host's thread to look at the clock now (for a clock a test drives).
    void Poke() {
        {
            std::lock_guard lock(mutex_);
            poked_ = true;
        }
        wake_.notify_all();
    }

private:
    // What a held frame does when its time comes.
    enum class Held : std::uint8_t {
        Receive, // a delayed received frame: routed to its node
        Answer,  // a node's frame after its answer delay: through the bus faults, then out
        Send,    // a delayed sent frame: out
    };
    // Held frames by their time, then by the order they were held in.
    using HeldKey = std::pair<TimePoint, std::uint64_t>;

    // Sends what a node asks to, now or after its answer delay. The helpers from here on
    // return true when something they leave for later (the node's deadline, a held frame)
    // comes before the timer thread's wake-up.
    template <typename Output>
    bool sendFrom(std::uint8_t address, const Output& output, TimePoint now) {
        bool sooner = output.deadline < waitingUntil_;
        const auto delay = answerDelay_.find(address);
        for (const bus::CanFrame& frame : output.frames) {
            if (delay != answerDelay_.end())
                sooner = hold(now + delay->second, Held::Answer, frame) || sooner;
            else
                sooner = transmit(frame, now) || sooner;
        }
        // A node that waits for an answer counts its time-out from when its frames have
        // crossed the wire.
        if constexpr (requires(Node & node, TimePoint at) { node.FramesSent(at); }) {
            if (!output.frames.empty() && delay == answerDelay_.end())
                if (auto it = nodes_.find(address); it != nodes_.end())
                    it->second->FramesSent(clock_() + port_->Backlog());
        }
        return sooner;
    }

    // A frame leaving the host, through the bus faults.
    bool transmit(const bus::CanFrame& frame, TimePoint now) {
        const FrameFate fate = faults_.Next(frame);
        bool sooner = false;
        for (unsigned copy = 0; !fate.lost && copy < fate.copies; ++copy) {
            if (fate.delay.count() != 0)
                sooner = hold(now + fate.delay, Held::Send, frame) || sooner;
            else
                port_->Send(frame);
        }
        return sooner;
    }

    bool hold(TimePoint due, Held what, const bus::CanFrame& frame) {
        held_.emplace(HeldKey{due, heldSoFar_++}, std::pair{what, frame});
        return due < waitingUntil_;
    }

    // A received frame to the node the router names, or to every node.
    bool deliver(const bus::CanFrame& frame, TimePoint now) {
        const std::optional<std::uint8_t> target = router_(frame);
        if (!target)
            return false;
        bool sooner = false;
        if (*target == EveryNode) {
            for (auto& [address, node] : nodes_)
                sooner = sendFrom(address, node->OnFrame(frame, now), now) || sooner;
        } else if (auto it = nodes_.find(*target); it != nodes_.end()) {
            sooner = sendFrom(it->first, it->second->OnFrame(frame, now), now);
        }
        return sooner;
    }

    void onFrame(const bus::CanFrame& frame) {
        bool sooner = false;
        {
            std::lock_guard lock(mutex_);
            if (stop_)
                return;
            const TimePoint now = clock_();
            const FrameFate fate = faults_.Next(frame);
            for (unsigned copy = 0; !fate.lost && copy < fate.copies; ++copy) {
                if (fate.delay.count() != 0)
                    sooner = hold(now + fate.delay, Held::Receive, frame) || sooner;
                else
                    sooner = deliver(frame, now) || sooner;
            }
            // The timer thread waits for a poke: without one, a node's new deadline would
            // wait for the next frame.
            if (sooner)
                poked_ = true;
        }
        if (sooner)
            wake_.notify_all();
    }

    // The held frames whose time has come, in the order of their times.
    void release(TimePoint now) {
        while (!held_.empty() && held_.begin()->first.first <= now) {
            const auto [what, frame] = held_.begin()->second;
            held_.erase(held_.begin());
            switch (what) {
            case Held::Receive:
                deliver(frame, now);
                break;
            case Held::Answer:
                transmit(frame, now);
                break;
            case Held::Send:
                port_->Send(frame);
                break;
            }
        }
    }

    void runTimer() {
        std::unique_lock lock(mutex_);
        while (!stop_) {
            const TimePoint now = clock_();
            release(now);
            TimePoint next = NoDeadline;
            for (auto& [address, node] : nodes_) {
                const auto output = node->OnTime(now);
                sendFrom(address, output, now);
                next = std::min(next, output.deadline);
            }
            if (!held_.empty())
                next = std::min(next, held_.begin()->first.first);
            waitingUntil_ = next;
            const auto woken = [this] {
                return stop_ || poked_;
            };
            if (next == NoDeadline) {
                wake_.wait(lock, woken);
            } else {
                // The clock may be a test's: wait in real time, at most a second at a time.
                const auto wait = std::clamp<std::chrono::nanoseconds>(
                    next - clock_(), std::chrono::nanoseconds(0), std::chrono::seconds(1));
                wake_.wait_for(lock, wait, woken);
            }
            poked_ = false;
            waitingUntil_ = NoDeadline;
        }
    }

    std::unique_ptr<FolderLock> lock_; // one process serves a network
    std::unique_ptr<bus::CanPort> port_;
    NodeClock clock_;
    NodeNetwork network_;
    Router router_;
    std::map<std::uint8_t, std::unique_ptr<Node>> nodes_;
    std::map<std::uint8_t, std::chrono::milliseconds> answerDelay_; // nodes with one

    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    bool poked_ = false;
    TimePoint waitingUntil_ = NoDeadline;
    BusFaults faults_;
    std::map<HeldKey, std::pair<Held, bus::CanFrame>> held_;
    std::uint64_t heldSoFar_ = 0;
    std::thread timer_;
};

} // namespace sim
