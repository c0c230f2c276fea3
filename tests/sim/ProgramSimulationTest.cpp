// Node 20 of the default CANopen network, a CiA 302-3 node, on the in-process bus as a
// master's port sees it, across a restart of the network from its folder.

#include "BusListener.h"
#include "CanopenSimulation.h"
#include "ManualClock.h"
#include "SimulatedBus.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

using simtest::Listener;

class ProgramSimulationTest : public testing::Test {
public:
    std::unique_ptr<sim::CanopenSimulation> Start() {
        std::string error;
        auto network = sim::CanopenSimulation::Start(bus.Attach(), folder, &error, clock.Clock());
        EXPECT_NE(network, nullptr) << error;
        return network;
    }
    // The node's answer to one request.
    std::string Ask(const std::string& request) {
        master.Send(request);
        bus.WaitIdle();
        const auto heard = master.Take();
        return heard.size() == 1 ? heard[0] : "(" + std::to_string(heard.size()) + " frames)";
    }
    QTemporaryDir root;
    const std::string folder = root.path().toStdString() + "/canopen-network";
    ManualClock clock;
    bus::SimulatedBus bus;
    Listener master{bus};
};

TEST_F(ProgramSimulationTest, AProgramWrittenToNodeTwentyIsItsOwnAfterARestart) {
    {
        auto network = Start();
        bus.WaitIdle();
        master.Take();
        EXPECT_EQ(Ask("614#40511F0100000000"), "594#4F511F0101000000"); // the factory program
        EXPECT_EQ(Ask("614#2F511F0100000000"), "594#60511F0100000000"); // stop
        EXPECT_EQ(Ask("614#2F511F0103000000"), "594#60511F0100000000"); // clear
        // "123456789", segmented: 9 bytes announced, then 7 and the last 2.
        EXPECT_EQ(Ask("614#21501F0109000000"), "594#60501F0100000000");
        EXPECT_EQ(Ask("614#0031323334353637"), "594#2000000000000000");
        EXPECT_EQ(Ask("614#1B38390000000000"), "594#3000000000000000");
        clock.Advance(std::chrono::milliseconds(1));
        EXPECT_EQ(Ask("614#40571F0100000000"), "594#43571F0100000000");
        EXPECT_EQ(Ask("614#40561F0100000000"), "594#43561F012639F4CB");
    }
    auto network = Start();
    bus.WaitIdle();
    EXPECT_EQ(master.Take(), (std::vector<std::string>{"703#00", "709#00", "70C#00", "714#00"}));
    EXPECT_EQ(Ask("614#40561F0100000000"), "594#43561F012639F4CB");
    EXPECT_EQ(Ask("614#40511F0100000000"), "594#4F511F0101000000"); // booted
    EXPECT_EQ(Ask("614#4008100000000000"), "594#4108100017000000"); // "Simulated Standard Node"
}

} // namespace
