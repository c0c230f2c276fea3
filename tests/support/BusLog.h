#pragma once

// The frames a simulated bus carries, as the tests read and write them: candump text.

#include "CanFrame.h"
#include "SimulatedBus.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace bustest {

using bus::CanFrame;

// The frame that candump text describes; a failure (and an empty frame) for text that
// describes none.
inline CanFrame Frame(const std::string& candump) {
    const auto frame = bus::ParseCandump(candump);
    EXPECT_TRUE(frame) << candump;
    return frame.value_or(CanFrame{});
}

// Every frame the bus carries past a port of its own, in order, as candump writes it. The
// waits guard against a hang: they give up (false) after a long while and measure no time.
class BusLog {
public:
    explicit BusLog(bus::SimulatedBus& bus) : port_(bus.Attach()) {
        port_->SetReceiveHandler([this](const CanFrame& frame) {
            {
                std::lock_guard lock(mutex_);
                frames_.push_back(frame);
                texts_.push_back(bus::ToCandump(frame));
            }
            changed_.notify_all();
        });
    }
    ~BusLog() { port_->SetReceiveHandler(nullptr); }

    // Puts the frame on the bus from the log's own port, whose frames the log does not hear.
    bool Send(const std::string& candump) { return port_->Send(Frame(candump)); }

    std::vector<std::string> Texts() const {
        std::lock_guard lock(mutex_);
        return texts_;
    }
    // The frames from the n-th on.
    std::vector<std::string> From(std::size_t n) const {
        std::lock_guard lock(mutex_);
        return {texts_.begin() + static_cast<std::ptrdiff_t>(std::min(n, texts_.size())),
                texts_.end()};
    }
    // The frames with one of these identifiers, in their order.
    std::vector<std::string> With(const std::vector<std::uint16_t>& ids) const {
        std::lock_guard lock(mutex_);
        std::vector<std::string> texts;
        for (std::size_t i = 0; i < frames_.size(); ++i)
            if (std::find(ids.begin(), ids.end(), frames_[i].id) != ids.end())
                texts.push_back(texts_[i]);
        return texts;
    }
    std::size_t Count() const {
        std::lock_guard lock(mutex_);
        return texts_.size();
    }

    // Returns once the frames carried so far satisfy the condition (true).
    bool WaitUntil(const std::function<bool(const std::vector<std::string>&)>& done) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(20), [&] { return done(texts_); });
    }
    // Returns once the frame has been carried count times (true).
    bool WaitForCount(const std::string& candump, std::size_t count) {
        const std::string wanted = bus::ToCandump(Frame(candump));
        return WaitUntil([&](const std::vector<std::string>& texts) {
            return static_cast<std::size_t>(std::count(texts.begin(), texts.end(), wanted)) >=
                   count;
        });
    }
    bool WaitFor(const std::string& candump) { return WaitForCount(candump, 1); }
    // Returns once the frame has been carried once more than the times seen before (true).
    bool WaitForAnother(const std::string& candump, std::size_t seenBefore) {
        return WaitForCount(candump, seenBefore + 1);
    }

private:
    std::unique_ptr<bus::SimulatedPort> port_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<CanFrame> frames_;
    std::vector<std::string> texts_;
};

} // namespace bustest
