#pragma once

#include "HandlerRestore.h"
#include "Sleep.h"

#include <gtest/gtest.h>
#include <memory>
#include <mutex>
#include <vector>

// While it lives, every Sleep returns at once and its duration is recorded. It puts back the
// handler it replaced when it goes (nested recordings are fine; ending them out of order
// fails the test).
class RecordingSleep {
public:
    RecordingSleep() : state_(std::make_shared<State>()) {
        previous_ = SetSleepHandler(Recorder{state_});
    }
    ~RecordingSleep() {
        RestoreReplacedHandler(
            SetSleepHandler, std::move(previous_),
            [this](const SleepHandler& replaced) {
                const auto* mine = replaced.target<Recorder>();
                return mine && mine->state == state_;
            },
            "RecordingSleep");
    }
    RecordingSleep(const RecordingSleep&) = delete;
    RecordingSleep& operator=(const RecordingSleep&) = delete;

    std::vector<DWORD> Pauses() const {
        std::lock_guard lock(state_->mutex);
        return state_->pauses;
    }

private:
    struct State {
        std::mutex mutex;
        std::vector<DWORD> pauses;
    };
    // The installed handler shares the record, so a handler left behind by a recording that
    // ended out of order still has somewhere to write.
    struct Recorder {
        std::shared_ptr<State> state;
        void operator()(DWORD ms) const {
            std::lock_guard lock(state->mutex);
            state->pauses.push_back(ms);
        }
    };

    std::shared_ptr<State> state_;
    SleepHandler previous_;
};
