#pragma once

#include <QMetaObject>
#include <QObject>
#include <utility>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
extern "C" void AnnotateIgnoreWritesBegin(const char* file, int line);
extern "C" void AnnotateIgnoreWritesEnd(const char* file, int line);
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

// Qt queues the call in its thread's list of posted events, under a lock of its own, while
// that thread may post to itself. Only the list's copies and reallocations through the C
// library are seen, so the accesses of the posting thread inside Qt are not recorded.
class QtInternalsUnseen {
public:
    QtInternalsUnseen() {
#if defined(__SANITIZE_THREAD__)
        AnnotateIgnoreWritesBegin(__FILE__, __LINE__);
#endif
    }
    ~QtInternalsUnseen() {
#if defined(__SANITIZE_THREAD__)
        AnnotateIgnoreWritesEnd(__FILE__, __LINE__);
#endif
    }
    QtInternalsUnseen(const QtInternalsUnseen&) = delete;
    QtInternalsUnseen& operator=(const QtInternalsUnseen&) = delete;
};

// The mark's own address is the key, so the thread that runs or frees the call finds it
// without reading anything the posting thread wrote. Made last, it hands over all the call
// holds; taken when the call runs and when it is freed.
class HandOverMark {
public:
    HandOverMark() { HandOver(this); }
    HandOverMark(const HandOverMark&) { HandOver(this); }
    HandOverMark(HandOverMark&&) noexcept { HandOver(this); }
    HandOverMark& operator=(const HandOverMark&) = delete;
    HandOverMark& operator=(HandOverMark&&) = delete;
    ~HandOverMark() { TakeOver(this); }

    void Take() { TakeOver(this); }
    void Give() { HandOver(this); }
};

template <typename Call> struct QueuedTask {
    Call call;
    HandOverMark mark; // after call: made after it, and gone before it

    void operator()() {
        mark.Take();
        call();
        mark.Give();
    }
};

} // namespace detail

// Runs call on the thread of context, later (Qt::QueuedConnection). What the caller did before
// happens before the call, and the call before its captures are freed.
template <typename Call> void PostQueued(QObject* context, Call call) {
    detail::QtInternalsUnseen unseen;
    QMetaObject::invokeMethod(context, detail::QueuedTask<Call>{std::move(call), {}},
                              Qt::QueuedConnection);
}

} // namespace bus
