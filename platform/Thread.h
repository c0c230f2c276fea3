#pragma once

#include "WinTypes.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

enum class TThreadPriority { Idle, Lowest, Lower, Normal, Higher, Highest, TimeCritical };

// A thread of the program's own. A derived class supplies Execute; Start runs it on a new
// thread. Synchronize hands a function to the GUI thread and waits until it has run there.
//
// The owner stops a thread with Terminate and WaitFor before destroying it. WaitFor called
// on the GUI thread keeps running the Synchronize requests that arrive meanwhile, so a thread
// that is waiting for the GUI thread can always finish.
class TThread {
public:
    TThread() = default;
    virtual ~TThread();
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    // Begins Execute on a new thread. A second call does nothing.
    void Start();

    // Asks Execute to end: Terminated() becomes true and PauseUnlessTerminated returns early.
    void Terminate();
    bool Terminated() const { return terminated_.load(); }

    // True once Execute has returned.
    bool Finished() const;

    // Waits until Execute has returned (at once when the thread was never started).
    void WaitFor();

    // Best effort on Linux: a raised priority lowers the thread's nice value when allowed.
    void SetPriority(TThreadPriority priority);
    TThreadPriority Priority() const { return priority_.load(); }

protected:
    virtual void Execute() = 0;

    // Runs method on the GUI thread and returns when it has run. Called on the GUI thread
    // itself, it runs method at once.
    void Synchronize(const std::function<void()>& method);

    // Waits for the given time unless Terminate cuts it short; false when terminated.
    bool PauseUnlessTerminated(DWORD milliseconds);

private:
    void run();
    void applyPriority();

    std::thread thread_;
    std::atomic<bool> started_{false};
    std::atomic<bool> terminated_{false};
    std::atomic<TThreadPriority> priority_{TThreadPriority::Normal};
    std::atomic<int> nativeId_{0};
    bool finished_ = false; // guarded by the synchronize lock
    std::mutex pauseMutex_;
    std::condition_variable pauseCv_;
};

// True on the GUI thread (the thread of the Qt application object).
bool IsGuiThread();

// Runs every pending Synchronize request. The GUI thread calls it when woken by one.
void CheckSynchronize();
