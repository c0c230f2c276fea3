// Which nodes the master sees online: boot-ups, any frame a node sends, node guarding and
// its life time, on the tests' own bus with a clock the tests move.

#include "BusLog.h"
#include "BusPrinters.h"
#include "CopnMaster.h"
#include "CopnTestBus.h"
#include "HangGuards.h"
#include "ManualClock.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using bus::canopen::NmtState;
using bus::canopen::SdoStatus;
using bustest::BusLog;
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
    // Settle, and the SDO work of supervision done too (it must not wait for a time-out).
    void SettleAll() {
        Settle();
        master.WaitForSupervision();
        Settle();
    }
    // Node 3 added, booted, and guarded as the program's poll does; what StartGuarding says.
    bool BootAndStartGuarding() {
        EXPECT_TRUE(master.AddNode(3));
        node.BootUp();
        SettleAll();
        EXPECT_TRUE(Online(3));
        const bool took = master.StartGuarding(3, 1, std::chrono::milliseconds(1000));
        SettleAll();
        return took;
    }

    bus::SimulatedBus bus;
    ManualClock clock;
    BusLog log{bus};
    copn::Master master{std::shared_ptr<bus::CanPort>(bus.Attach()), clock.Clock()};
    TestNode node{bus, 3};
};

class NodeGuardingTest : public testing::Test, public Network {
public:
    static std::chrono::milliseconds OwnGuardTime() { return copn::NodeSupervisor::OwnGuardTime; }
};

// The program's guarding: the node's guard time and life-time factor written by SDO, guard
// requests every guard time less a tenth, the node lost when life-time factor requests in a row go
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
    Step(90ms);
    Step(90ms);
    // Each request a remote frame of length 1; each reply the toggle bit and pre-operational.
    EXPECT_EQ(log.With({0x703}), (std::vector<std::string>{"703#00", "703#R1", "703#7F", "703#R1",
                                                           "703#FF", "703#R1", "703#7F"}));
    EXPECT_EQ(master.NodeState(3), NmtState::PreOperational);
    ASSERT_TRUE(Online(3));

    node.Silence();
    const std::size_t before = log.With({0x703}).size();
    Step(90ms); // the last request had its reply
    EXPECT_TRUE(Online(3));
    Step(90ms); // one request unanswered
    EXPECT_TRUE(Online(3));
    Step(90ms); // two: the life time is over
    EXPECT_FALSE(Online(3));
    EXPECT_EQ(log.With({0x703}).size(), before + 3); // requests go on, unanswered

    ASSERT_TRUE(master.ClearBootUpDetected(3));
    node.BootUp();
    bus.WaitIdle();
    EXPECT_TRUE(Online(3));
    EXPECT_EQ(master.BootUpDetected(3), true);
    Settle();
    Step(90ms); // guarded afresh from its boot-up, the toggle bit from 0 again
    Step(90ms);
    const std::vector<std::string> replies = log.With({0x703});
    EXPECT_EQ(std::vector<std::string>(replies.end() - 7, replies.end()),
              (std::vector<std::string>{"703#00", "703#R1", "703#7F", "703#R1", "703#FF", "703#R1",
                                        "703#7F"}));
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
        ASSERT_TRUE(other->Send(bustest::Frame(c.frame)));
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
    // Seen for the first time: guarded from now on, with one request; its reply sets the
    // toggle bit guarding expects from then on.
    Settle();
    std::vector<std::string> requests, replies;
    for (const std::string& frame : log.With({0x703}))
        (frame == "703#R1" ? requests : replies).push_back(frame);
    EXPECT_EQ(requests.size(), 1u);
    EXPECT_EQ(replies, (std::vector<std::string>{"703#7F"}));
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
    ASSERT_TRUE(other->Send(bustest::Frame("703#R1")));
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

using Means = copn::NodeSupervisor::Means;

// Many nodes produce heartbeats and answer no guard request. Whether the node refuses the
// guarding entries or takes them and stays silent, and whether it has a heartbeat already or
// is given one, it is watched by its heartbeat from the program's start of guarding on, and
// never reported offline while its heartbeats come; one lost heartbeat does not lose it, a
// silence of 2.5 heartbeat times with no answer to a read of 0x1017 does.
TEST(NodeSupervisionTest, AHeartbeatOnlyNodeStaysOnlineAndIsLostWhenItLeaves) {
    struct Case {
        const char* name;
        bool takesGuardingEntries;
        std::uint16_t producerMs; // 0: none yet, the master writes 1000
    };
    const Case cases[] = {
        {"refuses the guarding entries, no heartbeat yet", false, 0},
        {"refuses the guarding entries, heartbeat 500 ms", false, 500},
        {"takes the guarding entries, answers no request, heartbeat 1000 ms", true, 1000},
        {"takes the guarding entries, answers no request, no heartbeat yet", true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Network net;
        net.node.AnswerGuardRequests(false);
        if (!c.takesGuardingEntries) {
            net.node.dictionary.Remove(0x100C, 0);
            net.node.dictionary.Remove(0x100D, 0);
        }
        net.node.dictionary.Set(0x1017, 0,
                                {static_cast<std::uint8_t>(c.producerMs),
                                 static_cast<std::uint8_t>(c.producerMs >> 8)});
        net.BootAndStartGuarding();

        // Twelve seconds: heartbeats at the node's time, every step looked at.
        const auto producer = std::chrono::milliseconds(c.producerMs ? c.producerMs : 1000);
        std::chrono::milliseconds sinceBeat{0};
        for (int i = 0; i < 120; ++i) {
            net.Step(100ms);
            net.master.WaitForSupervision();
            sinceBeat += 100ms;
            if (sinceBeat >= producer) {
                net.node.Heartbeat();
                sinceBeat = 0ms;
            }
            net.Settle();
            ASSERT_TRUE(net.Online(3)) << "offline after " << (i + 1) * 100 << " ms";
        }
        EXPECT_EQ(net.master.SupervisedBy(3), Means::Heartbeat);
        EXPECT_EQ(net.node.dictionary.Value(0x1017, 0),
                  (std::vector<std::uint8_t>{static_cast<std::uint8_t>(producer.count()),
                                             static_cast<std::uint8_t>(producer.count() >> 8)}));
        if (c.takesGuardingEntries) { // no request comes any more: its life guarding is off
            EXPECT_EQ(net.node.dictionary.Value(0x100C, 0), (std::vector<std::uint8_t>{0, 0}));
        }
        // No guard request once the heartbeat is known.
        const std::size_t requests = net.log.With({0x703}).size();
        net.Step(producer * 2); // one heartbeat lost, the next late
        EXPECT_TRUE(net.Online(3));
        net.node.Heartbeat(); // off its period: 0x1017 is read again
        net.Settle();
        net.master.WaitForSupervision();
        EXPECT_TRUE(net.Online(3));
        EXPECT_EQ(net.log.With({0x703}).size(), requests + 1); // the heartbeat only

        net.node.Silence();         // off the bus
        net.Step(producer * 5 / 2); // silent for 2.5 heartbeat times: is it there?
        ASSERT_TRUE(net.log.WaitFor("603#4017100000000000"));
        ASSERT_TRUE(eventually([&] { return net.master.TransferWaits(3); }));
        net.Step(copn::Master::DefaultSdoTimeout);
        net.master.WaitForSupervision();
        net.Settle();
        EXPECT_FALSE(net.Online(3));
        net.node.Heartbeat();
        net.Settle();
        EXPECT_TRUE(net.Online(3));
    }
}

// A node watched by its heartbeat that has gone quiet is back only with a heartbeat: another
// frame of its (an emergency it sent as it went, a late answer) does not make it online
// again, or it would stay so with nothing left to find it gone.
TEST(NodeSupervisionTest, AQuietHeartbeatNodeIsBackOnlyWithAHeartbeat) {
    Network net;
    net.node.AnswerGuardRequests(false);
    net.node.dictionary.Remove(0x100C, 0);
    net.node.dictionary.Remove(0x100D, 0);
    net.BootAndStartGuarding();
    ASSERT_EQ(net.master.SupervisedBy(3), Means::Heartbeat);
    net.node.Heartbeat();
    net.Settle();
    net.node.Silence();
    net.Step(2500ms);
    ASSERT_TRUE(eventually([&] { return net.master.TransferWaits(3); }));
    net.Step(copn::Master::DefaultSdoTimeout);
    net.master.WaitForSupervision();
    net.Settle();
    ASSERT_FALSE(net.Online(3));
    auto other = net.bus.Attach();
    ASSERT_TRUE(other->Send(bustest::Frame("083#3081110000000000")));
    ASSERT_TRUE(other->Send(bustest::Frame("583#4300100092010200")));
    net.Settle();
    EXPECT_FALSE(net.Online(3));
    net.node.Heartbeat();
    net.Settle();
    EXPECT_TRUE(net.Online(3));
}

// A node that answers neither guarding nor takes a heartbeat, but answers SDO, stays online
// while a read of 0x1000 every second succeeds, and is lost when it fails.
TEST(NodeSupervisionTest, ANodeWithNeitherIsWatchedBySdo) {
    Network net;
    net.node.AnswerGuardRequests(false);
    for (std::uint16_t index : {0x100C, 0x100D, 0x1017})
        net.node.dictionary.Remove(index, 0);
    EXPECT_FALSE(net.BootAndStartGuarding());
    EXPECT_EQ(net.master.SupervisedBy(3), Means::Sdo);
    for (int i = 0; i < 50; ++i) {
        net.Step(100ms);
        net.master.WaitForSupervision();
        net.Settle();
        ASSERT_TRUE(net.Online(3)) << "offline after " << (i + 1) * 100 << " ms";
    }
    EXPECT_GE(net.log.With({0x603}).size(), 4u + 4u); // the writes tried, reads of 0x1000

    // The next read goes unanswered: once it has gone out, its time-out loses the node.
    net.node.Silence();
    const std::string read = "603#4000100000000000";
    const std::vector<std::string> before = net.log.Texts();
    const auto reads = static_cast<std::size_t>(std::count(before.begin(), before.end(), read));
    net.Step(copn::NodeSupervisor::ProbePeriod);
    ASSERT_TRUE(net.log.WaitForCount(read, reads + 1));
    ASSERT_TRUE(eventually([&] { return net.master.TransferWaits(3); }));
    EXPECT_TRUE(net.Online(3));
    net.Step(copn::Master::DefaultSdoTimeout);
    net.master.WaitForSupervision();
    net.Settle();
    EXPECT_FALSE(net.Online(3));
}

// From the moment a reset goes to a node until its boot-up, it is offline: so the program's
// poll sees it go and reads the identity of the node that runs afterwards. A node that never
// sends its boot-up is found again by its guarding.
TEST(NodeSupervisionTest, AResetNodeIsOfflineUntilItsBootUp) {
    using bus::canopen::NmtCommand;
    struct Case {
        const char* name;
        NmtCommand command;
        std::uint8_t addressed;
        bool bootsUp;
    };
    const Case cases[] = {
        {"reset node", NmtCommand::ResetNode, 3, true},
        {"reset communication", NmtCommand::ResetCommunication, 3, true},
        {"reset communication of every node", NmtCommand::ResetCommunication, 0, true},
        {"reset node, no boot-up: found by guarding", NmtCommand::ResetNode, 3, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Network net;
        ASSERT_TRUE(net.master.AddNode(3));
        net.node.BootUp();
        net.SettleAll();
        ASSERT_TRUE(net.master.StartGuarding(3, 1, 1000ms));
        net.SettleAll();
        ASSERT_TRUE(net.Online(3));

        net.node.Silence(); // the node restarts: it hears nothing for a while
        ASSERT_TRUE(net.master.SendNmt(c.command, c.addressed));
        EXPECT_FALSE(net.Online(3)); // at once, before anything more is heard
        for (int i = 0; i < 20; ++i) {
            net.Step(100ms);
            ASSERT_FALSE(net.Online(3)) << (i + 1) * 100 << " ms into the restart";
        }
        if (c.bootsUp) {
            net.node.BootUp();
            net.Settle();
            EXPECT_TRUE(net.Online(3));
        } else {
            net.node.ComeBackWithoutBootUp();
            std::chrono::milliseconds waited{0};
            while (!net.Online(3) && waited < 5s) {
                net.Step(100ms);
                waited += 100ms;
            }
            EXPECT_TRUE(net.Online(3));
            EXPECT_LE(waited, 2000ms);
        }
        for (int i = 0; i < 30; ++i) {
            net.Step(100ms);
            ASSERT_TRUE(net.Online(3)) << (i + 1) * 100 << " ms after it came back";
        }
    }
}

// A heartbeat time changed on the node is followed: at once when it is written through the
// master, and when another tool writes it, by a read of 0x1017 once the next heartbeat is
// late. Neither loses the node while its heartbeats come. Switched off (0), the node is asked
// by SDO whether it is there, and stays online while it answers.
TEST(NodeSupervisionTest, AChangedHeartbeatTimeIsFollowed) {
    for (const bool throughTheMaster : {true, false}) {
        SCOPED_TRACE(throughTheMaster ? "written through the master" : "written by another tool");
        Network net;
        net.node.AnswerGuardRequests(false);
        net.node.dictionary.Remove(0x100C, 0);
        net.node.dictionary.Remove(0x100D, 0);
        net.node.dictionary.Set(0x1017, 0, {0xE8, 0x03}); // 1000 ms
        net.BootAndStartGuarding();
        ASSERT_EQ(net.master.SupervisedBy(3), Means::Heartbeat);
        const auto write = [&](std::uint16_t ms) {
            const std::vector<std::uint8_t> value{static_cast<std::uint8_t>(ms),
                                                  static_cast<std::uint8_t>(ms >> 8)};
            if (throughTheMaster)
                EXPECT_EQ(net.master.Download(3, 0x1017, 0, value).status, SdoStatus::Done);
            else
                net.node.dictionary.Set(0x1017, 0, value);
        };
        const auto steps = [&](int count, std::chrono::milliseconds heartbeat) {
            std::chrono::milliseconds sinceBeat{0};
            for (int i = 0; i < count; ++i) {
                net.Step(100ms);
                net.master.WaitForSupervision();
                sinceBeat += 100ms;
                if (heartbeat.count() > 0 && sinceBeat >= heartbeat) {
                    net.node.Heartbeat();
                    sinceBeat = 0ms;
                }
                net.Settle();
                ASSERT_TRUE(net.Online(3)) << "offline after " << (i + 1) * 100 << " ms";
            }
        };
        net.node.Heartbeat();
        net.Settle();
        write(3000);
        steps(120, 3000ms);
        EXPECT_EQ(net.master.SupervisedBy(3), Means::Heartbeat);

        write(0); // no heartbeat any more
        steps(100, 0ms);
        EXPECT_EQ(net.master.SupervisedBy(3), Means::Sdo);
    }
}

// A node watched by SDO whose probe comes due while other SDO work for it waits behind
// another node's time-outs is probed once that work is done: its probes never stop, and it
// is found gone when it leaves.
TEST(NodeSupervisionTest, AProbeDueWhileOtherWorkForTheNodeWaitsIsNotLost) {
    Network net; // node 3 goes silent: its SDO work waits for time-outs
    TestNode neither(net.bus, 4);
    neither.AnswerGuardRequests(false);
    for (std::uint16_t index : {0x100C, 0x100D, 0x1017})
        neither.dictionary.Remove(index, 0);
    ASSERT_TRUE(net.master.SetSdoTimeout(3000ms));
    ASSERT_TRUE(net.master.AddNode(3));
    ASSERT_TRUE(net.master.AddNode(4));
    // Both nodes leave their guard requests unanswered until the rounds show it: node 3 is
    // looked at by SDO first, and does not answer.
    net.node.AnswerGuardRequests(false);
    net.node.BootUp();
    net.node.Silence();
    neither.BootUp();
    net.Settle();
    for (int round = 0; round < copn::NodeSupervisor::SilentRounds; ++round)
        net.Step(copn::NodeSupervisor::OwnGuardTime);
    ASSERT_TRUE(eventually([&] { return net.master.TransferWaits(3); }));
    // Meanwhile the program's start of guarding finds node 4 refusing it: watched by SDO.
    EXPECT_FALSE(net.master.StartGuarding(4, 1, 1000ms));
    EXPECT_EQ(net.master.SupervisedBy(4), Means::Sdo);
    const std::string probe = "604#4000100000000000";
    for (int second = 1; second <= 8; ++second) {
        SCOPED_TRACE(second);
        net.Step(1000ms);
        // Node 4's probe of this second, whatever node 3's work waits for.
        ASSERT_TRUE(net.log.WaitForCount(probe, static_cast<std::size_t>(second)));
        ASSERT_TRUE(eventually([&] { return !net.master.TransferWaits(4); }));
        net.Settle();
        EXPECT_TRUE(net.Online(4));
    }
    neither.Silence();
    net.Step(1000ms);
    ASSERT_TRUE(net.log.WaitForCount(probe, 9));
    ASSERT_TRUE(eventually([&] { return net.master.TransferWaits(4); }));
    net.Step(3000ms);
    ASSERT_TRUE(eventually([&] { return !net.master.TransferWaits(4); }));
    net.Settle();
    EXPECT_FALSE(net.Online(4));
}

} // namespace
