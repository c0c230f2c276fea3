#include "BusPrinters.h"
#include "SimulatedBus.h"
#include "TestObjects.h"
#include "devicenet/ExplicitClient.h"
#include "devicenet/ExplicitServer.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <vector>

namespace {

using namespace bus::devicenet;
using namespace std::chrono_literals;
using bus::BusFault;
using bus::CanFrame;
using Bytes = std::vector<std::uint8_t>;

Bytes pattern(std::size_t size, std::uint8_t seed) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(seed + i * 13);
    return bytes;
}

// Node 5's explicit messaging server and two masters' clients (MAC IDs 10 and 11) on the
// simulated bus, with a port that hears everything. Time is driven by the test: when the bus
// is quiet and a client still waits, the clock jumps to the next deadline of the client or
// of the server.
class ExplicitOverBus : public testing::Test {
protected:
    struct Master {
        Master(bus::SimulatedBus& bus, std::uint8_t mac) : port(bus.Attach()), client(mac, 5) {}
        std::unique_ptr<bus::SimulatedPort> port;
        ExplicitClient client;
        TimePoint deadline = NoDeadline;
        std::mutex mutex;
        std::deque<CanFrame> inbox;
    };

    ExplicitOverBus() {
        node->SetReceiveHandler([this](const CanFrame& frame) {
            std::lock_guard lock(serverMutex);
            serve(server.OnFrame(frame, now.load()));
        });
        for (Master* m : {&a, &b})
            m->port->SetReceiveHandler([m](const CanFrame& frame) {
                std::lock_guard lock(m->mutex);
                m->inbox.push_back(frame);
            });
        listener->SetReceiveHandler([this](const CanFrame& frame) {
            std::lock_guard lock(heardMutex);
            heard.push_back(bus::ToCandump(frame));
        });
    }
    ~ExplicitOverBus() override {
        node->SetReceiveHandler(nullptr);
        a.port->SetReceiveHandler(nullptr);
        b.port->SetReceiveHandler(nullptr);
        listener->SetReceiveHandler(nullptr);
    }

    void serve(const Output& out) { // with serverMutex held
        serverDeadline = out.deadline;
        for (const CanFrame& frame : out.frames)
            node->Send(frame);
    }
    void send(Master& m, const Output& out) {
        m.deadline = out.deadline;
        for (const CanFrame& frame : out.frames)
            ASSERT_TRUE(m.port->Send(frame)) << m.port->LastError();
    }

    // Runs the operation the master's client has started to its end.
    ExplicitResult run(Master& m, const std::optional<Output>& start) {
        EXPECT_TRUE(start);
        if (!start)
            return {};
        send(m, *start);
        while (true) {
            bus.WaitIdle();
            std::deque<CanFrame> frames;
            {
                std::lock_guard lock(m.mutex);
                frames.swap(m.inbox);
            }
            if (frames.empty()) {
                if (!m.client.Busy())
                    break;
                {
                    std::lock_guard lock(serverMutex);
                    now.store(std::max(now.load(), std::min(m.deadline, serverDeadline)));
                    serve(server.OnTime(now.load()));
                }
                send(m, m.client.OnTime(now.load()));
                continue;
            }
            for (const CanFrame& frame : frames)
                send(m, m.client.OnFrame(frame, now.load()));
        }
        return m.client.Result();
    }

    std::size_t Heard() {
        std::lock_guard lock(heardMutex);
        return heard.size();
    }

    bus::SimulatedBus bus;
    std::unique_ptr<bus::SimulatedPort> node = bus.Attach();
    std::unique_ptr<bus::SimulatedPort> listener = bus.Attach();
    Master a{bus, 10};
    Master b{bus, 11};
    std::atomic<TimePoint> now{TimePoint{} + 1h};

    std::mutex serverMutex;
    TestObjects objects;
    ExplicitServer server{5, objects};
    TimePoint serverDeadline = NoDeadline;

    std::mutex heardMutex;
    std::vector<std::string> heard;
};

TEST_F(ExplicitOverBus, LongValuesBothWays) {
    ExplicitResult r = run(a, a.client.StartGetAttribute(0x01, 1, 1, now.load()));
    ASSERT_EQ(r.status, ExplicitStatus::Done);
    EXPECT_EQ(r.data, (Bytes{0xD9, 0x02}));
    EXPECT_EQ(Heard(), 4u); // allocation and its answer, request and response

    const Bytes value = pattern(200, 1);
    r = run(a, a.client.StartSetAttribute(0x64, 1, 1, value, now.load()));
    ASSERT_EQ(r.status, ExplicitStatus::Done) << ExplicitFailureText(r.failure);
    EXPECT_EQ(objects.value({0x64, 1, 1}), value);
    // 204 body bytes: 34 fragments, each acknowledged, then the response — nothing repeated.
    EXPECT_EQ(Heard(), 4u + 34 * 2 + 1);

    r = run(a, a.client.StartGetAttribute(0x64, 1, 1, now.load()));
    ASSERT_EQ(r.status, ExplicitStatus::Done) << ExplicitFailureText(r.failure);
    EXPECT_EQ(r.data, value);
    EXPECT_EQ(Heard(), 4u + 69 + 1 + 34 * 2); // 201 response bytes: 34 fragments
    EXPECT_FALSE(server.Busy());
}

TEST_F(ExplicitOverBus, LostOrRepeatedFramesAreMended) {
    ASSERT_EQ(run(a, a.client.StartAllocate(now.load())).status, ExplicitStatus::Done);
    // A 20-byte value: 24 body bytes, four fragments. The set goes 1 fragment 0, 2 its
    // acknowledgement, 3 fragment 1, 4 its acknowledgement, ..., 7 the last, 8 its
    // acknowledgement, 9 the response. The get goes 1 the request, 2 response fragment 0,
    // 3 its acknowledgement, 4 fragment 1, ...
    struct Case {
        const char* name;
        bool set;
        BusFault fault;
        std::uint64_t nth;
        bool mendedByRepeat; // a fragment sent again after a wait; else at once
    };
    for (const Case& c : {
             Case{"acknowledgement of the first request fragment lost", true, BusFault::Lose, 2,
                  true},
             Case{"a middle request fragment lost", true, BusFault::Lose, 3, true},
             Case{"a request fragment twice", true, BusFault::Duplicate, 3, false},
             Case{"acknowledgement of the last request fragment lost", true, BusFault::Lose, 8,
                  false}, // the response stands for it
             Case{"the first response fragment lost", false, BusFault::Lose, 2, true},
             Case{"the master's acknowledgement lost", false, BusFault::Lose, 3, true},
             Case{"a response fragment twice", false, BusFault::Duplicate, 4, false},
             Case{"the master's acknowledgement twice", false, BusFault::Duplicate, 5, false},
         }) {
        SCOPED_TRACE(c.name);
        const Bytes value = pattern(20, static_cast<std::uint8_t>(c.nth * 31));
        if (!c.set) { // the value to get
            ASSERT_EQ(run(a, a.client.StartSetAttribute(0x64, 1, 1, value, now.load())).status,
                      ExplicitStatus::Done);
        }
        bus.InjectFault(c.fault, c.nth);
        const TimePoint before = now.load();
        const ExplicitResult r =
            c.set ? run(a, a.client.StartSetAttribute(0x64, 1, 1, value, now.load()))
                  : run(a, a.client.StartGetAttribute(0x64, 1, 1, now.load()));
        ASSERT_EQ(r.status, ExplicitStatus::Done) << ExplicitFailureText(r.failure);
        EXPECT_EQ(c.set ? objects.value({0x64, 1, 1}) : r.data, value);
        EXPECT_EQ(now.load() > before, c.mendedByRepeat);
        EXPECT_FALSE(server.Busy());
    }
}

TEST_F(ExplicitOverBus, SecondMasterIsRefused) {
    ASSERT_EQ(run(a, a.client.StartGetAttribute(0x01, 1, 1, now.load())).status,
              ExplicitStatus::Done);
    const ExplicitResult r = run(b, b.client.StartGetAttribute(0x01, 1, 1, now.load()));
    EXPECT_EQ(r.status, ExplicitStatus::Failed);
    EXPECT_EQ(r.failure, ExplicitFailure::ErrorResponse);
    EXPECT_EQ(r.generalStatus, GeneralStatus::ObjectStateConflict);
    EXPECT_EQ(r.additionalCode, OwnedByAnotherMaster);
    EXPECT_TRUE(r.duringAllocation);
    // The first master's connection is untouched by the other's answer on the same identifier.
    EXPECT_EQ(run(a, a.client.StartGetAttribute(0x01, 1, 3, now.load())).data, (Bytes{0xE2, 0x9F}));

    ASSERT_EQ(run(a, a.client.StartRelease(now.load())).status, ExplicitStatus::Done);
    EXPECT_EQ(run(b, b.client.StartGetAttribute(0x01, 1, 1, now.load())).status,
              ExplicitStatus::Done);
}

TEST_F(ExplicitOverBus, NodeThatRestartedIsAllocatedAgain) {
    ASSERT_EQ(run(a, a.client.StartGetAttribute(0x01, 1, 1, now.load())).status,
              ExplicitStatus::Done);
    {
        std::lock_guard lock(serverMutex);
        server.Reset(); // the node restarted without the master knowing
    }
    const TimePoint before = now.load();
    ExplicitResult r = run(a, a.client.StartGetAttribute(0x01, 1, 1, now.load()));
    EXPECT_EQ(r.failure, ExplicitFailure::Timeout);
    EXPECT_EQ(now.load(), before + ExplicitClient::DefaultTimeout);
    r = run(a, a.client.StartGetAttribute(0x01, 1, 1, now.load()));
    EXPECT_EQ(r.status, ExplicitStatus::Done);
    EXPECT_TRUE(server.Allocated());
}

} // namespace
