#pragma once

#include <functional>
#include <mutex>
#include <utility>

// A process-wide handler that tests may replace: the pause of Sleep, the message box, the
// file-open dialog. Any thread may set or call it. An empty handler stands for the real
// behaviour, which the owner of the handler supplies.
template <typename Signature> class ReplaceableHandler {
public:
    using Function = std::function<Signature>;

    // Installs handler and returns the one installed before, so that whoever replaced it
    // can put it back.
    Function Set(Function handler) {
        std::lock_guard lock(mutex_);
        std::swap(handler_, handler);
        return handler;
    }

    // A copy of the handler installed now (empty when none): the caller runs it without
    // the lock held, so a handler may itself replace the handler or block.
    Function Get() const {
        std::lock_guard lock(mutex_);
        return handler_;
    }

private:
    mutable std::mutex mutex_;
    Function handler_;
};
