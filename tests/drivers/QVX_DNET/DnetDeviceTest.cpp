// The DeviceNet master and the port under it: a node is absent as soon as the port cannot
// reach it, and a frame the device refuses waits for room as long as the master waits for an
// answer.

#include "BusLog.h"
#include "DnetMaster.h"
#include "DnetTestBus.h"
#include "HangGuards.h"
#include "ManualClock.h"
#include "QtCanPort.h"
#include "TestCanDevice.h"

#include <chrono>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Node 5 present in the scan of a master with MAC ID 1, on the test's bus: once its port
// cannot send (bus-off here; a device that is gone alike), the node is absent at once, not
// when the next keep-alive goes unanswered.
TEST(DnetMasterOnItsPort, ANodeIsAbsentOnceThePortCannotReachIt) {
    bus::SimulatedBus bus;
    ManualClock clock;
    bustest::BusLog log{bus};
    dnettest::TestNode node{bus, 5};
    const std::shared_ptr<bus::SimulatedPort> port = bus.Attach();
    dnet::Master master{port, clock.Clock()};
    ASSERT_TRUE(master.SetOwnMac(1));
    // The duplicate MAC ID check on the test's clock: two requests a second apart, then a
    // second of silence.
    auto going = std::async(std::launch::async, [&] { return master.SetOnline(true); });
    for (std::size_t request = 1; request <= 2; ++request) {
        ASSERT_TRUE(log.WaitUntil([&](const auto& frames) { return frames.size() >= request; }));
        clock.Advance(1s);
        master.Poke();
    }
    ASSERT_TRUE(finished(going));
    ASSERT_TRUE(master.AddToScanlist(5, 0x01, {48, 48, 1000, 2500}));
    master.StartScan();
    ASSERT_TRUE(eventually([&] { return master.NodePresent(5) == true; }));

    port->SetBusOff(true);
    EXPECT_EQ(master.NodePresent(5), false);
    port->SetBusOff(false);
    EXPECT_EQ(master.NodePresent(5), true);
    master.Shutdown();
}

// The master's time-out for an answer is how long a frame the device refuses waits for room,
// on the port it starts with and on one that replaces it (a new bit rate).
TEST(DnetMasterOnItsPort, ARefusedFrameWaitsAsLongAsAnAnswerWould) {
    cantest::TestCanBus bus;
    cantest::ProvidedPlugin plugin("testcan", bus);
    auto first = std::make_shared<bus::QtCanPort>("testcan", "testcan0");
    ASSERT_NE(first->SendPatience(), dnet::Master::Timeout); // the port's own is another
    dnet::Master master{first};
    EXPECT_EQ(first->SendPatience(), dnet::Master::Timeout);
    auto second = std::make_shared<bus::QtCanPort>("testcan", "testcan0");
    master.ReplacePort(second);
    EXPECT_EQ(second->SendPatience(), dnet::Master::Timeout);
    master.Shutdown();
}

} // namespace
