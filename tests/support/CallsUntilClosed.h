#pragma once

#include "HangGuards.h"

#include <atomic>
#include <functional>
#include <future>
#include <vector>

// Threads that repeat one call each on a driver's handle — as the program's threads do —
// until the handle is closed and the call fails. A call reports whether it succeeded.
class CallsUntilClosed {
public:
    void Add(std::function<bool()> call) {
        running_.push_back(std::async(std::launch::async, [this, call] {
            int calls = 0;
            for (;;) {
                const bool ok = call();
                ++calls;
                rounds_.fetch_add(1);
                if (!ok && closed_.load())
                    return calls;
            }
        }));
    }

    // How many calls the threads have made together.
    int Rounds() const { return rounds_.load(); }

    // Once the handle is closed: how many calls each thread made; a failure for a thread
    // that hangs.
    std::vector<int> Closed() {
        closed_.store(true);
        std::vector<int> calls;
        for (auto& running : running_)
            calls.push_back(finished(running));
        return calls;
    }

private:
    std::atomic<int> rounds_{0};
    std::atomic<bool> closed_{false};
    std::vector<std::future<int>> running_;
};
