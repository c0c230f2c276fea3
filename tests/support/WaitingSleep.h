#pragma once

#include "HandlerRestore.h"
#include "Sleep.h"

#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// While it lives, a Sleep does not spend its pause: it records the pause and returns as soon
// as what the pause waits for has happened — a restarting node back on the bus, say — and
// at the latest when the pause is over. What it waits for is told at the start of each
// pause: Until(ms) gives the condition, looked at every few milliseconds (a condition that
// holds already ends the pause at once). Like RecordingSleep it puts back the handler it
// replaced when it goes.
class WaitingSleep {
public:
    using Condition = std::function<bool()>;
    using Until = std::function<Condition(DWORD ms)>;

    explicit WaitingSleep(Until until) : state_(std::make_shared<State>()) {
        state_->until = std::move(until);
        previous_ = SetSleepHandler(Waiter{state_});
    }
    ~WaitingSleep() {
        RestoreReplacedHandler(
            SetSleepHandler, std::move(previous_),
            [this](const SleepHandler& replaced) {
                const auto* mine = replaced.target<Waiter>();
                return mine && mine->state == state_;
            },
            "WaitingSleep");
    }
    WaitingSleep(const WaitingSleep&) = delete;
    WaitingSleep& operator=(const WaitingSleep&) = delete;

    std::vector<DWORD> Pauses() const {
        std::lock_guard lock(state_->mutex);
        return state_->pauses;
    }

private:
    struct State {
        Until until;
        std::mutex mutex;
        std::vector<DWORD> pauses;
    };
    struct Waiter {
        std::shared_ptr<State> state;
        void operator()(DWORD ms) const {
            {
                std::lock_guard lock(state->mutex);
                state->pauses.push_back(ms);
            }
            const Condition done = state->until(ms);
            const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
            while (done && !done() && std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    };

    std::shared_ptr<State> state_;
    SleepHandler previous_;
};
