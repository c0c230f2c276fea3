#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace drivercore {

using TimePoint = std::chrono::steady_clock::time_point;
inline constexpr TimePoint NoDeadline = TimePoint::max();

// Where a master takes the current time from: the steady clock, or a clock a test drives
// (which then wakes the master's waits with the master's Poke after moving it).
using MasterClock = std::function<TimePoint()>;

inline MasterClock SteadyMasterClock() {
    return [] {
        return std::chrono::steady_clock::now();
    };
}

// Waits on the condition variable, lock held, until ready() holds or the clock reaches the
// deadline. The time left is waited for in real time and looked at again after every
// wake-up, so a notify after the clock has moved ends the wait at once.
template <typename Ready>
void WaitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
               const MasterClock& clock, TimePoint deadline, Ready ready) {
    constexpr std::chrono::nanoseconds longest = std::chrono::hours(1);
    while (!ready()) {
        if (deadline == NoDeadline) {
            cv.wait_for(lock, longest);
            continue;
        }
        const TimePoint now = clock();
        if (now >= deadline)
            return;
        cv.wait_for(lock, std::min<std::chrono::nanoseconds>(deadline - now, longest));
    }
}

} // namespace drivercore
