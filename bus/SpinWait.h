#pragma once

#include <chrono>
#include <thread>

namespace bus {

// Looks for ready() to become true for a short while (yielding the processor between looks)
// before the caller goes to sleep on a condition variable. An answer on a CAN bus in this
// process comes within microseconds, and waking a sleeping thread costs more than that; on
// a machine of one processor, or when nothing comes, the caller sleeps as before. True when
// ready() became true.
template <typename Ready>
bool SpinBriefly(Ready&& ready, std::chrono::microseconds budget = std::chrono::microseconds(50)) {
    static const bool worthIt = std::thread::hardware_concurrency() > 1;
    if (!worthIt)
        return ready();
    const auto until = std::chrono::steady_clock::now() + budget;
    while (!ready()) {
        if (std::chrono::steady_clock::now() >= until)
            return false;
        std::this_thread::yield();
    }
    return true;
}

} // namespace bus
