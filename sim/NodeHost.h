#pragma once

#include "CanPort.h"
#include "FolderLock.h"
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
template <typename Node> class NodeHost {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    static constexpr TimePoint NoDeadline = TimePoint::max();
    // The address of the node a frame is for; EveryNode for all of them; nothing for none.
    static constexpr std::uint8_t EveryNode = 0xFF;
    using Router = std::function<std::optional<std::uint8_t>(const bus::CanFrame&)>;

    NodeHost(std::unique_ptr<FolderLock> lock, std::unique_ptr<bus::CanPort> port,
             const std::string& folder, NodeClock clock, Router router)
        : lock_(std::move(lock)), port_(std::move(port)), clock_(std::move(clock)),
          network_(folder, clock_), router_(std::move(router)) {}

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
        std::lock_guard lock(mutex_);
        const TimePoint now = clock_();
        for (auto& [address, node] : nodes_)
            send(powerOn(*node, now));
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
    // Sends what a node asks to; true when its deadline comes before the timer's.
    template <typename Output> bool send(const Output& output) {
        for (const bus::CanFrame& frame : output.frames)
            port_->Send(frame);
        return output.deadline < waitingUntil_;
    }

    void onFrame(const bus::CanFrame& frame) {
        const std::optional<std::uint8_t> target = router_(frame);
        if (!target)
            return;
        bool sooner = false;
        {
            std::lock_guard lock(mutex_);
            if (stop_)
                return;
            const TimePoint now = clock_();
            if (*target == EveryNode) {
                for (auto& [address, node] : nodes_)
                    sooner = send(node->OnFrame(frame, now)) || sooner;
            } else if (auto it = nodes_.find(*target); it != nodes_.end()) {
                sooner = send(it->second->OnFrame(frame, now));
            }
            // The timer thread waits for a poke: without one, a node's new deadline would
            // wait for the next frame.
            if (sooner)
                poked_ = true;
        }
        if (sooner)
            wake_.notify_all();
    }

    void runTimer() {
        std::unique_lock lock(mutex_);
        while (!stop_) {
            const TimePoint now = clock_();
            TimePoint next = NoDeadline;
            for (auto& [address, node] : nodes_) {
                const auto output = node->OnTime(now);
                send(output);
                next = std::min(next, output.deadline);
            }
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

    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    bool poked_ = false;
    TimePoint waitingUntil_ = NoDeadline;
    std::thread timer_;
};

} // namespace sim
