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
//
// A derived class waits for its thread in its own destructor (or its owner does before the
// delete): by the time the base destructor runs, the derived part that Execute uses is gone.
// The base destructor therefore only checks: a thread started and not yet waited for prints
// a message and aborts the program.
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

    // Waits until Execute has returned and the thread has ended (at once when it was never
    // started). Several threads may wait at once: one joins, the others return when the join
    // is done. Called by the thread itself, it returns at once.
    void WaitFor();

    // The Linux thread id while Execute runs; 0 before the thread starts and once it ends.
    int NativeId() const;

    // Best effort on Linux: a raised priority lowers the thread's nice value when allowed.
    void SetPriority(TThreadPriority priority);
    TThreadPriority Priority() const { return priority_.load(); }

protected:
    virtual void Execute() = 0;

    // Runs method on the GUI thread and returns when it has run. Called on the GUI thread
    // itself, it runs method at once. Without a Qt application object (none yet, or one that
    // is being destroyed) nothing would ever run it: Synchronize throws std::logic_error at
    // once instead of blocking for ever.
    void Synchronize(const std::function<void()>& method);

    // Waits for the given time unless Terminate cuts it short; false when terminated.
    bool PauseUnlessTerminated(DWORD milliseconds);

private:
    void run();
    void applyPriority();

    std::mutex joinMutex_; // guards thread_ and joined_; held for the whole join
    std::thread thread_;
    bool joined_ = false;
    std::atomic<bool> started_{false};
    std::atomic<bool> terminated_{false};
    std::atomic<TThreadPriority> priority_{TThreadPriority::Normal};
    mutable std::mutex priorityMutex_; // keeps nativeId_ valid while a priority is applied
    int nativeId_ = 0;      // the running thread's id; 0 before it starts and once it ends
    bool finished_ = false; // guarded by the synchronize lock
    std::mutex pauseMutex_;
    std::condition_variable pauseCv_;
};

// True on the GUI thread (the thread of the Qt application object).
bool IsGuiThread();

// Aborts with a message naming call unless on the GUI thread (in release builds too).
void RequireGuiThread(const char* call);

// Runs every pending Synchronize request. The GUI thread calls it when woken by one.
void CheckSynchronize();
