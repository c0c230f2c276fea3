#include "BusPrinters.h"
#include "SimulatedBus.h"
#include "TestDictionary.h"
#include "canopen/SdoClient.h"
#include "canopen/SdoServer.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <vector>

namespace {

using namespace bus::canopen;
using namespace std::chrono_literals;
using bus::BusFault;
using bus::CanFrame;

// A master's SDO client and node 3's SDO server on the simulated bus, with a third port that
// hears everything. Time is driven by the test: when the bus is quiet and the client still
// waits, the clock jumps to the client's deadline.
class SdoOverBus : public testing::Test {
protected:
    SdoOverBus() {
        node->SetReceiveHandler([this](const CanFrame& frame) {
            for (const CanFrame& reply : server.OnFrame(frame, now.load()).frames)
                node->Send(reply);
        });
        master->SetReceiveHandler([this](const CanFrame& frame) {
            std::lock_guard lock(mutex);
            inbox.push_back(frame);
        });
        listener->SetReceiveHandler([this](const CanFrame& frame) {
            std::lock_guard lock(mutex);
            heard.push_back(bus::ToCandump(frame));
        });
    }
    ~SdoOverBus() override {
        node->SetReceiveHandler(nullptr);
        master->SetReceiveHandler(nullptr);
        listener->SetReceiveHandler(nullptr);
    }

    void send(const Output& out) {
        for (const CanFrame& frame : out.frames)
            ASSERT_TRUE(master->Send(frame)) << master->LastError();
    }

    // Runs the transfer the client has started to its end.
    SdoResult transfer(const std::optional<Output>& start) {
        EXPECT_TRUE(start);
        if (!start)
            return {};
        send(*start);
        while (true) {
            bus.WaitIdle();
            std::deque<CanFrame> frames;
            {
                std::lock_guard lock(mutex);
                frames.swap(inbox);
            }
            if (frames.empty()) {
                if (!client.Busy())
                    break;
                const Output deadline = client.OnTime(TimePoint{});
                now.store(deadline.deadline == NoDeadline ? now.load() : deadline.deadline);
                send(client.OnTime(now.load()));
                continue;
            }
            for (const CanFrame& frame : frames)
                send(client.OnFrame(frame, now.load()));
        }
        return client.Result();
    }

    std::vector<std::string> Heard() {
        std::lock_guard lock(mutex);
        return heard;
    }

    bus::SimulatedBus bus;
    std::unique_ptr<bus::SimulatedPort> master = bus.Attach();
    std::unique_ptr<bus::SimulatedPort> node = bus.Attach();
    std::unique_ptr<bus::SimulatedPort> listener = bus.Attach();
    std::atomic<TimePoint> now{TimePoint{} + 1h};
    TestDictionary od;
    SdoServer server{3, od};
    SdoClient client{3};

    std::mutex mutex;
    std::deque<CanFrame> inbox;
    std::vector<std::string> heard;
};

TEST_F(SdoOverBus, ExpeditedBothWays) {
    SdoResult r = transfer(client.StartDownload(0x360B, 0, {0x07}, now.load()));
    EXPECT_EQ(r.status, SdoStatus::Done);
    r = transfer(client.StartUpload(0x360B, 0, 4, now.load()));
    EXPECT_EQ(r.status, SdoStatus::Done);
    EXPECT_EQ(r.data, std::vector<std::uint8_t>{0x07});
    EXPECT_EQ(Heard(), (std::vector<std::string>{"603#2F0B360007000000", "583#600B360000000000",
                                                 "603#400B360000000000", "583#4F0B360007000000"}));
}

TEST_F(SdoOverBus, SegmentedBothWays) {
    std::vector<std::uint8_t> record(38);
    for (std::size_t i = 0; i < record.size(); ++i)
        record[i] = static_cast<std::uint8_t>(0xA0 + i);
    SdoResult r = transfer(client.StartDownload(0x3600, 0, record, now.load()));
    EXPECT_EQ(r.status, SdoStatus::Done);
    EXPECT_EQ(od.value(0x3600, 0), record);
    EXPECT_EQ(Heard().size(), 2u + 2 * 6); // initiate, six segments of up to seven bytes

    std::vector<std::uint8_t> name(300);
    for (std::size_t i = 0; i < name.size(); ++i)
        name[i] = static_cast<std::uint8_t>('A' + i % 26);
    ASSERT_EQ(transfer(client.StartDownload(0x3606, 0, name, now.load())).status, SdoStatus::Done);
    r = transfer(client.StartUpload(0x3606, 0, 1000, now.load()));
    EXPECT_EQ(r.status, SdoStatus::Done);
    EXPECT_EQ(r.data, name);
    EXPECT_EQ(r.size, 300u);
}

TEST_F(SdoOverBus, BlockTransfersBothWaysAcrossALostSegment) {
    std::vector<std::uint8_t> record(38);
    for (std::size_t i = 0; i < record.size(); ++i)
        record[i] = static_cast<std::uint8_t>(0xA0 + i);
    // Frames: 1 initiate, 2 its answer, 3 to 8 the six segments: the third is lost.
    bus.InjectFault(BusFault::Lose, 5);
    SdoResult r = transfer(client.StartBlockDownload(0x3606, 0, record, now.load()));
    EXPECT_EQ(r.status, SdoStatus::Done);
    EXPECT_TRUE(r.blockTransfer);
    EXPECT_EQ(od.value(0x3606, 0), record);
    const auto heard = Heard();
    const auto acks = std::count_if(heard.begin(), heard.end(),
                                    [](const std::string& f) { return f.starts_with("583#A2"); });
    EXPECT_EQ(acks, 2);
    EXPECT_NE(std::find(heard.begin(), heard.end(), "583#A2027F0000000000"), heard.end());

    r = transfer(client.StartBlockUpload(0x3606, 0, 1000, 4, now.load()));
    EXPECT_EQ(r.status, SdoStatus::Done);
    EXPECT_TRUE(r.blockTransfer);
    EXPECT_EQ(r.data, record);
    EXPECT_FALSE(server.Busy());
}

TEST_F(SdoOverBus, CapacityCutsTheValueReadToItsEnd) {
    const SdoResult r = transfer(client.StartUpload(0x1008, 0, 4, now.load()));
    EXPECT_EQ(r.status, SdoStatus::Done);
    EXPECT_EQ(r.data, TestDictionary::bytes("ZAND"));
    EXPECT_EQ(r.size, 10u);
    EXPECT_FALSE(server.Busy());
}

TEST_F(SdoOverBus, ServerAborts) {
    const SdoResult r = transfer(client.StartDownload(0x1000, 0, {1, 0, 0, 0}, now.load()));
    EXPECT_EQ(r.status, SdoStatus::Failed);
    EXPECT_EQ(r.abortCode, SdoAbort::ReadOnly);
    EXPECT_TRUE(r.abortedByServer);
    EXPECT_EQ(Heard().back(), "583#8000100002000106");
}

TEST_F(SdoOverBus, ClientTimesOutAndAbortsWhenTheRequestIsLost) {
    bus.InjectFault(BusFault::Lose, 1);
    const TimePoint start = now.load();
    const SdoResult r = transfer(client.StartUpload(0x1000, 0, 4, start));
    EXPECT_EQ(r.status, SdoStatus::Failed);
    EXPECT_EQ(r.abortCode, SdoAbort::Timeout);
    EXPECT_FALSE(r.abortedByServer);
    EXPECT_EQ(now.load(), start + SdoClient::DefaultTimeout);
    EXPECT_EQ(Heard(), std::vector<std::string>{"603#8000100000000405"});
    // The channel is free again.
    EXPECT_EQ(transfer(client.StartUpload(0x1000, 0, 4, now.load())).status, SdoStatus::Done);
}

// CAN's double reception on either side: the copy is the same frame again, and each end
// takes it once.
TEST_F(SdoOverBus, DuplicatedSegmentOrRequestIsTakenOnceByEitherEnd) {
    // Frames of a segmented upload: 1 initiate, 2 its answer, 3 first segment request,
    // 4 first segment.
    bus.InjectFault(BusFault::Duplicate, 4); // the client sees segment 0 twice
    SdoResult r = transfer(client.StartUpload(0x1008, 0, 256, now.load()));
    EXPECT_EQ(r.status, SdoStatus::Done);
    EXPECT_EQ(r.data, TestDictionary::bytes("ZANDREL-N3"));
    const auto heard = Heard();
    EXPECT_FALSE(server.Busy());

    bus.InjectFault(BusFault::Duplicate, 3); // the server sees request 0 twice
    r = transfer(client.StartUpload(0x1008, 0, 256, now.load()));
    EXPECT_EQ(r.status, SdoStatus::Done);
    EXPECT_EQ(r.data, TestDictionary::bytes("ZANDREL-N3"));
    const auto all = Heard();
    EXPECT_EQ(std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(heard.size()),
                                       all.end()),
              (std::vector<std::string>{"603#4008100000000000", "583#410810000A000000",
                                        "603#6000000000000000", "603#6000000000000000",
                                        "583#005A414E4452454C", "603#7000000000000000",
                                        "583#192D4E3300000000"}));
    EXPECT_FALSE(server.Busy());
}

} // namespace
