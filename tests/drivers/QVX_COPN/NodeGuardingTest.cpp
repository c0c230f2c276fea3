// Which nodes the master sees online: boot-ups, any frame a node sends, node guarding and
// its life time, on the tests' own bus with a clock the tests move.

#include "BusPrinters.h"
#include "CopnMaster.h"
#include "CopnTestBus.h"
#include "ManualClock.h"

#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using bus::canopen::NmtState;
using bus::canopen::SdoStatus;
using copntest::FrameLog;
using copntest::TestNode;

// A master on a bus of its own, with node 3 on it.
struct Network {
    Network() { EXPECT_TRUE(master.SetOnline(true)); }

    // Lets what is under way settle: the frames on the bus handled, the master's guarding
    // round done at the current time, and the answers to it handled.
    void Settle() {
        bus.WaitIdle();
        master.Poke();
        bus.WaitIdle();
    }
    void Step(std::chrono::milliseconds by) {
        clock.Advance(by);
        Settle();
    }
    bool Online(std::uint8_t n) { return master.NodeOnline(n).value_or(false); }

    bus::SimulatedBus bus;
    ManualClock clock;
    FrameLog log{bus};
    copn::Master master{std::shared_ptr<bus::CanPort>(bus.Attach()), clock.Clock()};
    TestNode node{bus, 3};
};

class NodeGuardingTest : public testing::Test, public Network {
public:
    static std::chrono::milliseconds OwnGuardTime() { return copn::NodeSupervisor::OwnGuardTime; }
};

// The program's guarding: the node's guard time and life-time factor written by SDO, guard
// requests every guard time, the node lost when life-time factor requests in a row go
// unanswered, and back at once with its boot-up.
TEST_F(NodeGuardingTest, GuardsAsAskedLosesASilentNodeAndTakesItBackAtItsBootUp) {
    node.BootUp(); // before the master was told of the node: seen, but not yet watched
    bus.WaitIdle();
    ASSERT_TRUE(master.AddNode(3));
    EXPECT_FALSE(Online(3));
    EXPECT_TRUE(master.StartGuarding(3, 2, 100ms));
    Settle();
    EXPECT_TRUE(Online(3)); // its answers to the writes
    EXPECT_EQ(node.dictionary.Value(0x100C, 0), (std::vector<std::uint8_t>{0x64, 0x00}));
    EXPECT_EQ(node.dictionary.Value(0x100D, 0), std::vector<std::uint8_t>{0x02});
    EXPECT_EQ(log.With({0x603, 0x583}),
              (std::vector<std::string>{"603#2B0C100064000000", "583#600C100000000000",
                                        "603#2F0D100002000000", "583#600D100000000000"}));
    Step(100ms);
    Step(100ms);
    // Each request a remote frame of length 1; each reply the toggle bit and pre-operational.
    EXPECT_EQ(log.With({0x703}), (std::vector<std::string>{"703#00", "703#R1", "703#7F", "703#R1",
                                                           "703#FF", "703#R1", "703#7F"}));
    EXPECT_EQ(master.NodeState(3), NmtState::PreOperational);
    ASSERT_TRUE(Online(3));

    node.Silence();
    const std::size_t before = log.With({0x703}).size();
    Step(100ms); // the last request had its reply
    EXPECT_TRUE(Online(3));
    Step(100ms); // one request unanswered
    EXPECT_TRUE(Online(3));
    Step(100ms); // two: the life time is over
    EXPECT_FALSE(Online(3));
    EXPECT_EQ(log.With({0x703}).size(), before + 3); // requests go on, unanswered

    ASSERT_TRUE(master.ClearBootUpDetected(3));
    node.BootUp();
    bus.WaitIdle();
    EXPECT_TRUE(Online(3));
    EXPECT_EQ(master.BootUpDetected(3), true);
    Settle();
    Step(100ms); // guarded on, the toggle bit from 0 again
    Step(100ms);
    const std::vector<std::string> replies = log.With({0x703});
    EXPECT_EQ(std::vector<std::string>(replies.end() - 5, replies.end()),
              (std::vector<std::string>{"703#00", "703#R1", "703#7F", "703#R1", "703#FF"}));
    EXPECT_TRUE(Online(3));
}

// Whatever guarding the program asked for, or none, a node that leaves the bus is offline
// within 3 s; one that stays is never dropped.
TEST(NodeGuardingLimits, ANodeThatLeavesIsOfflineWithinThreeSeconds) {
    struct Case {
        const char* name;
        std::optional<std::pair<std::chrono::milliseconds, std::uint8_t>> asked;
    };
    const Case cases[] = {
        {"not guarded by the program", std::nullopt},
        {"guard time 1000 ms, factor 1", std::pair{1000ms, std::uint8_t{1}}},
        {"guard time 100 ms, factor 2", std::pair{100ms, std::uint8_t{2}}},
        {"guard time 5000 ms, factor 3", std::pair{5000ms, std::uint8_t{3}}},
        {"guard time 200 ms, factor 20", std::pair{200ms, std::uint8_t{20}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Network net;
        ASSERT_TRUE(net.master.AddNode(3));
        net.node.BootUp();
        net.Settle();
        ASSERT_TRUE(net.Online(3));
        if (c.asked) {
            EXPECT_TRUE(net.master.StartGuarding(3, c.asked->second, c.asked->first));
            net.Settle();
        }
        // Ten seconds, each round looked at before the node's replies come in: a node lost
        // for a moment and found again by its next reply would show here.
        for (int i = 0; i < 100; ++i) {
            net.node.HoldReplies();
            net.Step(100ms);
            ASSERT_TRUE(net.Online(3))
                << "dropped while answering, after " << (i + 1) * 100 << " ms";
            net.node.ReleaseReplies();
            net.Settle();
        }
        net.node.Silence();
        std::chrono::milliseconds silent{0};
        while (net.Online(3) && silent < 10s) {
            net.Step(100ms);
            silent += 100ms;
        }
        EXPECT_FALSE(net.Online(3));
        EXPECT_LE(silent, 3000ms);
    }
}

// Any frame that only the node itself sends shows it online; frames to it, or from another
// master, do not.
TEST_F(NodeGuardingTest, AnyFrameTheNodeSendsShowsItOnline) {
    struct Case {
        const char* frame;
        bool fromTheNode;
    };
    const Case cases[] = {
        {"083#0010000000000000", true},  // emergency
        {"183#01", true},                // transmit PDO 1
        {"483#0102", true},              // transmit PDO 4
        {"583#4300100092010200", true},  // its SDO server's answer
        {"703#05", true},                // a heartbeat
        {"703#00", true},                // its boot-up
        {"203#01", false},               // receive PDO 1: to the node
        {"603#4000100000000000", false}, // a request to its SDO server
        {"703#R1", false},               // a guard request
        {"000#0103", false},             // NMT
        {"704#05", false},               // another node
    };
    node.Silence(); // only the frames below speak for it
    auto other = bus.Attach();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.frame);
        ASSERT_TRUE(master.AddNode(3));
        ASSERT_TRUE(other->Send(copntest::Frame(c.frame)));
        bus.WaitIdle();
        EXPECT_EQ(Online(3), c.fromTheNode);
        ASSERT_TRUE(master.RemoveNode(3));
        EXPECT_EQ(master.NodeOnline(3), std::nullopt);
    }
}

TEST_F(NodeGuardingTest, AnSdoAnswerShowsANodeOnlineThatNeverBooted) {
    ASSERT_TRUE(master.AddNode(3));
    EXPECT_EQ(master.NodeOnline(3), false);
    EXPECT_EQ(master.NodeOnline(5), std::nullopt); // not added
    EXPECT_EQ(master.Upload(3, 0x1000, 0, 4).status, SdoStatus::Done);
    EXPECT_TRUE(Online(3));
    EXPECT_EQ(master.BootUpDetected(3), false);
    // Seen for the first time: guarded from now on. Its toggle bit is not known yet: two
    // requests, so that one of the replies has the bit guarding starts with.
    Settle();
    std::vector<std::string> requests, replies;
    for (const std::string& frame : log.With({0x703}))
        (frame == "703#R1" ? requests : replies).push_back(frame);
    EXPECT_EQ(requests.size(), 2u);
    EXPECT_EQ(replies, (std::vector<std::string>{"703#7F", "703#FF"}));
    EXPECT_EQ(master.NodeState(3), NmtState::PreOperational);
}

// What a node answered while the master was offline went unheard: its toggle bit is not
// taken for known when guarding starts again, so its first reply round is not missed.
TEST_F(NodeGuardingTest, GuardingAfterGoingOfflineDoesNotTrustAnOldToggleBit) {
    ASSERT_TRUE(master.AddNode(3));
    node.BootUp();
    Settle();
    Step(NodeGuardingTest::OwnGuardTime()); // the replies so far: 0, 1; the next one 0
    ASSERT_EQ(log.With({0x703}).back(), "703#FF");
    ASSERT_TRUE(master.SetOnline(false));
    auto other = bus.Attach(); // another master guards it meanwhile: its next reply has 1
    ASSERT_TRUE(other->Send(copntest::Frame("703#R1")));
    bus.WaitIdle();
    ASSERT_EQ(log.With({0x703}).back(), "703#7F");

    ASSERT_TRUE(master.SetOnline(true));
    EXPECT_TRUE(master.StartGuarding(3, 1, 1000ms)); // a single missed round loses the node
    Settle();
    ASSERT_TRUE(Online(3));
    for (int i = 0; i < 5; ++i) {
        node.HoldReplies();
        Step(1000ms);
        EXPECT_TRUE(Online(3)) << "round " << i;
        node.ReleaseReplies();
        Settle();
    }
}

TEST_F(NodeGuardingTest, OfflineTheMasterForgetsEveryNodeAndSendsNothing) {
    ASSERT_TRUE(master.AddNode(3));
    node.BootUp();
    Settle();
    ASSERT_TRUE(Online(3));
    ASSERT_TRUE(master.SetOnline(false));
    EXPECT_FALSE(Online(3));
    const std::size_t before = log.Count();
    Step(5000ms);
    node.BootUp(); // not looked at
    bus.WaitIdle();
    EXPECT_FALSE(Online(3));
    EXPECT_EQ(log.Count(), before + 1);

    ASSERT_TRUE(master.SetOnline(true));
    EXPECT_FALSE(Online(3));
    node.BootUp();
    bus.WaitIdle();
    EXPECT_TRUE(Online(3));
}

} // namespace
