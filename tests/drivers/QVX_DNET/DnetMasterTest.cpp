// The DeviceNet master against nodes on the test's own bus, frame by frame. The expected
// frames are written out from the DeviceNet message layouts: Group 2 identifier 0x400 | MAC
// ID << 3 | message ID (6 unconnected request, 4 explicit request, 3 response, 7 duplicate
// MAC ID check); first byte Frag (0x80) | XID (0x40) | the master's MAC ID; then the service
// code, class, instance and data, or the fragment byte (type << 6 | count) and up to six
// bytes. The master has MAC ID 1, the node MAC ID 5.

#include "DnetMaster.h"

#include "BusLog.h"
#include "DnetTestBus.h"
#include "HangGuards.h"
#include "ManualClock.h"

#include <algorithm>
#include <future>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using bus::devicenet::ExplicitFailure;
using bus::devicenet::ExplicitResult;
using bus::devicenet::ExplicitStatus;
using bustest::BusLog;
using dnettest::Station;
using dnettest::TestNode;

std::vector<std::uint8_t> text(const std::string& s) {
    return {s.begin(), s.end()};
}

// A bus with the log, node 5 and the master, which goes online with MAC ID 1.
struct Rig {
    Rig() {
        EXPECT_TRUE(master.SetOwnMac(1));
        EXPECT_TRUE(GoOnline());
        online = log.Count();
    }

    // The duplicate MAC ID check runs on the test's clock: its two requests a second apart,
    // then a second of silence.
    bool GoOnline() {
        const std::size_t before = log.Count();
        auto going = std::async(std::launch::async, [&] { return master.SetOnline(true); });
        for (std::size_t request = 1; request <= 2; ++request) {
            if (!log.WaitUntil(
                    [&](const auto& frames) { return frames.size() >= before + request; }))
                break;
            clock.Advance(1s);
            master.Poke();
        }
        return finished(going);
    }
    // The clock a while on, and what the master made of it.
    void Pass(std::chrono::milliseconds by) {
        clock.Advance(by);
        master.Poke();
    }
    std::vector<std::string> Since() const { return log.From(online); }
    // Another node on the bus, there as long as the master (which releases its connection when
    // it goes).
    TestNode& Add(std::uint8_t mac) {
        return *others.emplace_back(std::make_unique<TestNode>(bus, mac));
    }

    bus::SimulatedBus bus;
    ManualClock clock;
    BusLog log{bus};
    TestNode node{bus, 5};
    std::vector<std::unique_ptr<TestNode>> others;
    dnet::Master master{std::shared_ptr<bus::CanPort>(bus.Attach()), clock.Clock()};
    std::size_t online = 0;
};

struct Exchange {
    const char* name;
    std::function<ExplicitResult(dnet::Master&)> request;
    std::vector<std::string> frames;
    ExplicitStatus status;
    std::vector<std::uint8_t> data = {};
    std::uint8_t generalStatus = 0;
};

TEST(DnetMasterTest, ExplicitMessagingFrameByFrame) {
    const std::vector<std::uint8_t> block = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7};
    const Exchange cases[] = {
        {"a request allocates the connection first",
         [](dnet::Master& m) { return m.GetAttribute(5, 1, 1, 1); },
         {"42E#014B03010101", "42B#01CB00", "42C#410E010101", "42B#418ED902"},
         ExplicitStatus::Done,
         {0xD9, 0x02}},
        {"allocate and release",
         [](dnet::Master& m) {
             EXPECT_EQ(m.Allocate(5).status, ExplicitStatus::Done);
             return m.Release(5);
         },
         {"42E#014B03010101", "42B#01CB00", "42E#414C030101", "42B#41CC"},
         ExplicitStatus::Done},
        {"a fragmented request, each fragment acknowledged",
         [&](dnet::Master& m) { return m.SetAttribute(5, 0x64, 1, 3, block); },
         {"42E#014B03010101", "42B#01CB00", "42C#C10010640103A0A1", "42B#C1C000",
          "42C#C181A2A3A4A5A6A7", "42B#C1C100", "42B#4190"},
         ExplicitStatus::Done},
        {"a fragmented response, each fragment acknowledged",
         [](dnet::Master& m) { return m.GetAttribute(5, 1, 1, 7); },
         {"42E#014B03010101", "42B#01CB00", "42C#410E010107", "42B#C1008E095A414E44", "42C#C1C000",
          "42B#C18152454C2D44", "42C#C1C100"},
         ExplicitStatus::Done,
         {9, 'Z', 'A', 'N', 'D', 'R', 'E', 'L', '-', 'D'}},
        {"an error response: attribute not supported",
         [](dnet::Master& m) { return m.GetAttribute(5, 1, 1, 9); },
         {"42E#014B03010101", "42B#01CB00", "42C#410E010109", "42B#419414FF"},
         ExplicitStatus::Failed,
         {},
         0x14},
        {"an error response: attribute not settable",
         [](dnet::Master& m) {
             return m.SetAttribute(5, 1, 1, 1, {0x01, 0x02});
         },
         {"42E#014B03010101", "42B#01CB00", "42C#41100101010102", "42B#41940EFF"},
         ExplicitStatus::Failed,
         {},
         0x0E},
        {"any service, with its data",
         [](dnet::Master& m) { return m.Request(5, 0x4E, 0x64, 1, {0x07}); },
         {"42E#014B03010101", "42B#01CB00", "42C#414E640107", "42B#419408FF"},
         ExplicitStatus::Failed,
         {},
         0x08},
    };
    for (const Exchange& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.node.objects.Set(0x64, 1, 3, {});
        const ExplicitResult result = c.request(rig.master);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.data, c.data);
        EXPECT_EQ(result.generalStatus, c.generalStatus);
        EXPECT_TRUE(rig.log.WaitUntil(
            [&](const auto& f) { return f.size() >= rig.online + c.frames.size(); }));
        EXPECT_EQ(rig.Since(), c.frames);
    }
}

TEST(DnetMasterTest, TheFragmentedRequestArrivesWhole) {
    Rig rig;
    rig.node.objects.Set(0xC7, 1, 3, {});
    std::vector<std::uint8_t> command = {0x02, 0x02, 0x45, 0x23, 0x01, 0x20};
    for (int i = 0; i < 32; ++i)
        command.push_back(static_cast<std::uint8_t>(i * 7));
    EXPECT_EQ(rig.master.SetAttribute(5, 0xC7, 1, 3, command).status, ExplicitStatus::Done);
    EXPECT_EQ(rig.node.objects.Value(0xC7, 1, 3), command);
}

// The request's XID is that of the one two before: while its fragments are still going
// out, an answer with that XID is a late one, and the block has not been written yet.
TEST(DnetMasterTest, AFragmentedRequestIsAnsweredOnlyAfterItsLastFragment) {
    Rig rig;
    rig.node.objects.Set(0x64, 1, 3, {});
    rig.node.SayFirst("42C#C10010640103A0A1", "42B#4190");
    const std::vector<std::uint8_t> block = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7};
    EXPECT_EQ(rig.master.SetAttribute(5, 0x64, 1, 3, block).status, ExplicitStatus::Done);
    EXPECT_EQ(rig.node.objects.Writes(0x64, 1, 3), std::vector<std::vector<std::uint8_t>>{block});
    ASSERT_TRUE(rig.log.WaitUntil([&](const auto& f) { return f.size() >= rig.online + 8; }));
    EXPECT_EQ(rig.Since(), (std::vector<std::string>{
                               "42E#014B03010101", "42B#01CB00", "42C#C10010640103A0A1", "42B#4190",
                               "42B#C1C000", "42C#C181A2A3A4A5A6A7", "42B#C1C100", "42B#4190"}));
}

TEST(DnetMasterTest, ANodeThatDoesNotAnswerTimesOutAndIsAllocatedAfresh) {
    Rig rig;
    ASSERT_EQ(rig.master.Allocate(5).status, ExplicitStatus::Done);
    rig.node.Silence();
    auto asking =
        std::async(std::launch::async, [&] { return rig.master.GetAttribute(5, 1, 1, 1); });
    ASSERT_TRUE(rig.log.WaitFor("42C#410E010101"));
    rig.Pass(999ms);
    EXPECT_NE(asking.wait_for(0s), std::future_status::ready);
    rig.Pass(1ms);
    const ExplicitResult result = finished(asking);
    EXPECT_EQ(result.status, ExplicitStatus::Failed);
    EXPECT_EQ(result.failure, ExplicitFailure::Timeout);

    // Whether the node still holds the connection is not known: it is allocated again.
    rig.node.Restart();
    EXPECT_EQ(rig.master.GetAttribute(5, 1, 1, 3).data, (std::vector<std::uint8_t>{0xE2, 0x1F}));
    const auto frames = rig.Since();
    ASSERT_GE(frames.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(frames.end() - 4, frames.end()),
              (std::vector<std::string>{"42E#014B03010101", "42B#01CB00", "42C#410E010103",
                                        "42B#418EE21F"}));
}

TEST(DnetMasterTest, RefusesWhatCannotBeSent) {
    Rig rig;
    EXPECT_EQ(rig.master.GetAttribute(64, 1, 1, 1).status, ExplicitStatus::Failed);
    EXPECT_EQ(rig.master.GetAttribute(1, 1, 1, 1).status, ExplicitStatus::Failed); // itself
    // Class 0x100 does not fit the node's 8/8 message body format.
    EXPECT_EQ(rig.master.GetAttribute(5, 0x100, 1, 1).failure, ExplicitFailure::InvalidRequest);
    EXPECT_FALSE(rig.master.SetOwnMac(2)); // online
    ASSERT_TRUE(rig.master.SetOnline(false));
    EXPECT_EQ(rig.master.GetAttribute(5, 1, 1, 1).status, ExplicitStatus::Failed);
    EXPECT_FALSE(rig.master.SetOwnMac(64));
    EXPECT_TRUE(rig.master.SetOwnMac(63));
    EXPECT_EQ(rig.Since(), std::vector<std::string>{});
}

TEST(DnetMasterTest, GoingOfflineEndsAWaitingRequest) {
    Rig rig;
    rig.node.Silence();
    auto asking =
        std::async(std::launch::async, [&] { return rig.master.GetAttribute(5, 1, 1, 1); });
    ASSERT_TRUE(rig.log.WaitFor("42E#014B03010101"));
    ASSERT_TRUE(rig.master.SetOnline(false));
    EXPECT_EQ(finished(asking).status, ExplicitStatus::Failed);
}

// Going offline gives back the connections the master holds, so that another master can
// allocate the nodes at once instead of after their inactivity watchdog: Release (0x4C) to
// class 3, instance 1, choice 0x01 on each node's unconnected request identifier.
TEST(DnetMasterTest, GoingOfflineReleasesTheConnectionsTheMasterHolds) {
    const std::pair<const char*, std::function<void(dnet::Master&)>> ways[] = {
        {"offline",
         [](dnet::Master& m) {
             EXPECT_TRUE(m.SetOnline(false));
         }},
        {"shut down",
         [](dnet::Master& m) {
             m.Shutdown();
         }},
    };
    for (const auto& [name, leave] : ways) {
        SCOPED_TRACE(name);
        Rig rig;
        TestNode& six = rig.Add(6);
        rig.Add(7);
        ASSERT_EQ(rig.master.GetAttribute(5, 1, 1, 1).status, ExplicitStatus::Done); // XID 0, 1
        ASSERT_EQ(rig.master.Allocate(6).status, ExplicitStatus::Done);              // XID 0
        const std::size_t before = rig.log.Count();
        leave(rig.master);
        EXPECT_FALSE(rig.master.Online());
        rig.bus.WaitIdle();
        auto frames = rig.log.From(before);
        std::sort(frames.begin(), frames.end()); // the nodes answer in any order
        EXPECT_EQ(frames, (std::vector<std::string>{"42B#01CC", "42E#014C030101", "433#41CC",
                                                    "436#414C030101"}));
        EXPECT_FALSE(rig.node.Allocated());
        EXPECT_FALSE(six.Allocated());

        // Another master takes node 5 at once.
        auto other = rig.bus.Attach();
        ASSERT_TRUE(other->Send(bustest::Frame("42E#024B03010102")));
        EXPECT_TRUE(rig.log.WaitFor("42B#02CB00"));
        // Nothing more from this master, and nothing when it is offline already.
        rig.master.SetOnline(false);
        rig.master.Shutdown();
        rig.bus.WaitIdle();
        EXPECT_EQ(rig.log.From(before).size(), 6u);
    }
}

// A node that does not answer its release has its time-out, on the master's clock.
TEST(DnetMasterTest, GoingOfflineWaitsForAReleaseAtMostItsTimeOut) {
    Rig rig;
    ASSERT_EQ(rig.master.Allocate(5).status, ExplicitStatus::Done);
    rig.node.Silence();
    auto leaving = std::async(std::launch::async, [&] { return rig.master.SetOnline(false); });
    ASSERT_TRUE(rig.log.WaitFor("42E#414C030101"));
    rig.Pass(999ms);
    EXPECT_NE(leaving.wait_for(0s), std::future_status::ready);
    rig.Pass(1ms);
    EXPECT_TRUE(finished(leaving));
    EXPECT_FALSE(rig.master.Online());
}

TEST(DnetMasterTest, ADuplicateMacIdKeepsTheMasterOffline) {
    bus::SimulatedBus bus;
    ManualClock clock;
    BusLog log{bus};
    dnet::Master master{std::shared_ptr<bus::CanPort>(bus.Attach()), clock.Clock()};
    ASSERT_TRUE(master.SetOwnMac(1));
    {
        Station other(bus, 1);
        EXPECT_FALSE(master.SetOnline(true));
        EXPECT_TRUE(master.DuplicateFound());
        EXPECT_FALSE(master.Online());
        const auto frames = log.Texts();
        ASSERT_EQ(frames.size(), 2u);
        // Request, port 0, vendor ID 0x5A44, then the serial number; the answer of the
        // station with its vendor ID 0x0123 and serial number 0x00ABCDEF.
        EXPECT_EQ(frames[0].substr(0, 10), "40F#00445A");
        EXPECT_EQ(frames[0].size(), 4u + 14u);
        EXPECT_EQ(frames[1], "40F#802301EFCDAB00");
        EXPECT_EQ(master.GetAttribute(5, 1, 1, 1).status, ExplicitStatus::Failed);
    }
    // Alone with the MAC ID it goes online, and answers the check of a station that comes
    // with it.
    auto going = std::async(std::launch::async, [&] { return master.SetOnline(true); });
    ASSERT_TRUE(log.WaitUntil([](const auto& f) { return f.size() >= 3; }));
    clock.Advance(1s);
    master.Poke();
    ASSERT_TRUE(log.WaitUntil([](const auto& f) { return f.size() >= 4; }));
    clock.Advance(1s);
    master.Poke();
    ASSERT_TRUE(finished(going));
    EXPECT_FALSE(master.DuplicateFound());
    const std::string request = log.Texts()[2];
    EXPECT_EQ(log.Texts()[3], request);

    auto port = bus.Attach();
    ASSERT_TRUE(port->Send(bustest::Frame("40F#002301EFCDAB00")));
    ASSERT_TRUE(log.WaitFor("40F#80" + request.substr(6)));
    EXPECT_TRUE(master.Online());
    // A response for its MAC ID: another station is online with it. The master leaves.
    ASSERT_TRUE(port->Send(bustest::Frame("40F#802301EFCDAB00")));
    EXPECT_TRUE(eventually([&] { return !master.Online(); }));
    EXPECT_TRUE(master.DuplicateFound());
}

TEST(DnetMasterTest, TheScannerKeepsTheConnectionAndFindsARestartedNodeAgain) {
    Rig rig;
    const std::array<std::uint16_t, 4> params{48, 48, 1000, 2500};
    EXPECT_FALSE(rig.master.AddToScanlist(5, 0x02, params)); // I/O alone is not served
    EXPECT_FALSE(rig.master.AddToScanlist(64, 0x01, params));
    ASSERT_TRUE(rig.master.AddToScanlist(5, 0x01, params));
    ASSERT_TRUE(rig.master.AddToScanlist(1, 0x01, params)); // itself: never asked
    EXPECT_EQ(rig.master.NodePresent(5), false);
    rig.master.StartScan();
    ASSERT_TRUE(rig.log.WaitFor("42B#01CB00"));
    EXPECT_TRUE(eventually([&] { return rig.master.NodePresent(5) == true; }));
    EXPECT_EQ(rig.master.NodePresent(1), false);

    // Idle for a second: a cheap request keeps the connection.
    rig.Pass(1s);
    ASSERT_TRUE(rig.log.WaitFor("42B#418ED902"));
    EXPECT_EQ(rig.Since(), (std::vector<std::string>{"42E#014B03010101", "42B#01CB00",
                                                     "42C#410E010101", "42B#418ED902"}));

    // The program restarts the node: absent at once, allocated again when it is back.
    EXPECT_EQ(rig.master.Request(5, 0x05, 1, 1, {}).status, ExplicitStatus::Done);
    EXPECT_EQ(rig.master.NodePresent(5), false);
    ASSERT_TRUE(rig.log.WaitFor("42E#414B03010101")); // the XID goes on alternating
    EXPECT_EQ(rig.Since()[4], "42C#01050101");
    EXPECT_EQ(rig.Since()[5], "42B#0185");
    rig.Pass(1s); // no answer: asked again
    ASSERT_TRUE(rig.log.WaitForAnother("42E#014B03010101", 1));
    EXPECT_EQ(rig.master.NodePresent(5), false);
    // Back: the next attempt, at the latest, finds it (it may answer one already on its way).
    rig.node.Restart();
    rig.Pass(1s);
    EXPECT_TRUE(eventually([&] { return rig.master.NodePresent(5) == true; }));

    // A node that leaves without a word is absent within three seconds.
    rig.node.Silence();
    int waited = 0;
    while (rig.master.NodePresent(5) == true && waited < 3000) {
        rig.Pass(250ms);
        waited += 250;
    }
    EXPECT_EQ(rig.master.NodePresent(5), false);

    // Out of the scanlist, or not scanning: absent, and left alone.
    rig.node.Restart();
    rig.Pass(1s);
    EXPECT_TRUE(eventually([&] { return rig.master.NodePresent(5) == true; }));
    rig.master.StopScan();
    EXPECT_EQ(rig.master.NodePresent(5), false);
    rig.master.StartScan();
    EXPECT_EQ(rig.master.NodePresent(5), true);
    ASSERT_TRUE(rig.master.RemoveFromScanlist(5, 0x00)); // nothing named: nothing changes
    EXPECT_EQ(rig.master.NodePresent(5), true);
    ASSERT_TRUE(rig.master.RemoveFromScanlist(5, 0x01));
    EXPECT_EQ(rig.master.NodePresent(5), false);
    EXPECT_TRUE(rig.master.RemoveFromScanlist(5, 0x01));
    const std::size_t before = rig.log.Count();
    rig.Pass(5s);
    EXPECT_EQ(rig.log.Count(), before);
    EXPECT_EQ(rig.master.NodePresent(64), std::nullopt);
}

// Callers that wait for a node take their turns in the order they came: each queues up
// while the node holds back its answer to the first.
TEST(DnetMasterTest, RequestsToOneNodeRunInTheOrderTheyWereMade) {
    Rig rig;
    rig.node.objects.Set(0x64, 1, 3, {});
    ASSERT_EQ(rig.master.Allocate(5).status, ExplicitStatus::Done);
    rig.node.Hold();
    std::vector<std::future<ExplicitStatus>> calls;
    const auto call = [&](std::uint8_t value) {
        calls.push_back(std::async(std::launch::async, [&rig, value] {
            return rig.master.SetAttribute(5, 0x64, 1, 3, {value}).status;
        }));
    };
    call(0);
    ASSERT_TRUE(rig.log.WaitFor("42C#411064010300"));
    constexpr std::uint8_t queued = 12;
    for (std::uint8_t value = 1; value <= queued; ++value) {
        call(value);
        ASSERT_TRUE(eventually([&] { return rig.master.Waiting(5) == value; }));
    }
    rig.node.Let();
    std::vector<std::vector<std::uint8_t>> expected;
    for (std::uint8_t value = 0; value <= queued; ++value) {
        EXPECT_EQ(finished(calls[value]), ExplicitStatus::Done);
        expected.push_back({value});
    }
    EXPECT_EQ(rig.node.objects.Writes(0x64, 1, 3), expected);
    EXPECT_EQ(rig.master.Waiting(5), 0u);
    EXPECT_EQ(rig.master.Waiting(64), 0u);
}

// The nodes-online poll and a download on the network at once: the requests to one node
// wait their turn, the transfers never mix, and a second node is served meanwhile.
TEST(DnetMasterTest, ThePollAndADownloadRunAtOnce) {
    Rig rig;
    rig.Add(6);
    rig.node.objects.Set(0xC7, 1, 3, {});
    for (std::uint8_t mac : {5, 6})
        ASSERT_TRUE(rig.master.AddToScanlist(mac, 0x01, {48, 48, 1000, 2500}));
    rig.master.StartScan();
    ASSERT_TRUE(eventually([&] { return rig.master.NodePresent(5) == true; }));

    std::vector<std::vector<std::uint8_t>> blocks;
    for (int b = 0; b < 40; ++b) {
        std::vector<std::uint8_t> block = {0x02, 0x00, static_cast<std::uint8_t>(b * 32), 0, 0, 32};
        for (int i = 0; i < 32; ++i)
            block.push_back(static_cast<std::uint8_t>(b + i));
        blocks.push_back(block);
    }
    auto download = std::async(std::launch::async, [&] {
        int ok = 0;
        for (const auto& block : blocks)
            ok += rig.master.SetAttribute(5, 0xC7, 1, 3, block).status == ExplicitStatus::Done;
        return ok;
    });
    auto poll = std::async(std::launch::async, [&] {
        int ok = 0;
        for (int round = 0; round < 40; ++round) {
            for (std::uint8_t mac = 0; mac < 64; ++mac)
                rig.master.NodePresent(mac);
            const std::uint8_t mac = round % 2 ? 5 : 6;
            const auto name = rig.master.GetAttribute(mac, 1, 1, 7);
            const auto vendor = rig.master.GetAttribute(mac, 1, 1, 1);
            ok += name.data == text("\tZANDREL-D") &&
                  vendor.data == std::vector<std::uint8_t>{0xD9, 0x02};
        }
        return ok;
    });
    EXPECT_EQ(finished(download), 40);
    EXPECT_EQ(finished(poll), 40);
    EXPECT_EQ(rig.node.objects.Writes(0xC7, 1, 3), blocks);
    EXPECT_EQ(rig.master.NodePresent(5), true);
    EXPECT_EQ(rig.master.NodePresent(6), true);
}

} // namespace
