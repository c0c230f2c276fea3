#include "SimulatedBus.h"

#include "BusPrinters.h"

#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using bus::BusFault;
using bus::CanFrame;
using bus::PortState;
using bus::SimulatedBus;

// Records what a port receives.
struct Recorder {
    std::mutex mutex;
    std::vector<CanFrame> frames;

    bus::CanPort::ReceiveHandler Handler() {
        return [this](const CanFrame& frame) {
            std::lock_guard lock(mutex);
            frames.push_back(frame);
        };
    }
    std::vector<CanFrame> Frames() {
        std::lock_guard lock(mutex);
        return frames;
    }
};

CanFrame numbered(std::uint16_t id, int n) {
    return CanFrame::Data(id, {static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8)});
}

TEST(SimulatedBus, EveryPortSeesTheOthersFramesInSendOrderButNotItsOwn) {
    SimulatedBus bus;
    auto a = bus.Attach();
    auto b = bus.Attach();
    auto c = bus.Attach();
    Recorder atA, atB, atC;
    a->SetReceiveHandler(atA.Handler());
    b->SetReceiveHandler(atB.Handler());
    c->SetReceiveHandler(atC.Handler());

    std::vector<CanFrame> sent;
    for (int i = 0; i < 200; ++i) {
        const CanFrame fromA = numbered(0x100, i);
        const CanFrame fromB = numbered(0x200, i);
        ASSERT_TRUE(a->Send(fromA));
        ASSERT_TRUE(b->Send(fromB));
        sent.push_back(fromA);
        sent.push_back(fromB);
    }
    bus.WaitIdle();
    auto only = [&](std::uint16_t id) {
        std::vector<CanFrame> out;
        for (const CanFrame& f : sent)
            if (f.id == id)
                out.push_back(f);
        return out;
    };
    EXPECT_EQ(atA.Frames(), only(0x200));
    EXPECT_EQ(atB.Frames(), only(0x100));
    EXPECT_EQ(atC.Frames(), sent);
    EXPECT_EQ(bus.FramesSent(), 400u);
    EXPECT_EQ(a->Name(), "sim0");
}

TEST(SimulatedBus, HandlerMayAnswerAndChangeItselfWhileSendersHoldTheirLocks) {
    SimulatedBus bus;
    auto master = bus.Attach();
    auto node = bus.Attach();
    std::mutex masterLock; // held by the master while it sends, and by its handler
    Recorder answers;
    master->SetReceiveHandler([&](const CanFrame& frame) {
        std::lock_guard lock(masterLock);
        answers.Handler()(frame);
    });
    int seen = 0;
    node->SetReceiveHandler([&](const CanFrame& frame) {
        ++seen;
        node->Send(CanFrame::Data(0x580 + 3, {frame.data[0]}));
        // From the second frame on, another handler: it takes over with the next frame.
        node->SetReceiveHandler([&](const CanFrame&) { seen += 100; });
    });
    for (std::uint8_t i = 0; i < 3; ++i) {
        std::lock_guard lock(masterLock);
        ASSERT_TRUE(master->Send(CanFrame::Data(0x603, {i})));
    }
    bus.WaitIdle();
    EXPECT_EQ(seen, 1 + 100 + 100);
    EXPECT_EQ(answers.Frames(), std::vector<CanFrame>{CanFrame::Data(0x583, {0})});
}

TEST(SimulatedBus, FaultsBefallTheNthFrame) {
    const CanFrame one = CanFrame::Data(0x181, {0x01, 0x0F});
    const CanFrame two = CanFrame::Data(0x182, {0x02, 0xF0});
    const CanFrame three = CanFrame::Data(0x183, {0x03});
    struct Case {
        BusFault fault;
        std::vector<CanFrame> received;
    };
    const Case cases[] = {
        {BusFault::Lose, {one, three}},
        {BusFault::Corrupt, {one, CanFrame::Data(0x182, {0xFD, 0x0F}), three}},
        {BusFault::Duplicate, {one, two, two, three}},
        {BusFault::Delay, {one, three, two}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.fault));
        SimulatedBus bus;
        auto sender = bus.Attach();
        auto receiver = bus.Attach();
        Recorder got;
        receiver->SetReceiveHandler(got.Handler());
        ASSERT_TRUE(sender->Send(CanFrame::Data(0x100, {})));
        bus.WaitIdle();
        // The second frame from now on; a delayed one waits until it is let go.
        bus.InjectFault(c.fault, 2, std::chrono::hours(1));
        for (const CanFrame& f : {one, two, three})
            ASSERT_TRUE(sender->Send(f)); // a lost frame was sent all the same
        if (c.fault == BusFault::Delay) {
            while (got.Frames().size() < 3)
                std::this_thread::yield();
            bus.ReleaseDelayed();
        }
        bus.WaitIdle();
        std::vector<CanFrame> expected = {CanFrame::Data(0x100, {})};
        expected.insert(expected.end(), c.received.begin(), c.received.end());
        EXPECT_EQ(got.Frames(), expected);
        EXPECT_EQ(bus.FramesSent(), 4u);
    }
}

TEST(SimulatedBus, CorruptingAFrameWithoutDataLosesIt) {
    SimulatedBus bus;
    auto sender = bus.Attach();
    auto receiver = bus.Attach();
    Recorder got;
    receiver->SetReceiveHandler(got.Handler());
    bus.InjectFault(BusFault::Corrupt, 1);
    bus.InjectFault(BusFault::Corrupt, 2);
    sender->Send(CanFrame::Remote(0x703, 1));
    sender->Send(CanFrame::Data(0x080, {}));
    sender->Send(CanFrame::Data(0x081, {}));
    bus.WaitIdle();
    EXPECT_EQ(got.Frames(), std::vector<CanFrame>{CanFrame::Data(0x081, {})});
}

TEST(SimulatedBus, WireModelKeepsTheOrder) {
    SimulatedBus bus;
    auto a = bus.Attach();
    EXPECT_TRUE(a->Immediate()); // answers within microseconds: a waiter may look again
    bus.SetBitRate(1000000);
    EXPECT_EQ(bus.BitRate(), 1000000u);
    EXPECT_FALSE(a->Immediate()); // a frame time away at least: a waiter sleeps
    auto b = bus.Attach();
    Recorder got;
    b->SetReceiveHandler(got.Handler());
    std::vector<CanFrame> sent;
    for (int i = 0; i < 20; ++i) {
        sent.push_back(numbered(0x300 + i, i));
        ASSERT_TRUE(a->Send(sent.back()));
    }
    bus.WaitIdle();
    EXPECT_EQ(got.Frames(), sent);
}

// A sender learns how long what it sent still needs on the wire: its time-out for an answer
// counts from the end of that.
TEST(SimulatedBus, APortKnowsWhenItsFramesHaveCrossedTheWire) {
    SimulatedBus bus;
    auto a = bus.Attach();
    auto b = bus.Attach();
    ASSERT_TRUE(a->Send(numbered(0x300, 0)));
    EXPECT_EQ(a->Backlog().count(), 0); // no wire: gone at once
    bus.SetBitRate(10000);
    for (int i = 0; i < 20; ++i)
        ASSERT_TRUE(a->Send(numbered(0x300 + i, i)));
    EXPECT_GT(a->Backlog().count(), 0);
    EXPECT_EQ(b->Backlog().count(), 0); // the other port sent nothing
    bus.WaitIdle();
    EXPECT_EQ(a->Backlog().count(), 0);
}

TEST(SimulatedBus, PortThatCannotSendSaysWhy) {
    SimulatedBus bus;
    auto port = bus.Attach();
    EXPECT_EQ(port->State(), PortState::Active);
    port->SetListenOnly(true);
    EXPECT_EQ(port->State(), PortState::ListenOnly);
    EXPECT_FALSE(port->Send(CanFrame::Data(0x100, {1})));
    EXPECT_NE(port->LastError().find("listens"), std::string::npos) << port->LastError();
    port->SetListenOnly(false);
    port->SetBusOff(true);
    EXPECT_EQ(port->State(), PortState::BusOff);
    EXPECT_FALSE(port->Send(CanFrame::Data(0x100, {1})));
    EXPECT_NE(port->LastError().find("bus-off"), std::string::npos) << port->LastError();
    port->SetBusOff(false);
    CanFrame tooLong = CanFrame::Data(0x100, {});
    tooLong.length = 9;
    EXPECT_FALSE(port->Send(tooLong));
    EXPECT_FALSE(port->Send(CanFrame::Data(0x800, {})));
    EXPECT_TRUE(port->Send(CanFrame::Data(0x100, {1})));
    EXPECT_EQ(bus.FramesSent(), 1u);
}

TEST(SimulatedBus, PortOutlivesItsBusClosed) {
    auto bus = std::make_unique<SimulatedBus>();
    auto port = bus->Attach();
    bus.reset();
    EXPECT_EQ(port->State(), PortState::Closed);
    EXPECT_FALSE(port->Send(CanFrame::Data(0x100, {1})));
    EXPECT_NE(port->LastError().find("gone"), std::string::npos) << port->LastError();
}

TEST(SimulatedBus, PortsComeAndGoWhileFramesFlow) {
    SimulatedBus bus;
    auto sender = bus.Attach();
    std::atomic<bool> stop{false};
    std::thread traffic([&] {
        for (int i = 0; !stop.load(); ++i) {
            sender->Send(numbered(0x100, i));
            std::this_thread::yield();
        }
    });
    for (int round = 0; round < 100; ++round) {
        auto receiver = bus.Attach();
        std::atomic<int> count{0};
        receiver->SetReceiveHandler([&count](const CanFrame&) { ++count; });
        while (count.load() == 0)
            std::this_thread::yield();
        if (round % 2)
            receiver->SetReceiveHandler(nullptr);
        // Destroyed while frames keep coming: no handler runs into a port that is gone.
    }
    stop.store(true);
    traffic.join();
    bus.WaitIdle();
}

} // namespace
