#include "Thread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <atomic>
#include <functional>
#include <gtest/gtest.h>

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

} // namespace
