#pragma once

#include "BusLog.h"
#include "SimulatedBus.h"

#include <algorithm>
#include <cstddef>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace simtest {

// A master's port on the simulated bus that sends what a test gives it and keeps, as candump
// writes them, the frames it hears. What it heard before the last Take no longer counts. The
// waits guard against a hang; they measure no time.
class Listener {
public:
    explicit Listener(bus::SimulatedBus& bus) : log_(bus) {}
    void Send(const std::string& frame) { ASSERT_TRUE(log_.Send(frame)); }

    // Waits until the frame has been heard that many times.
    bool Heard(const std::string& frame, std::size_t times = 1) {
        return log_.WaitUntil([&](const std::vector<std::string>& frames) {
            return static_cast<std::size_t>(std::count(untaken(frames), frames.end(), frame)) >=
                   times;
        });
    }
    // Waits until each of the frames has been heard.
    bool HeardAll(const std::vector<std::string>& wanted) {
        return log_.WaitUntil([&](const std::vector<std::string>& frames) {
            return std::all_of(wanted.begin(), wanted.end(), [&](const std::string& frame) {
                return std::find(untaken(frames), frames.end(), frame) != frames.end();
            });
        });
    }
    // What was heard since the last call.
    std::vector<std::string> Take() {
        std::vector<std::string> heard = log_.From(taken_);
        taken_ += heard.size();
        return heard;
    }

private:
    std::vector<std::string>::const_iterator untaken(const std::vector<std::string>& frames) const {
        return frames.begin() + static_cast<std::ptrdiff_t>(std::min(taken_, frames.size()));
    }

    bustest::BusLog log_;
    std::size_t taken_ = 0; // frames heard before the last Take
};

} // namespace simtest
