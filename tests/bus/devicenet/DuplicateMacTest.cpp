#include "devicenet/DuplicateMac.h"

#include "BusPrinters.h"
#include "SimulatedBus.h"

#include <deque>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <vector>

namespace {

using namespace bus::devicenet;
using namespace std::chrono_literals;
using bus::ParseCandump;
using bus::ToCandump;

// MAC ID 10: the check messages go on 0x457 (10 001010 111). Seven bytes: R/R and port,
// vendor ID 729 (D9 02), serial number 0x12345678 (78 56 34 12).
constexpr const char* OwnRequest = "457#00D90278563412";
constexpr const char* OwnResponse = "457#80D90278563412";
// Another node with MAC ID 10: port 1, vendor 0x0123, serial number 0xCAFE0001.
constexpr const char* OtherRequest = "457#0123010100FECA";
constexpr const char* OtherResponse = "457#8123010100FECA";

std::string text(const Output& out) {
    std::string t;
    for (const auto& frame : out.frames)
        t += (t.empty() ? "" : " ") + ToCandump(frame);
    return t;
}

class DuplicateMacTest : public testing::Test {
protected:
    Output frame(const char* text, TimePoint at) {
        const auto f = ParseCandump(text);
        EXPECT_TRUE(f) << text;
        return check.OnFrame(*f, at);
    }

    const TimePoint t0 = TimePoint{} + 1h;
    DuplicateMacCheck check{10, 0, 729, 0x12345678};
};

TEST(DuplicateMacMessages, Layout) {
    EXPECT_EQ(ToCandump(EncodeDuplicateMac(10, {false, 0, 729, 0x12345678})), OwnRequest);
    EXPECT_EQ(ToCandump(EncodeDuplicateMac(10, {true, 0, 729, 0x12345678})), OwnResponse);
    const auto other = DecodeDuplicateMac(*ParseCandump(OtherResponse));
    ASSERT_TRUE(other);
    EXPECT_EQ(other->mac, 10);
    EXPECT_EQ(other->message, (DuplicateMacMessage{true, 1, 0x0123, 0xCAFE0001}));
    for (const char* notOne : {"457#00D902785634", "456#00D90278563412", "457#R7"})
        EXPECT_FALSE(DecodeDuplicateMac(*ParseCandump(notOne))) << notOne;

    // A node answers a request for its own MAC ID, and nothing else.
    const DuplicateMacMessage self{false, 0, 729, 0x12345678};
    const auto answer = AnswerDuplicateMac(*ParseCandump(OtherRequest), 10, self);
    ASSERT_TRUE(answer);
    EXPECT_EQ(ToCandump(*answer), OwnResponse);
    EXPECT_FALSE(AnswerDuplicateMac(*ParseCandump(OtherResponse), 10, self));
    EXPECT_FALSE(AnswerDuplicateMac(*ParseCandump("44F#0123010100FECA"), 10, self));
}

TEST_F(DuplicateMacTest, TwoRequestsOneSecondApartThenOnline) {
    Output out = check.Start(t0);
    EXPECT_EQ(text(out), OwnRequest);
    EXPECT_EQ(out.deadline, t0 + 1s);
    EXPECT_EQ(text(check.OnTime(t0 + 999ms)), "");
    out = check.OnTime(t0 + 1s);
    EXPECT_EQ(text(out), OwnRequest);
    EXPECT_EQ(out.deadline, t0 + 2s);
    EXPECT_EQ(text(frame("44F#0123010100FECA", t0 + 1500ms)), ""); // MAC ID 9: not ours
    EXPECT_EQ(check.State(), MacCheckState::Checking);
    out = check.OnTime(t0 + 2s);
    EXPECT_EQ(text(out), "");
    EXPECT_EQ(out.deadline, NoDeadline);
    EXPECT_EQ(check.State(), MacCheckState::Online);

    // Online: a node coming up with the same MAC ID is answered, and gives way.
    EXPECT_EQ(text(frame(OtherRequest, t0 + 5s)), OwnResponse);
    EXPECT_EQ(check.State(), MacCheckState::Online);
}

TEST_F(DuplicateMacTest, FindsADuplicate) {
    struct Case {
        const char* name;
        const char* heard;
        std::chrono::milliseconds at;
    };
    for (const Case& c : {Case{"its response to the first request", OtherResponse, 10ms},
                          Case{"its response to the second request", OtherResponse, 1500ms},
                          Case{"its own check", OtherRequest, 700ms}}) {
        SCOPED_TRACE(c.name);
        check.Start(t0);
        if (c.at >= 1s)
            check.OnTime(t0 + 1s);
        EXPECT_EQ(text(frame(c.heard, t0 + c.at)), ""); // no answer from a node at fault
        EXPECT_EQ(check.State(), MacCheckState::Duplicate);
        ASSERT_TRUE(check.Other());
        EXPECT_EQ(check.Other()->vendorId, 0x0123);
        EXPECT_EQ(check.Other()->serialNumber, 0xCAFE0001u);
        EXPECT_EQ(text(check.OnTime(t0 + 2s)), ""); // and no more requests
        EXPECT_EQ(check.State(), MacCheckState::Duplicate);
        EXPECT_EQ(text(frame(OtherRequest, t0 + 3s)), "");
    }
    // A response while online: two running networks were joined.
    check.SetOnline();
    EXPECT_EQ(text(frame(OtherResponse, t0 + 4s)), "");
    EXPECT_EQ(check.State(), MacCheckState::Duplicate);
}

TEST(DuplicateMacOverBus, NodeGoingOnlineMeetsTheOneThatHasItsMacId) {
    // A node online with MAC ID 10 answers on its own, on the bus's thread; the master going
    // online with MAC ID 10 is driven by the test.
    bus::SimulatedBus bus;
    auto nodePort = bus.Attach();
    auto masterPort = bus.Attach();
    std::mutex mutex;
    DuplicateMacCheck node{10, 1, 0x0123, 0xCAFE0001};
    node.SetOnline();
    nodePort->SetReceiveHandler([&](const bus::CanFrame& frame) {
        std::lock_guard lock(mutex);
        for (const bus::CanFrame& reply : node.OnFrame(frame, TimePoint{}).frames)
            nodePort->Send(reply);
    });
    std::deque<bus::CanFrame> inbox;
    masterPort->SetReceiveHandler([&](const bus::CanFrame& frame) {
        std::lock_guard lock(mutex);
        inbox.push_back(frame);
    });

    const TimePoint t0 = TimePoint{} + 1h;
    DuplicateMacCheck master{10, 0, 729, 0x12345678};
    for (const bus::CanFrame& frame : master.Start(t0).frames)
        ASSERT_TRUE(masterPort->Send(frame));
    bus.WaitIdle();
    {
        std::lock_guard lock(mutex);
        ASSERT_EQ(inbox.size(), 1u);
        EXPECT_EQ(ToCandump(inbox.front()), OtherResponse);
        master.OnFrame(inbox.front(), t0 + 1ms);
        EXPECT_EQ(node.State(), MacCheckState::Online); // the one that was there stays
    }
    EXPECT_EQ(master.State(), MacCheckState::Duplicate);
    EXPECT_EQ(master.Other()->serialNumber, 0xCAFE0001u);
    nodePort->SetReceiveHandler(nullptr);
    masterPort->SetReceiveHandler(nullptr);
}

} // namespace
