#pragma once

#include "Sleep.h"

#include <mutex>
#include <vector>

// While it lives, every Sleep returns at once and its duration is recorded.
class RecordingSleep {
public:
    RecordingSleep() {
        previous_ = SetSleepHandler([this](DWORD ms) {
            std::lock_guard lock(mutex_);
            pauses_.push_back(ms);
        });
    }
    ~RecordingSleep() { SetSleepHandler(previous_); }
    RecordingSleep(const RecordingSleep&) = delete;
    RecordingSleep& operator=(const RecordingSleep&) = delete;

    std::vector<DWORD> Pauses() const {
        std::lock_guard lock(mutex_);
        return pauses_;
    }

private:
    SleepHandler previous_;
    mutable std::mutex mutex_;
    std::vector<DWORD> pauses_;
};
