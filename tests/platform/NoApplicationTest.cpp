// The platform without a Qt application object (this program has its own main and none).

#include "MessageBox.h"
#include "Thread.h"

#include <QCoreApplication>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>

namespace {

class SynchronizingThread : public TThread {
public:
    ~SynchronizingThread() override { WaitFor(); }
    std::string error;
    bool ran = false;

protected:
    void Execute() override {
        try {
            Synchronize([this] { ran = true; });
        } catch (const std::logic_error& e) {
            error = e.what();
        }
    }
};

// Nothing would ever run the request: Synchronize throws at once instead of blocking.
TEST(NoApplication, SynchronizeThrowsInsteadOfWaitingForever) {
    ASSERT_EQ(QCoreApplication::instance(), nullptr);
    SynchronizingThread thread;
    thread.Start();
    thread.WaitFor();
    EXPECT_FALSE(thread.ran);
    EXPECT_NE(thread.error.find("TThread::Synchronize without a Qt application"), std::string::npos)
        << thread.error;
}

TEST(NoApplication, NoThreadIsTheGuiThread) {
    EXPECT_FALSE(IsGuiThread());
}

TEST(NoApplicationDeathTest, RealMessageBoxAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(MessageBoxA(nullptr, "text", "caption", MB_OK),
                 "MessageBoxA called off the GUI thread");
}

} // namespace
