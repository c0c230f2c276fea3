// A CiA 302-3 node's programs in its node folder: kept across a restart of the network, and
// whole or absent after a process killed at any storage step of a clear or a write.

#include "CanopenNetworkFile.h"
#include "ManualClock.h"
#include "NodeConversation.h"
#include "NodeNetwork.h"
#include "ProgramNode.h"
#include "StorageSteps.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace {

constexpr std::uint8_t Node = 20;

const std::vector<std::uint8_t> Program = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
const std::string ProgramCrc = "0xCBF43926";
const std::string NoProgram = "0x00000000";

// Node 20 as a network file gives it, its programs small.
sim::CanopenNodeSettings smallNode() {
    std::vector<sim::CanopenNodeSettings> nodes;
    std::string error;
    EXPECT_TRUE(sim::ParseCanopenNetwork(
        "[node 20]\nprofile=302-3\nprograms=2\nprogram_size=4096\n", "network.ini",
        &nodes, &error))
        << error;
    return nodes.at(0);
}

// The node served from its folder, as the simulation serves it; a new one is a new process.
struct ServedNode {
    ServedNode(const std::string& folder, ManualClock& clock)
        : network(folder, clock.Clock()), settings(smallNode()) {
        network.Add(Node, settings.flash, sim::LeaveProgramFactory);
        node = std::make_unique<sim::ProgramNode>(
            settings, [this](std::string* error) { return network.Node(Node, error); });
        node->PowerOn(clock.Now());
        sdo = std::make_unique<simtest::DirectSdo<sim::ProgramNode>>(*node, clock, Node);
    }
    sim::NodeNetwork network;
    sim::CanopenNodeSettings settings;
    std::unique_ptr<sim::ProgramNode> node;
    std::unique_ptr<simtest::DirectSdo<sim::ProgramNode>> sdo;
};

class ProgramStorageTest : public testing::Test {
public:
    QTemporaryDir root;
    ManualClock clock;
    std::string folder(const std::string& name) const {
        return root.path().toStdString() + "/" + name;
    }
};

TEST_F(ProgramStorageTest, AProgramAndItsRoomSurviveARestartOfTheNetwork) {
    std::string factoryCrc;
    {
        ServedNode served(folder("network"), clock);
        factoryCrc = served.sdo->Read(0x1F56, 1);
        EXPECT_NE(factoryCrc, NoProgram);
        ASSERT_EQ(served.sdo->Write(0x1F51, 1, {0}), "done");
        ASSERT_EQ(served.sdo->Write(0x1F51, 1, {3}), "done");
        ASSERT_EQ(served.sdo->Write(0x1F50, 1, Program), "done");
        ASSERT_EQ(served.sdo->Write(0x1F50, 2, Program), "done");
        clock.Advance(std::chrono::seconds(1));
        ASSERT_EQ(served.sdo->Write(0x1F51, 2, {0}), "done");
        ASSERT_EQ(served.sdo->Write(0x1F51, 2, {3}), "done");
    }
    ServedNode served(folder("network"), clock);
    EXPECT_EQ(served.sdo->Read(0x1F56, 1), ProgramCrc);
    EXPECT_EQ(served.sdo->Read(0x1F51, 1), "0x00000001"); // booted
    EXPECT_EQ(served.sdo->Read(0x1F57, 1), "0x00000000");
    EXPECT_EQ(served.sdo->Read(0x1F56, 2), NoProgram);
    EXPECT_EQ(served.sdo->Read(0x1F57, 2), "0x00000002");
    // Cleared on the disk too: it takes a program without a clear.
    EXPECT_EQ(served.sdo->Write(0x1F50, 2, Program), "done");
}

struct Killed {};

// Killed at any storage step, the node comes back with the program it had or the one being
// written, each with its own identification; never the new bytes under the old one.
TEST_F(ProgramStorageTest, AProcessKilledAtAnyStepLeavesTheOldProgramOrTheNew) {
    struct Sequence {
        const char* what;
        bool clearFirst; // done before the steps are counted
        std::vector<std::uint8_t> control;
        bool write;
    };
    const std::vector<Sequence> sequences = {
        {"a clear of the factory program", false, {3}, false},
        {"a write into a clear area", true, {}, true},
    };
    int run = 0;
    for (const Sequence& sequence : sequences) {
        std::string before, after;
        const auto prepare = [&](ServedNode& served) {
            ASSERT_EQ(served.sdo->Write(0x1F51, 1, {0}), "done");
            if (sequence.clearFirst) {
                ASSERT_EQ(served.sdo->Write(0x1F51, 1, {3}), "done");
            }
        };
        const auto act = [&](ServedNode& served) {
            for (std::uint8_t value : sequence.control)
                served.sdo->Write(0x1F51, 1, {value});
            if (sequence.write)
                served.sdo->Write(0x1F50, 1, Program);
        };
        std::uint64_t steps = 0;
        {
            ServedNode served(folder("count-" + std::to_string(run++)), clock);
            prepare(served);
            before = served.sdo->Read(0x1F56, 1);
            const auto tally = sim::StorageTallySoFar().steps;
            act(served);
            steps = sim::StorageTallySoFar().steps - tally;
            clock.Advance(std::chrono::seconds(1));
            after = served.sdo->Read(0x1F56, 1);
        }
        ASSERT_GT(steps, 1u);
        ASSERT_NE(before, after);
        for (std::uint64_t step = 1; step <= steps; ++step) {
            SCOPED_TRACE(std::string(sequence.what) + ", killed at step " + std::to_string(step));
            const std::string path = folder("killed-" + std::to_string(run++));
            {
                ServedNode served(path, clock);
                prepare(served);
                std::uint64_t seen = 0;
                sim::SetStorageStepHook([&](const char*) {
                    if (++seen == step)
                        throw Killed{};
                    return true;
                });
                try {
                    act(served);
                } catch (const Killed&) {
                }
                sim::SetStorageStepHook({});
            }
            ServedNode served(path, clock);
            const std::string identification = served.sdo->Read(0x1F56, 1);
            const std::string status = served.sdo->Read(0x1F57, 1);
            EXPECT_TRUE(identification == before || identification == after) << identification;
            // A program comes with no error, its absence with "no valid program".
            EXPECT_EQ(status, identification == NoProgram ? "0x00000002" : "0x00000000");
            EXPECT_EQ(served.sdo->Read(0x1F51, 1),
                      identification == NoProgram ? "0x00000000" : "0x00000001");
        }
    }
}

// A disk that refuses the write refuses the SDO write: the program is not taken.
TEST_F(ProgramStorageTest, AProgramThatCannotBeStoredIsRefused) {
    ServedNode served(folder("network"), clock);
    ASSERT_EQ(served.sdo->Write(0x1F51, 1, {0}), "done");
    ASSERT_EQ(served.sdo->Write(0x1F51, 1, {3}), "done");
    sim::FailStorageWritesFrom(1);
    EXPECT_EQ(served.sdo->Write(0x1F50, 1, Program), "abort 0x08000020");
    sim::FailStorageWritesFrom(0);
    EXPECT_EQ(served.sdo->Read(0x1F56, 1), NoProgram);
    EXPECT_EQ(served.sdo->Read(0x1F57, 1), "0x0000000A"); // flash write error
}

} // namespace
