#pragma once

#include "CanFrame.h"
#include "SimulatedBus.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace simtest {

// A master's port on the simulated bus that sends what a test gives it and keeps, as candump
// writes them, the frames it hears. The waits guard against a hang; they measure no time.
class Listener {
public:
    explicit Listener(bus::SimulatedBus& bus) : port_(bus.Attach()) {
        port_->SetReceiveHandler([this](const bus::CanFrame& frame) {
            std::lock_guard lock(mutex_);
            heard_.push_back(bus::ToCandump(frame));
            changed_.notify_all();
        });
    }
    void Send(const std::string& frame) { ASSERT_TRUE(port_->Send(*bus::ParseCandump(frame))); }

    // Waits until the frame has been heard that many times.
    bool Heard(const std::string& frame, std::size_t times = 1) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20), [&] {
            return static_cast<std::size_t>(std::count(heard_.begin(), heard_.end(), frame)) >=
                   times;
        });
    }
    // Waits until each of the frames has been heard.
    bool HeardAll(const std::vector<std::string>& frames) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20), [&] {
            return std::all_of(frames.begin(), frames.end(), [&](const std::string& frame) {
                return std::find(heard_.begin(), heard_.end(), frame) != heard_.end();
            });
        });
    }
    // What was heard since the last call.
    std::vector<std::string> Take() {
        std::lock_guard lock(mutex_);
        return std::exchange(heard_, {});
    }

private:
    std::unique_ptr<bus::SimulatedPort> port_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> heard_;
};

} // namespace simtest
