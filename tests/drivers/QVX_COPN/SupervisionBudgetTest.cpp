// Node supervision within its share of the bus: the guard traffic of many guarded nodes,
// counted from the frames on the bus over a stretch of the master's clock, at the bit rates
// of a slow, a middle and a fast bus; the nodes stay online, and none of them is written
// anything but the guarding entries the program asked for.

#include "BusLog.h"
#include "CopnMaster.h"
#include "CopnTestBus.h"
#include "ManualClock.h"
#include "WireTiming.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using bustest::BusLog;
using copntest::TestNode;

TEST(SupervisionBudgetTest, GuardTrafficStaysWithinTheShareAndTheNodesOnline) {
    struct Case {
        std::uint32_t bitRate;
        int nodes;
    };
    const Case cases[] = {{10000, 3}, {10000, 40}, {125000, 40}, {500000, 40}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.bitRate) + " bit/s, " + std::to_string(c.nodes) + " nodes");
        bus::SimulatedBus bus;
        ManualClock clock;
        BusLog log{bus};
        copn::Master master{std::shared_ptr<bus::CanPort>(bus.Attach()), clock.Clock()};
        master.BitRateChanged(c.bitRate);
        ASSERT_TRUE(master.SetOnline(true));
        std::vector<std::unique_ptr<TestNode>> nodes;
        for (int n = 1; n <= c.nodes; ++n) {
            nodes.push_back(std::make_unique<TestNode>(bus, static_cast<std::uint8_t>(n)));
            ASSERT_TRUE(master.AddNode(static_cast<std::uint8_t>(n)));
            nodes.back()->BootUp();
        }
        const auto settle = [&] {
            bus.WaitIdle();
            master.Poke();
            bus.WaitIdle();
            master.WaitForSupervision();
        };
        settle();
        for (int n = 1; n <= c.nodes; ++n) // as the program's poll does
            EXPECT_TRUE(master.StartGuarding(static_cast<std::uint8_t>(n), 1, 1000ms));
        settle();

        const std::size_t from = log.Count();
        constexpr int Seconds = 60;
        for (int step = 0; step < Seconds * 10; ++step) {
            clock.Advance(100ms);
            settle();
            for (int n = 1; n <= c.nodes; ++n)
                ASSERT_TRUE(master.NodeOnline(static_cast<std::uint8_t>(n)).value_or(false))
                    << "node " << n << " offline after " << (step + 1) * 100 << " ms";
        }
        std::uint64_t bits = 0;
        std::size_t writes = 0;
        for (const std::string& text : log.From(from)) {
            const bus::CanFrame frame = bustest::Frame(text);
            if ((frame.id & 0x780) == 0x700)
                bits += bus::FrameBits(frame);
            if ((frame.id & 0x780) == 0x600 && (frame.data[0] & 0xE0) == 0x20)
                ++writes;
        }
        const double share = double(bits) / (double(c.bitRate) * Seconds);
        EXPECT_LE(share, 0.10) << "supervision took " << share * 100 << " % of the bus";
        EXPECT_GT(bits, 0u);
        EXPECT_EQ(writes, 0u); // nothing written once guarding runs
        for (auto& node : nodes) {
            EXPECT_EQ(node->dictionary.Value(0x1017, 0), (std::vector<std::uint8_t>{0, 0}));
            EXPECT_NE(node->dictionary.Value(0x100C, 0), (std::vector<std::uint8_t>{0, 0}));
        }
    }
}

} // namespace
