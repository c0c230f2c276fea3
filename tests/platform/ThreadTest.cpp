#include "Thread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <atomic>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

class LambdaThread : public TThread {
public:
    explicit LambdaThread(std::function<void(LambdaThread&)> body) : body_(std::move(body)) {}
    ~LambdaThread() override { WaitFor(); }
    using TThread::PauseUnlessTerminated;
    using TThread::Synchronize;

protected:
    void Execute() override { body_(*this); }

private:
    std::function<void(LambdaThread&)> body_;
};

TEST(Thread, SynchronizeRunsOnTheGuiThreadThroughTheEventLoop) {
    std::atomic<bool> ranOnGui{false};
    std::atomic<bool> done{false};
    LambdaThread thread([&](LambdaThread& self) {
        self.Synchronize([&] { ranOnGui = IsGuiThread(); });
        done = true;
    });
    thread.Start();
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    thread.WaitFor();
    EXPECT_TRUE(ranOnGui);
    EXPECT_TRUE(thread.Finished());
}

TEST(Thread, WaitForOnGuiThreadServesSynchronizeRequests) {
    constexpr int rounds = 500;
    std::atomic<bool> started{false};
    int counter = 0; // touched only on the GUI thread
    std::atomic<int> offGui{0};
    LambdaThread thread([&](LambdaThread& self) {
        started = true;
        for (int i = 0; i < rounds; ++i)
            self.Synchronize([&] {
                ++counter;
                if (!IsGuiThread())
                    ++offGui;
            });
    });
    thread.Start();
    while (!started) {
    }
    thread.WaitFor(); // the thread is in or about to enter Synchronize: must not deadlock
    EXPECT_EQ(counter, rounds);
    EXPECT_EQ(offGui, 0);
}

TEST(Thread, SynchronizeCalledOnGuiThreadRunsAtOnce) {
    bool ran = false;
    LambdaThread thread([](LambdaThread&) {});
    thread.Synchronize([&] { ran = true; });
    EXPECT_TRUE(ran);
}

TEST(Thread, TerminateCutsAPauseShort) {
    std::atomic<int> pauseResult{-1};
    std::atomic<bool> pausing{false};
    LambdaThread thread([&](LambdaThread& self) {
        pausing = true;
        pauseResult = self.PauseUnlessTerminated(3600 * 1000) ? 1 : 0;
    });
    thread.Start();
    while (!pausing) {
    }
    thread.Terminate();
    thread.WaitFor();
    EXPECT_TRUE(thread.Terminated());
    EXPECT_EQ(pauseResult, 0);
}

TEST(Thread, WaitForAThreadNeverStartedReturns) {
    LambdaThread thread([](LambdaThread&) {});
    thread.WaitFor();
    EXPECT_FALSE(thread.Finished());
}

// Forgets to wait in its destructor: Execute would go on running on a half-destroyed object.
class ForgetfulThread : public TThread {
public:
    std::atomic<bool> running{false};

protected:
    void Execute() override {
        running = true;
        while (!Terminated())
            PauseUnlessTerminated(10);
    }
};

TEST(ThreadDeathTest, DestroyedWithoutWaitingAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            ForgetfulThread thread;
            thread.Start();
            // Destroyed before its thread reached Execute, the call would find the base class's
            // pure Execute and die of that instead of the check.
            while (!thread.running)
                std::this_thread::yield();
        },
        "TThread destroyed while its thread may still run");
}

TEST(Thread, DestroyedNeverStartedOrWaitedForIsFine) {
    { ForgetfulThread neverStarted; }
    ForgetfulThread thread;
    thread.Start();
    thread.Terminate();
    thread.WaitFor();
    EXPECT_TRUE(thread.Finished());
}

TEST(Thread, ConcurrentWaitsAllReturnOnceTheThreadHasEnded) {
    std::atomic<bool> release{false};
    LambdaThread thread([&](LambdaThread&) {
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    thread.Start();
    std::atomic<int> returned{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i)
        waiters.emplace_back([&] {
            thread.WaitFor();
            EXPECT_TRUE(thread.Finished());
            ++returned;
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // all of them inside WaitFor
    EXPECT_EQ(returned, 0);
    release = true;
    thread.WaitFor(); // the GUI thread waits too
    for (auto& waiter : waiters)
        waiter.join();
    EXPECT_EQ(returned, 4);
}

TEST(Thread, NativeIdIsKnownWhileRunningAndClearedAtTheEnd) {
    std::atomic<int> seen{-1};
    std::atomic<int> own{-2};
    LambdaThread thread([&](LambdaThread& self) {
        own = static_cast<int>(syscall(SYS_gettid));
        seen = self.NativeId();
    });
    EXPECT_EQ(thread.NativeId(), 0);
    thread.Start();
    thread.WaitFor();
    EXPECT_EQ(seen, own);
    EXPECT_EQ(thread.NativeId(), 0);
    thread.SetPriority(TThreadPriority::Lower); // no thread to apply it to: only stored
    EXPECT_EQ(thread.Priority(), TThreadPriority::Lower);
}

// What a thread does with Synchronize when no application runs it is in NoApplicationTest.cpp:
// this program always has one.

} // namespace
