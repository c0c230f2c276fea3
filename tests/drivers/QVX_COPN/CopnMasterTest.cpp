// The master's SDO transfers, frame by frame, against nodes on the test's own bus. The
// expected frames are written out from CiA 301: command specifier, index low byte first,
// sub-index, then data or abort code, low byte first.

#include "CopnMaster.h"

#include "BusLog.h"
#include "BusPrinters.h"
#include "CopnTestBus.h"
#include "HangGuards.h"
#include "ManualClock.h"

#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using bus::canopen::SdoResult;
using bus::canopen::SdoStatus;
using bus::canopen::SdoAbort::General;
using bustest::BusLog;
using copntest::ScriptedNode;
using copntest::TestNode;

std::vector<std::uint8_t> bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

// Waits for a blocking call that runs on another thread; a hang fails the test.
class MasterTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(master.SetOnline(true)); }

    bus::SimulatedBus bus;
    ManualClock clock;
    BusLog log{bus};
    copn::Master master{std::shared_ptr<bus::CanPort>(bus.Attach()), clock.Clock()};
};

struct Exchange {
    const char* name;
    std::function<SdoResult(copn::Master&)> transfer;
    // Each request of the master with the node's replies to it.
    std::vector<std::pair<std::string, std::vector<std::string>>> script;
    SdoStatus status;
    std::uint32_t abortCode = 0;
    bool abortedByServer = false;
    std::vector<std::uint8_t> data = {};
    std::size_t size = 0;
};

TEST_F(MasterTest, TransfersFrameByFrame) {
    const std::vector<std::uint8_t> record = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4,
                                              0xA5, 0xA6, 0xA7, 0xA8, 0xA9};
    const Exchange cases[] = {
        {"expedited download of one byte",
         [](copn::Master& m) { return m.Download(3, 0x3604, 0, {0x02}); },
         {{"603#2F04360002000000", {"583#6004360000000000"}}},
         SdoStatus::Done,
         0,
         false,
         {},
         1},
        {"expedited download of four bytes",
         [](copn::Master& m) {
             return m.Download(3, 0x360F, 0, {0x2B, 0x1A, 0x00, 0x00});
         },
         {{"603#230F36002B1A0000", {"583#600F360000000000"}}},
         SdoStatus::Done,
         0,
         false,
         {},
         4},
        {"expedited upload",
         [](copn::Master& m) { return m.Upload(3, 0x1000, 0, 4); },
         {{"603#4000100000000000", {"583#4300100092010200"}}},
         SdoStatus::Done,
         0,
         false,
         {0x92, 0x01, 0x02, 0x00},
         4},
        {"segmented download",
         [&](copn::Master& m) { return m.Download(3, 0x3600, 0, record); },
         {{"603#210036000A000000", {"583#6000360000000000"}},
          {"603#00A0A1A2A3A4A5A6", {"583#2000000000000000"}},
          {"603#19A7A8A900000000", {"583#3000000000000000"}}},
         SdoStatus::Done,
         0,
         false,
         {},
         10},
        {"segmented upload",
         [](copn::Master& m) { return m.Upload(3, 0x1008, 0, 256); },
         {{"603#4008100000000000", {"583#410810000A000000"}},
          {"603#6000000000000000", {"583#005A414E4452454C"}},
          {"603#7000000000000000", {"583#192D4E3300000000"}}},
         SdoStatus::Done,
         0,
         false,
         bytes("ZANDREL-N3"),
         10},
        {"segmented upload read to its end and cut to the capacity",
         [](copn::Master& m) { return m.Upload(3, 0x1008, 0, 4); },
         {{"603#4008100000000000", {"583#410810000A000000"}},
          {"603#6000000000000000", {"583#005A414E4452454C"}},
          {"603#7000000000000000", {"583#192D4E3300000000"}}},
         SdoStatus::Done,
         0,
         false,
         bytes("ZAND"),
         10},
        {"the node aborts a download",
         [](copn::Master& m) {
             return m.Download(3, 0x1000, 0, {0x01, 0x00, 0x00, 0x00});
         },
         {{"603#2300100001000000", {"583#8000100002000106"}}},
         SdoStatus::Failed,
         0x06010002,
         true},
        {"the node aborts an upload",
         [](copn::Master& m) { return m.Upload(3, 0x2000, 0, 4); },
         {{"603#4000200000000000", {"583#8000200000000206"}}},
         SdoStatus::Failed,
         0x06020000,
         true},
        {"the master aborts an upload segment with the wrong toggle bit",
         [](copn::Master& m) { return m.Upload(3, 0x1008, 0, 256); },
         {{"603#4008100000000000", {"583#410810000A000000"}},
          {"603#6000000000000000", {"583#105A414E4452454C"}},
          {"603#8008100000000305", {}}},
         SdoStatus::Failed,
         0x05030000,
         false},
        {"the master aborts a download answer with the wrong toggle bit",
         [&](copn::Master& m) { return m.Download(3, 0x3600, 0, record); },
         {{"603#210036000A000000", {"583#6000360000000000"}},
          {"603#00A0A1A2A3A4A5A6", {"583#3000000000000000"}},
          {"603#8000360000000305", {}}},
         SdoStatus::Failed,
         0x05030000,
         false},
        {"the master aborts an answer to another command",
         [](copn::Master& m) { return m.Upload(3, 0x1000, 0, 4); },
         {{"603#4000100000000000", {"583#6000100000000000"}}, {"603#8000100001000405", {}}},
         SdoStatus::Failed,
         0x05040001,
         false},
    };
    for (const Exchange& c : cases) {
        SCOPED_TRACE(c.name);
        BusLog heard(bus);
        ScriptedNode node(bus, 3);
        std::vector<std::string> expected;
        for (const auto& [request, replies] : c.script) {
            node.On(request, replies);
            expected.push_back(request);
            expected.insert(expected.end(), replies.begin(), replies.end());
        }
        const SdoResult result = c.transfer(master);
        bus.WaitIdle();
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.abortCode, c.abortCode);
        EXPECT_EQ(result.abortedByServer, c.abortedByServer);
        if (c.status == SdoStatus::Done) {
            EXPECT_EQ(result.data, c.data);
            EXPECT_EQ(result.size, c.size);
        }
        EXPECT_EQ(heard.Texts(), expected);
        EXPECT_TRUE(node.ScriptDone());
        EXPECT_EQ(node.Unexpected(), std::vector<std::string>{});
    }
}

// The time-out in force when a transfer starts: the default, or the one set.
TEST_F(MasterTest, ATransferThatHearsNothingTimesOutAndAborts) {
    const std::chrono::milliseconds timeouts[] = {copn::Master::DefaultSdoTimeout, 50ms, 3000ms};
    for (const auto timeout : timeouts) {
        SCOPED_TRACE(timeout.count());
        if (timeout != copn::Master::DefaultSdoTimeout) {
            ASSERT_TRUE(master.SetSdoTimeout(timeout));
        }
        BusLog heard(bus);
        auto running =
            std::async(std::launch::async, [&] { return master.Upload(3, 0x1000, 0, 4); });
        ASSERT_TRUE(heard.WaitFor("603#4000100000000000"));
        ASSERT_TRUE(eventually([&] { return master.TransferWaits(3); }));
        clock.Advance(timeout);
        master.Poke();
        const SdoResult result = finished(running);
        EXPECT_EQ(result.status, SdoStatus::Failed);
        EXPECT_EQ(result.abortCode, 0x05040000u);
        EXPECT_FALSE(result.abortedByServer);
        bus.WaitIdle();
        EXPECT_EQ(heard.Texts(),
                  (std::vector<std::string>{"603#4000100000000000", "603#8000100000000405"}));
        clock.Advance(timeout); // the quiet time after a transfer that timed out
    }
    // The channel is free again.
    ScriptedNode node(bus, 3);
    node.On("603#4001100000000000", {"583#4F01100007000000"});
    const SdoResult result = master.Upload(3, 0x1001, 0, 1);
    EXPECT_EQ(result.status, SdoStatus::Done);
    EXPECT_EQ(result.data, std::vector<std::uint8_t>{0x07});
}

// After a time-out the node's late answer may still come, held by an adapter or a gateway:
// the next transfer begins only after one more time-out, so that the late answer is not taken
// for its own.
TEST_F(MasterTest, ALateAnswerIsNeverTakenByTheNextTransfer) {
    ScriptedNode node(bus, 3);
    node.On("603#4000100000000000", {"583#4F00100007000000"});
    node.Hold();
    auto first = std::async(std::launch::async, [&] { return master.Upload(3, 0x1000, 0, 4); });
    ASSERT_TRUE(log.WaitFor("603#4000100000000000"));
    ASSERT_TRUE(eventually([&] { return master.TransferWaits(3); }));
    clock.Advance(copn::Master::DefaultSdoTimeout);
    master.Poke();
    EXPECT_EQ(finished(first).abortCode, 0x05040000u);

    node.On("603#4000100000000000", {"583#4F00100008000000"});
    auto second = std::async(std::launch::async, [&] { return master.Upload(3, 0x1000, 0, 4); });
    clock.Advance(copn::Master::DefaultSdoTimeout - 1ms);
    master.Poke();
    node.Release(); // the first request's answer comes now, late
    bus.WaitIdle();
    clock.Advance(1ms);
    master.Poke();
    const SdoResult result = finished(second);
    EXPECT_EQ(result.status, SdoStatus::Done);
    EXPECT_EQ(result.data, std::vector<std::uint8_t>{0x08});
}

TEST_F(MasterTest, OfflineOrToNoNodeNothingIsSent) {
    EXPECT_EQ(master.Upload(0, 0x1000, 0, 4).status, SdoStatus::Failed);
    EXPECT_EQ(master.Upload(128, 0x1000, 0, 4).status, SdoStatus::Failed);
    EXPECT_FALSE(master.SendNmt(bus::canopen::NmtCommand::ResetNode, 128));
    ASSERT_TRUE(master.SetOnline(false));
    const SdoResult result = master.Download(3, 0x3604, 0, {1});
    EXPECT_EQ(result.status, SdoStatus::Failed);
    EXPECT_EQ(result.abortCode, 0u);
    EXPECT_FALSE(master.SendNmt(bus::canopen::NmtCommand::ResetCommunication, 0));
    EXPECT_FALSE(master.SendGuardRequest(3));
    bus.WaitIdle();
    EXPECT_EQ(log.Count(), 0u);
}

TEST_F(MasterTest, NmtCommandsAndGuardRequests) {
    using bus::canopen::NmtCommand;
    struct Case {
        NmtCommand command;
        std::uint8_t node;
        const char* frame;
    };
    const Case cases[] = {
        {NmtCommand::Start, 3, "000#0103"},
        {NmtCommand::Stop, 127, "000#027F"},
        {NmtCommand::EnterPreOperational, 0, "000#8000"},
        {NmtCommand::ResetNode, 9, "000#8109"},
        {NmtCommand::ResetCommunication, 0, "000#8200"},
    };
    std::vector<std::string> expected;
    for (const Case& c : cases) {
        EXPECT_TRUE(master.SendNmt(c.command, c.node));
        expected.push_back(c.frame);
    }
    EXPECT_TRUE(master.SendGuardRequest(5));
    expected.push_back("705#R1");
    bus.WaitIdle();
    EXPECT_EQ(log.Texts(), expected);
}

// A transfer to one node runs to its end while a transfer to another node waits for its
// answer.
TEST_F(MasterTest, TransfersToDifferentNodesOverlap) {
    ScriptedNode slow(bus, 3);
    ScriptedNode quick(bus, 5);
    slow.Hold();
    slow.On("603#4000100000000000", {"583#4300100092010200"});
    quick.On("605#2F04360002000000", {"585#6004360000000000"});
    auto waiting = std::async(std::launch::async, [&] { return master.Upload(3, 0x1000, 0, 4); });
    ASSERT_TRUE(log.WaitFor("603#4000100000000000"));
    auto quick5 =
        std::async(std::launch::async, [&] { return master.Download(5, 0x3604, 0, {0x02}); });
    EXPECT_EQ(quick5.wait_for(20s), std::future_status::ready)
        << "the transfer to node 5 waits for the one to node 3";
    EXPECT_EQ(waiting.wait_for(0s), std::future_status::timeout);
    slow.Release();
    EXPECT_EQ(quick5.get().status, SdoStatus::Done);
    EXPECT_EQ(finished(waiting).status, SdoStatus::Done);
}

// Two threads writing to one node: each transfer's frames stay together, so the node's
// server (which starts afresh on every initiate) sees whole transfers only.
TEST_F(MasterTest, TransfersToOneNodeTakeTurns) {
    TestNode node(bus, 3);
    constexpr int Rounds = 20;
    auto writer = [&](std::uint8_t fill) {
        int done = 0;
        for (int i = 0; i < Rounds; ++i) {
            std::vector<std::uint8_t> data(20, fill);
            data[0] = static_cast<std::uint8_t>(i);
            done += master.Download(3, 0x3606, 0, data).status == SdoStatus::Done;
        }
        return done;
    };
    auto first = std::async(std::launch::async, writer, 0x11);
    auto second = std::async(std::launch::async, writer, 0x22);
    EXPECT_EQ(finished(first), Rounds);
    EXPECT_EQ(finished(second), Rounds);
    bus.WaitIdle();

    // Every initiate (21, 20 bytes) is followed by the three segments of its own transfer:
    // toggle 0 with seven bytes (the round, then the writer's fill), toggle 1 with seven,
    // toggle 0 with six and the last-segment bit.
    auto repeat = [](const std::string& hex, int times) {
        std::string text;
        for (int i = 0; i < times; ++i)
            text += hex;
        return text;
    };
    const std::vector<std::string> requests = log.With({0x603});
    ASSERT_EQ(requests.size(), 2u * Rounds * 4);
    for (std::size_t i = 0; i < requests.size(); i += 4) {
        SCOPED_TRACE(i);
        EXPECT_EQ(requests[i], "603#2106360014000000");
        ASSERT_EQ(requests[i + 1].substr(0, 6), "603#00");
        const std::string fill = requests[i + 1].substr(8, 2);
        EXPECT_TRUE(fill == "11" || fill == "22") << fill;
        EXPECT_EQ(requests[i + 1].substr(8), repeat(fill, 6));
        EXPECT_EQ(requests[i + 2], "603#10" + repeat(fill, 7));
        EXPECT_EQ(requests[i + 3], "603#03" + repeat(fill, 6) + "00");
    }
}

TEST_F(MasterTest, ShutdownEndsAWaitingTransferAndRefusesMore) {
    auto waiting = std::async(std::launch::async, [&] { return master.Upload(3, 0x1000, 0, 4); });
    ASSERT_TRUE(log.WaitFor("603#4000100000000000"));
    master.Shutdown();
    const SdoResult result = finished(waiting);
    EXPECT_EQ(result.status, SdoStatus::Failed);
    EXPECT_EQ(result.abortCode, General);
    EXPECT_EQ(master.Upload(3, 0x1000, 0, 4).status, SdoStatus::Failed);
    EXPECT_FALSE(master.SetOnline(true));
}

// A frame the port refuses ends the transfer at once.
TEST_F(MasterTest, ATransferFailsWhenThePortStopsSending) {
    bus::SimulatedBus other;
    auto port = std::shared_ptr<bus::SimulatedPort>(other.Attach());
    copn::Master onOther(port, clock.Clock());
    ASSERT_TRUE(onOther.SetOnline(true));
    port->SetBusOff(true);
    EXPECT_FALSE(onOther.CanSend());
    const SdoResult result = onOther.Upload(3, 0x1000, 0, 4);
    EXPECT_EQ(result.status, SdoStatus::Failed);
    EXPECT_EQ(result.abortCode, General);
    EXPECT_FALSE(onOther.SetOnline(true));
}

} // namespace
