#pragma once

#include "NodeTypes.h"

#include <atomic>
#include <chrono>
#include <memory>

// A clock that moves only when the test moves it; copies of its NodeClock share its time.
class ManualClock {
public:
    using time_point = std::chrono::steady_clock::time_point;

    sim::NodeClock Clock() const {
        return [now = now_] {
            return time_point(std::chrono::nanoseconds(now->load()));
        };
    }
    time_point Now() const { return time_point(std::chrono::nanoseconds(now_->load())); }
    void Advance(std::chrono::nanoseconds by) { now_->fetch_add(by.count()); }

private:
    // Starts well after the epoch, so that "until the epoch" is already past.
    std::shared_ptr<std::atomic<std::int64_t>> now_ =
        std::make_shared<std::atomic<std::int64_t>>(std::int64_t{1'000'000'000'000});
};
