#include "canopen/Guarding.h"

#include "BusPrinters.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using namespace bus::canopen;
using namespace std::chrono_literals;
using bus::ParseCandump;
using bus::ToCandump;

std::vector<std::string> texts(const Output& out) {
    std::vector<std::string> t;
    for (const auto& f : out.frames)
        t.push_back(ToCandump(f));
    return t;
}

const std::vector<std::string> request = {"703#R1"};

class GuardingMasterTest : public testing::Test {
protected:
    GuardOutput reply(const char* frame) { return master.OnFrame(*ParseCandump(frame), t0); }

    const TimePoint t0 = TimePoint{} + 1h;
    GuardingMaster master{3};
};

// Requests come a tenth of the guard time early, so that the node's life time check never
// finds a gap longer than its guard time.
TEST_F(GuardingMasterTest, AsksEveryGuardTimeLessATenthAndFollowsTheToggle) {
    GuardOutput out = master.Start(1000ms, 1, t0);
    EXPECT_EQ(texts(out), request); // one request, not two
    EXPECT_EQ(out.deadline, t0 + 900ms);
    EXPECT_EQ(reply("703#7F").event, GuardEvent::Alive); // toggle 0, pre-operational
    EXPECT_EQ(master.State(), NmtState::PreOperational);

    out = master.OnTime(t0 + 899ms);
    EXPECT_TRUE(out.frames.empty());
    EXPECT_EQ(out.deadline, t0 + 900ms);
    out = master.OnTime(t0 + 900ms);
    EXPECT_EQ(texts(out), request);
    EXPECT_EQ(out.event, GuardEvent::None);
    EXPECT_EQ(out.deadline, t0 + 1800ms);

    EXPECT_EQ(reply("703#85").event, GuardEvent::StateChanged); // toggle 1, operational
    EXPECT_EQ(master.State(), NmtState::Operational);
    EXPECT_EQ(master.OnTime(t0 + 1800ms).event, GuardEvent::None);
    EXPECT_EQ(reply("703#05").event, GuardEvent::None); // toggle 0 again
    EXPECT_EQ(master.OnTime(t0 + 2700ms).event, GuardEvent::None);
    EXPECT_FALSE(master.Lost());
}

TEST_F(GuardingMasterTest, GapsBetweenRequestsStayWithinTheLifeTimeWhenCalledLate) {
    for (const auto guardTime : {1000ms, 100ms, 800ms}) {
        SCOPED_TRACE(guardTime.count());
        GuardingMaster m(3);
        GuardOutput out = m.Start(guardTime, 1, t0);
        TimePoint last = t0;
        for (int round = 0; round < 200; ++round) {
            // The thread wakes a little late, by up to 3 % of the guard time.
            const TimePoint now = out.deadline + guardTime * (round % 4) / 100;
            out = m.OnTime(now);
            ASSERT_EQ(texts(out), request);
            EXPECT_LE(now - last, guardTime) << round;
            last = now;
            m.OnFrame(*ParseCandump(round % 2 ? "703#7F" : "703#FF"), now);
        }
    }
}

TEST_F(GuardingMasterTest, LostAfterLifeTimeWithoutValidReply) {
    struct Case {
        std::uint8_t factor;
        int lostAtRound; // the request round whose check finds the node lost
    };
    for (const Case c : {Case{1, 1}, Case{3, 3}, Case{0, 1}}) {
        SCOPED_TRACE(c.factor);
        GuardingMaster m(3);
        m.Start(100ms, c.factor, t0);
        for (int round = 1; round <= c.lostAtRound; ++round) {
            const GuardOutput out = m.OnTime(t0 + round * 100ms);
            EXPECT_EQ(texts(out), request); // it keeps asking
            EXPECT_EQ(out.event, round == c.lostAtRound ? GuardEvent::Lost : GuardEvent::None)
                << round;
        }
        EXPECT_TRUE(m.Lost());
        EXPECT_EQ(m.OnTime(t0 + (c.lostAtRound + 1) * 100ms).event, GuardEvent::None); // once
        EXPECT_EQ(m.OnFrame(*ParseCandump("703#05"), t0).event, GuardEvent::Alive);
        EXPECT_FALSE(m.Lost());
    }
}

TEST_F(GuardingMasterTest, ReplyWithTheWrongToggleDoesNotCount) {
    master.Start(100ms, 1, t0);
    EXPECT_EQ(reply("703#FF").event, GuardEvent::Alive); // the first reply sets the toggle
    EXPECT_EQ(master.OnTime(t0 + 90ms).event, GuardEvent::None);
    EXPECT_EQ(reply("703#FF").event, GuardEvent::None); // toggle 1 where 0 was due
    EXPECT_EQ(master.OnTime(t0 + 180ms).event, GuardEvent::Lost);
    // The expectation follows the node: its next reply, toggle 0, is valid.
    EXPECT_EQ(reply("703#7F").event, GuardEvent::Alive);
    EXPECT_EQ(master.OnTime(t0 + 270ms).event, GuardEvent::None);
}

// A guarding node sends one reply per request: another one-byte frame in the same round (a
// heartbeat) is no reply, and does not move the toggle the next reply must have.
TEST_F(GuardingMasterTest, OneReplyPerRequest) {
    master.Start(100ms, 1, t0);
    EXPECT_EQ(reply("703#7F").event, GuardEvent::Alive);
    EXPECT_EQ(reply("703#7F").event, GuardEvent::None);
    EXPECT_EQ(master.OnTime(t0 + 90ms).event, GuardEvent::None);
    EXPECT_EQ(reply("703#FF").event, GuardEvent::None); // toggle 1: valid
    EXPECT_EQ(master.OnTime(t0 + 180ms).event, GuardEvent::None);
    EXPECT_FALSE(master.Lost());
}

TEST_F(GuardingMasterTest, BootUpBringsTheNodeBackAndRestartsTheToggle) {
    master.Start(100ms, 1, t0);
    reply("703#7F");
    master.OnTime(t0 + 100ms);
    reply("703#FF");
    EXPECT_EQ(master.OnTime(t0 + 200ms).event, GuardEvent::None);
    EXPECT_EQ(master.OnTime(t0 + 300ms).event, GuardEvent::Lost);
    EXPECT_EQ(reply("703#00").event, GuardEvent::BootUp);
    EXPECT_FALSE(master.Lost());
    EXPECT_EQ(master.State(), NmtState::PreOperational);
    EXPECT_EQ(master.OnTime(t0 + 400ms).event, GuardEvent::None); // the boot-up answered
    EXPECT_EQ(reply("703#7F").event, GuardEvent::None);           // toggle 0 again: valid
    EXPECT_EQ(master.OnTime(t0 + 500ms).event, GuardEvent::None);
}

TEST_F(GuardingMasterTest, SeesBootUpWithoutGuardingAndIgnoresOtherFrames) {
    EXPECT_EQ(reply("703#00").event, GuardEvent::BootUp);
    EXPECT_EQ(reply("703#05").event, GuardEvent::None); // not guarding: no reply expected
    EXPECT_EQ(master.OnTime(t0 + 1h).frames.size(), 0u);
    master.Start(100ms, 1, t0);
    for (const char* other : {"704#00", "703#R1", "703#", "703#0500", "583#7F"})
        EXPECT_EQ(reply(other).event, GuardEvent::None) << other;
    master.Stop();
    EXPECT_EQ(master.OnTime(t0 + 1h).deadline, NoDeadline);
    EXPECT_TRUE(master.OnTime(t0 + 1h).frames.empty());
}

TEST(GuardingNode, AnswersRequestsWithAToggleAndItsState) {
    GuardingNode node(3);
    const auto rtr = *ParseCandump("703#R1");
    EXPECT_EQ(texts(node.OnFrame(rtr)), std::vector<std::string>{"703#7F"});
    node.SetState(NmtState::Operational);
    EXPECT_EQ(texts(node.OnFrame(*ParseCandump("703#R"))), std::vector<std::string>{"703#85"});
    node.SetState(NmtState::Stopped);
    EXPECT_EQ(texts(node.OnFrame(rtr)), std::vector<std::string>{"703#04"});
    for (const char* other : {"703#00", "704#R1", "603#R1"})
        EXPECT_TRUE(node.OnFrame(*ParseCandump(other)).frames.empty()) << other;
    EXPECT_EQ(texts(node.BootUp()), std::vector<std::string>{"703#00"});
    EXPECT_EQ(node.State(), NmtState::PreOperational);
    EXPECT_EQ(texts(node.OnFrame(rtr)), std::vector<std::string>{"703#7F"});
}

TEST(Guarding, MasterAndNodeAgreeOverManyRounds) {
    GuardingMaster master(9);
    GuardingNode node(9, NmtState::Operational);
    const TimePoint t0 = TimePoint{} + 1h;
    GuardOutput out = master.Start(50ms, 2, t0);
    for (int round = 1; round <= 50; ++round) {
        for (const auto& f : out.frames)
            for (const auto& answer : node.OnFrame(f).frames)
                EXPECT_NE(master.OnFrame(answer, t0).event, GuardEvent::Lost);
        out = master.OnTime(t0 + round * 50ms);
        EXPECT_EQ(out.event, GuardEvent::None) << round;
    }
    EXPECT_FALSE(master.Lost());
    EXPECT_EQ(master.State(), NmtState::Operational);
}

} // namespace
