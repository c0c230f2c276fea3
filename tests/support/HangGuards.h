#pragma once

#include <chrono>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <thread>

// Waits for what another thread does, bounded so that a hang fails the test instead of
// stopping it. The bound is a guard, not a measure of speed.

// The result of a call that runs on another thread; a failure when it has not ended after a
// long while.
template <typename T> T finished(std::future<T>& running) {
    EXPECT_EQ(running.wait_for(std::chrono::seconds(20)), std::future_status::ready)
        << "the call hangs";
    return running.get();
}

// Waits (without a fixed pause) for a condition that another thread brings about; false
// after a long while, a hang.
inline bool eventually(const std::function<bool()>& condition) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > limit)
            return false;
        std::this_thread::yield();
    }
    return true;
}
