#include "Thread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <deque>
#include <exception>
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

void CheckSynchronize() {
    std::unique_lock lock(syncMutex);
    runPending(lock);
}

TThread::~TThread() {
    Terminate();
    WaitFor();
}

void TThread::Start() {
    if (started_.exchange(true))
        return;
    thread_ = std::thread([this] { run(); });
}

void TThread::run() {
    nativeId_ = static_cast<int>(syscall(SYS_gettid));
    applyPriority();
    Execute();
    std::lock_guard lock(syncMutex);
    finished_ = true;
    syncCv.notify_all();
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
    if (!started_)
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
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
}

void TThread::SetPriority(TThreadPriority priority) {
    priority_ = priority;
    applyPriority();
}

void TThread::applyPriority() {
    int id = nativeId_.load();
    if (id != 0)
        setpriority(PRIO_PROCESS, static_cast<id_t>(id), niceFor(priority_.load()));
}

void TThread::Synchronize(const std::function<void()>& method) {
    if (IsGuiThread()) {
        method();
        return;
    }
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
