#pragma once

#include <QMetaObject>
#include <QObject>
#include <memory>
#include <utility>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace bus {

namespace detail {

// Qt hands a queued call to its thread, and frees it afterwards, under locks and atomics of
// its own; Qt is not built with ThreadSanitizer, which so does not see that order. In a build
// with it, these tell it; elsewhere they are nothing.
inline void HandOver(void* key) {
#if defined(__SANITIZE_THREAD__)
    __tsan_release(key);
#else
    (void)key;
#endif
}

inline void TakeOver(void* key) {
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(key);
#else
    (void)key;
#endif
}

// Taken over when the call is freed, on whichever thread frees it.
struct FreedAfterCall {
    std::shared_ptr<char> key;
    FreedAfterCall(std::shared_ptr<char> k) : key(std::move(k)) {}
    FreedAfterCall(const FreedAfterCall&) = default;
    FreedAfterCall(FreedAfterCall&&) = default;
    ~FreedAfterCall() {
        if (key)
            TakeOver(key.get());
    }
};

} // namespace detail

// Runs call on the thread of context, later (Qt::QueuedConnection). What the caller did before
// happens before the call, and the call before its captures are freed.
template <typename Call> void PostQueued(QObject* context, Call call) {
    auto key = std::make_shared<char>();
    detail::HandOver(key.get());
    QMetaObject::invokeMethod(
        context,
        [call = std::move(call), freed = detail::FreedAfterCall(key)]() mutable {
            detail::TakeOver(freed.key.get());
            call();
            detail::HandOver(freed.key.get());
        },
        Qt::QueuedConnection);
}

} // namespace bus
