#include "Thread.h"

#include "Fatal.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <deque>
#include <exception>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

struct SyncRequest {
    const std::function<void()>* method;
    bool done = false;
    std::exception_ptr error;
};

// One queue of Synchronize requests for the whole program, as the GUI thread is one.
std::mutex syncMutex;
std::condition_variable syncCv;
std::deque<SyncRequest*> pendingRequests;

void wakeGuiThread() {
    if (auto* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(
            app, [] { CheckSynchronize(); }, Qt::QueuedConnection);
}

// Runs the pending requests; the caller holds lock, which is released around each call.
void runPending(std::unique_lock<std::mutex>& lock) {
    while (!pendingRequests.empty()) {
        SyncRequest* request = pendingRequests.front();
        pendingRequests.pop_front();
        lock.unlock();
        std::exception_ptr error;
        try {
            (*request->method)();
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        request->error = error;
        request->done = true;
        syncCv.notify_all();
    }
}

int niceFor(TThreadPriority priority) {
    switch (priority) {
    case TThreadPriority::Idle:
        return 19;
    case TThreadPriority::Lowest:
        return 10;
    case TThreadPriority::Lower:
        return 5;
    case TThreadPriority::Normal:
        return 0;
    case TThreadPriority::Higher:
        return -5;
    case TThreadPriority::Highest:
        return -10;
    case TThreadPriority::TimeCritical:
        return -15;
    }
    return 0;
}

} // namespace

bool IsGuiThread() {
    auto* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void RequireGuiThread(const char* call) {
    if (IsGuiThread())
        return;
    const std::string message = std::string(call) +
                                " called off the GUI thread: message boxes and dialogs belong to "
                                "the GUI thread (reach it through TThread::Synchronize)";
    PlatformFatal(message.c_str());
}

void CheckSynchronize() {
    std::unique_lock lock(syncMutex);
    runPending(lock);
}

namespace {
// The TThread whose Execute runs on the calling thread, if any.
thread_local const TThread* runningThread = nullptr;
} // namespace

TThread::~TThread() {
    // Terminate and WaitFor cannot be done here: Execute may still be running on a derived
    // object whose own part is already destroyed. The derived class must have waited.
    bool waited;
    {
        std::lock_guard lock(joinMutex_);
        waited = !started_ || joined_;
    }
    if (!waited)
        PlatformFatal("TThread destroyed while its thread may still run: call Terminate and "
                      "WaitFor in the derived class's destructor or before deleting it");
}

void TThread::Start() {
    std::lock_guard lock(joinMutex_);
    if (started_)
        return;
    started_ = true;
    try {
        thread_ = std::thread([this] { run(); });
    } catch (...) {
        started_ = false;
        throw;
    }
}

void TThread::run() {
    runningThread = this;
    {
        std::lock_guard lock(priorityMutex_);
        nativeId_ = static_cast<int>(syscall(SYS_gettid));
    }
    applyPriority();
    Execute();
    {
        std::lock_guard lock(priorityMutex_);
        nativeId_ = 0; // the id may soon belong to another thread
    }
    std::lock_guard lock(syncMutex);
    finished_ = true;
    syncCv.notify_all();
}

int TThread::NativeId() const {
    std::lock_guard lock(priorityMutex_);
    return nativeId_;
}

void TThread::Terminate() {
    {
        std::lock_guard lock(pauseMutex_);
        terminated_ = true;
    }
    pauseCv_.notify_all();
}

bool TThread::Finished() const {
    std::lock_guard lock(syncMutex);
    return finished_;
}

void TThread::WaitFor() {
    if (!started_ || runningThread == this)
        return;
    if (IsGuiThread()) {
        std::unique_lock lock(syncMutex);
        for (;;) {
            runPending(lock);
            if (finished_)
                break;
            syncCv.wait(lock);
        }
    }
    // One waiter joins; a concurrent one waits here until the join is done.
    std::lock_guard lock(joinMutex_);
    if (thread_.joinable())
        thread_.join();
    joined_ = true;
}

void TThread::SetPriority(TThreadPriority priority) {
    priority_ = priority;
    applyPriority();
}

void TThread::applyPriority() {
    std::lock_guard lock(priorityMutex_);
    if (nativeId_ != 0)
        setpriority(PRIO_PROCESS, static_cast<id_t>(nativeId_), niceFor(priority_.load()));
}

void TThread::Synchronize(const std::function<void()>& method) {
    if (IsGuiThread()) {
        method();
        return;
    }
    // Only the GUI thread of a living application runs the request: without one the caller
    // would wait for ever. An exception, not an abort: the caller (or its Execute) may
    // handle it; left alone it ends the program with this text.
    if (!QCoreApplication::instance() || QCoreApplication::closingDown())
        throw std::logic_error("TThread::Synchronize without a Qt application: no GUI thread "
                               "would ever run the request");
    SyncRequest request{&method, false, nullptr};
    std::unique_lock lock(syncMutex);
    pendingRequests.push_back(&request);
    syncCv.notify_all();
    wakeGuiThread();
    syncCv.wait(lock, [&] { return request.done; });
    if (request.error)
        std::rethrow_exception(request.error);
}

bool TThread::PauseUnlessTerminated(DWORD milliseconds) {
    std::unique_lock lock(pauseMutex_);
    return !pauseCv_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                              [this] { return terminated_.load(); });
}
