#pragma once

#include "CanFrame.h"
#include "CanPort.h"

#include <gtest/gtest.h>
#include <mutex>
#include <vector>

namespace bustest {

// What a test's node says on its port: at once, or, while held, kept until released.
class HeldReplies {
public:
    explicit HeldReplies(bus::CanPort& port) : port_(port) {}

    void Hold() {
        std::lock_guard lock(mutex_);
        held_ = true;
    }
    // Says what it kept, and from now on says at once.
    void Release() {
        std::vector<bus::CanFrame> kept;
        {
            std::lock_guard lock(mutex_);
            held_ = false;
            kept.swap(kept_);
        }
        send(kept);
    }
    void Say(const std::vector<bus::CanFrame>& replies) {
        {
            std::lock_guard lock(mutex_);
            if (held_) {
                kept_.insert(kept_.end(), replies.begin(), replies.end());
                return;
            }
        }
        send(replies);
    }

private:
    void send(const std::vector<bus::CanFrame>& replies) {
        for (const bus::CanFrame& reply : replies)
            EXPECT_TRUE(port_.Send(reply)) << port_.LastError();
    }

    bus::CanPort& port_;
    std::mutex mutex_;
    bool held_ = false;
    std::vector<bus::CanFrame> kept_;
};

} // namespace bustest
