// The node host on the in-process bus, with nodes that echo: a node's answer delay and the
// bus faults, on a clock the test drives.

#include "NodeHost.h"

#include "BusListener.h"
#include "ManualClock.h"
#include "SimulatedBus.h"
#include "canopen/CanOpen.h"

#include <QTemporaryDir>
#include <algorithm>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>

namespace {

using bus::CanFrame;
using bus::canopen::Output;
using bus::canopen::TimePoint;
using namespace std::chrono_literals;

// The latest time the host's thread has shown its nodes: once it has reached a time, every
// frame the host held until then has gone.
class TimeSeen {
public:
    void Saw(TimePoint now) {
        std::lock_guard lock(mutex_);
        latest_ = std::max(latest_, now);
        changed_.notify_all();
    }
    // A guard against a hang, not a timing.
    bool WaitFor(TimePoint time) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 20s, [&] { return latest_ >= time; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    TimePoint latest_{};
};

// Announces itself with 0x700+n, 00, and answers every frame on 0x600+n with its bytes on
// 0x580+n.
class EchoNode {
public:
    EchoNode(std::uint8_t id, TimeSeen& seen) : id_(id), seen_(seen) {}

    Output PowerOn() const {
        return {{CanFrame::Data(0x700 + id_, {0x00})}, bus::canopen::NoDeadline};
    }
    Output OnFrame(const CanFrame& frame, TimePoint) const {
        if (frame.id != 0x600 + id_)
            return {};
        CanFrame echo = frame;
        echo.id = static_cast<std::uint16_t>(0x580 + id_);
        return {{echo}, bus::canopen::NoDeadline};
    }
    Output OnTime(TimePoint now) const {
        seen_.Saw(now);
        return {};
    }

private:
    const std::uint8_t id_;
    TimeSeen& seen_;
};

using simtest::Listener;

using Host = sim::NodeHost<EchoNode>;

class NodeHostTest : public testing::Test {
public:
    // Nodes 3 and 9, switched on.
    std::unique_ptr<Host> Start(const sim::NetworkBehaviour& behaviour) {
        std::string error;
        auto lock = sim::FolderLock::Take(folder, &error);
        EXPECT_NE(lock, nullptr) << error;
        auto host = std::make_unique<Host>(
            std::move(lock), bus.Attach(), folder, clock.Clock(),
            [](const CanFrame& frame) { return static_cast<std::uint8_t>(frame.id & 0x7F); },
            behaviour);
        for (std::uint8_t id : {3, 9})
            host->Add(id, std::make_unique<EchoNode>(id, seen));
        host->Start([](EchoNode& node, TimePoint) { return node.PowerOn(); });
        bus.WaitIdle();
        return host;
    }
    // Moves the clock on and returns once the host has sent what was due by then.
    void Advance(Host& host, std::chrono::milliseconds by) {
        clock.Advance(by);
        host.Poke();
        ASSERT_TRUE(seen.WaitFor(clock.Now()));
        bus.WaitIdle();
    }

    QTemporaryDir root;
    const std::string folder = root.path().toStdString();
    ManualClock clock;
    TimeSeen seen;
    bus::SimulatedBus bus;
    Listener master{bus};
};

TEST_F(NodeHostTest, WithoutBehavioursFramesPassStraightThrough) {
    auto host = Start({});
    master.Send("603#01");
    master.Send("609#0203");
    master.Send("604#04"); // no node 4
    bus.WaitIdle();
    EXPECT_EQ(master.Take(), (std::vector<std::string>{"703#00", "709#00", "583#01", "589#0203"}));
}

// Everything a slow node sends waits for its answer delay, then goes in the order the node
// sent it; the other nodes answer at once.
TEST_F(NodeHostTest, AnAnswerDelayHoldsEverythingTheNodeSendsForItsTime) {
    sim::NetworkBehaviour behaviour;
    behaviour.answerDelayMilliseconds[3] = 200;
    behaviour.answerDelayMilliseconds[9] = 0;
    auto host = Start(behaviour);
    EXPECT_EQ(master.Take(), std::vector<std::string>{"709#00"});
    Advance(*host, 100ms);
    master.Send("603#01");
    master.Send("609#02");
    master.Send("603#03");
    bus.WaitIdle();
    EXPECT_EQ(master.Take(), std::vector<std::string>{"589#02"});
    Advance(*host, 99ms);
    EXPECT_EQ(master.Take(), std::vector<std::string>{});
    Advance(*host, 1ms);
    EXPECT_EQ(master.Take(), std::vector<std::string>{"703#00"}); // its boot-up
    Advance(*host, 99ms);
    EXPECT_EQ(master.Take(), std::vector<std::string>{});
    Advance(*host, 1ms);
    EXPECT_EQ(master.Take(), (std::vector<std::string>{"583#01", "583#03"}));
}

// The frames are counted from the network's start over both directions: the two boot-ups are
// frames 1 and 2, then each request and its answer, so the faults fall on requests (the node
// never hears them, or hears them twice or late) and on answers.
TEST_F(NodeHostTest, BusFaultsFallOnTheSameFramesInEveryRun) {
    struct Case {
        const char* what;
        sim::BusFaultSettings faults;
        std::vector<std::string> atOnce;     // heard before the clock moves
        std::vector<std::string> afterwards; // heard 100 ms later
    };
    const std::vector<Case> cases = {
        {"lose_every=5: requests 2 and 5",
         {5, 0, 0, 0, {}},
         {"703#00", "709#00", "583#01", "583#03", "583#04", "583#06"},
         {}},
        {"lose_every=2: the second boot-up and every answer", {2, 0, 0, 0, {}}, {"703#00"}, {}},
        {"duplicate_every=5: requests 2, 4 and 6 heard twice",
         {0, 5, 0, 0, {}},
         {"703#00", "709#00", "583#01", "583#02", "583#02", "583#03", "583#04", "583#04", "583#05",
          "583#06", "583#06"},
         {}},
        {"duplicate_every=4: answers 1, 3 and 5 sent twice",
         {0, 4, 0, 0, {}},
         {"703#00", "709#00", "583#01", "583#01", "583#02", "583#03", "583#03", "583#04", "583#05",
          "583#05", "583#06"},
         {}},
        {"delay_every=5: requests 2 and 5 come late",
         {0, 0, 5, 100, {}},
         {"703#00", "709#00", "583#01", "583#03", "583#04", "583#06"},
         {"583#02", "583#05"}},
        {"delay_every=4: answers 1, 3 and 5 go late",
         {0, 0, 4, 100, {}},
         {"703#00", "709#00", "583#02", "583#04", "583#06"},
         {"583#01", "583#03", "583#05"}},
        {"lose_once=603#02,583#: request 2, and answer 1 but no later answer",
         {0, 0, 0, 0, {{0x603, {0x02}}, {0x583, {}}}},
         {"703#00", "709#00", "583#03", "583#04", "583#05", "583#06"},
         {}},
        {"delay_every without delay_ms",
         {0, 0, 4, 0, {}},
         {"703#00", "709#00", "583#01", "583#02", "583#03", "583#04", "583#05", "583#06"},
         {}},
    };
    for (const Case& c : cases) {
        for (int run = 1; run <= 2; ++run) {
            SCOPED_TRACE(std::string(c.what) + ", run " + std::to_string(run));
            sim::NetworkBehaviour behaviour;
            behaviour.bus = c.faults;
            auto host = Start(behaviour);
            for (const char* request : {"603#01", "603#02", "603#03", "603#04", "603#05", "603#06"})
                master.Send(request);
            bus.WaitIdle();
            EXPECT_EQ(master.Take(), c.atOnce);
            Advance(*host, 99ms);
            EXPECT_EQ(master.Take(), std::vector<std::string>{});
            Advance(*host, 1ms);
            EXPECT_EQ(master.Take(), c.afterwards);
        }
    }
}

} // namespace
