// The simulated DeviceNet network on the in-process bus, as a master's port sees it. Frames
// are written out from the DeviceNet message layouts (see DevicenetNodeTest.cpp).

#include "DevicenetSimulation.h"

#include "BusListener.h"
#include "ManualClock.h"
#include "SimulatedBus.h"

#include <QDir>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace {

using bus::CanFrame;

using simtest::Listener;

// The check requests of the default network's nodes 3, 5 and 10.
const std::vector<std::string> CheckRequests = {"41F#008E04434B4C00", "42F#00D902454B4C00",
                                                "457#008E044A4B4C00"};

class DevicenetSimulationTest : public testing::Test {
public:
    std::unique_ptr<sim::DevicenetSimulation> Start(std::string* error = nullptr) {
        std::string ignored;
        return sim::DevicenetSimulation::Start(bus.Attach(), folder, error ? error : &ignored,
                                               clock.Clock());
    }
    // Lets the nodes' MAC ID checks run their course.
    void CheckDone(sim::DevicenetSimulation& network) {
        ASSERT_TRUE(master.HeardAll(CheckRequests));
        master.Take();
        clock.Advance(std::chrono::milliseconds(1000));
        network.Poke();
        ASSERT_TRUE(master.HeardAll(CheckRequests)); // the second requests
        master.Take();
        clock.Advance(std::chrono::milliseconds(1000)); // online
    }
    QStringList NodeFolders() const {
        return QDir(QString::fromStdString(folder)).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    }

    QTemporaryDir root;
    const std::string folder = root.path().toStdString() + "/devicenet-network";
    ManualClock clock;
    bus::SimulatedBus bus;
    Listener master{bus};
};

TEST_F(DevicenetSimulationTest, TheDefaultNetworkIsWrittenOutAndServed) {
    auto network = Start();
    ASSERT_NE(network, nullptr);
    EXPECT_EQ(network->MacIds(), (std::vector<std::uint8_t>{3, 5, 10}));
    CheckDone(*network);
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(folder + "/network.ini")));
    EXPECT_EQ(NodeFolders(), QStringList{}); // no node has been spoken to

    master.Send("42E#004B03010100"); // allocate node 5
    ASSERT_TRUE(master.Heard("42B#00CB00"));
    master.Send("42C#000E010103");
    master.Send("42C#000EC70111");
    master.Send("452#004B03010100"); // node 10: message ID 2 is not an unconnected request
    master.Send("456#004B03010100"); // allocate node 10
    bus.WaitIdle();
    EXPECT_EQ(master.Take(), (std::vector<std::string>{"42B#00CB00", "42B#008EE29F", "42B#009414FF",
                                                       "453#00CB00"}));
    EXPECT_EQ(NodeFolders(), (QStringList{"node-10", "node-5"}));
}

TEST_F(DevicenetSimulationTest, ANodeResetIntoDownloadModeComesBackAndKeepsItsState) {
    auto network = Start();
    ASSERT_NE(network, nullptr);
    CheckDone(*network);
    master.Send("41E#004B03010100");
    master.Send("41C#800010C701122B1A"); // password 1A2B in two fragments
    master.Send("41C#80810000");
    master.Send("41C#00050101"); // Identity Reset
    ASSERT_TRUE(
        master.HeardAll({"41B#00CB00", "41B#80C000", "41B#80C100", "41B#0090", "41B#0085"}));
    master.Take();
    clock.Advance(std::chrono::milliseconds(1000)); // its restart time
    network->Poke();
    ASSERT_TRUE(master.Heard("41F#008E04434B4C00")); // back: it checks its MAC ID
    master.Take();
    clock.Advance(std::chrono::milliseconds(1000));
    network->Poke();
    ASSERT_TRUE(master.Heard("41F#008E04434B4C00"));
    clock.Advance(std::chrono::milliseconds(1000));
    master.Send("41E#004B03010100");
    master.Send("41C#000E010103");
    EXPECT_TRUE(master.Heard("41B#008EBB8B")); // download mode: bit 15

    // The node kept its state in its folder: a network started again finds it there.
    network.reset();
    master.Take();
    network = Start();
    ASSERT_NE(network, nullptr);
    CheckDone(*network);
    master.Send("41E#004B03010100");
    master.Send("41C#000E010103");
    EXPECT_TRUE(master.Heard("41B#008EBB8B"));
}

// One process serves a network's folder, and one simulation in it: a second one is refused.
TEST_F(DevicenetSimulationTest, ASecondSimulationOfTheSameFolderIsRefused) {
    auto network = Start();
    ASSERT_NE(network, nullptr);
    std::string error;
    EXPECT_EQ(Start(&error), nullptr);
    EXPECT_NE(error.find(folder + " is in use in this process"), std::string::npos) << error;
    network.reset();
    EXPECT_NE(Start(&error), nullptr) << error;
}

TEST_F(DevicenetSimulationTest, ANetworkFileThatDescribesNoNetworkIsRefusedWithItsLine) {
    struct Case {
        const char* text;
        const char* says;
    };
    for (const Case& c : {
             Case{"[node 64]\n", "network.ini:1: a section is [node N]"},
             Case{"[node 3]\n[node 3]\n", "network.ini:2: node 3 is given twice"},
             Case{"[node 3]\ncolour=blue\n", "network.ini:2: unknown key colour"},
             Case{"[node 3]\nvendor_id=65536\n", "network.ini:2: vendor_id=65536"},
             Case{"[node 3]\nproduct_code=0x8000\n", "network.ini:2: product_code=0x8000"},
             Case{"[node 3]\n\nproduct_name=123456789012345678901234567890123\n",
                  "network.ini:3: product_name has at most 32 characters"},
             Case{"[node 3]\nchecksum_width=32\n", "network.ini:2:"},
             Case{"[node 3]\nrestart_ms=2001\n", "network.ini:2:"},
             Case{"[node 3]\nsector_sizes=0x30000,,0x30000\n", "network.ini:2:"},
             Case{"[node 3]\nsector_size_attribute=maybe\n", "network.ini:2:"},
             Case{"[node 3]\nduplicate_mac_check=1\n", "network.ini:2:"},
             Case{"[node 3]\nfactory_mode=boot\n", "network.ini:2:"},
             Case{"[node 3]\npassword=xyz\n", "network.ini:2:"},
             Case{"vendor_id=1\n", "network.ini:1: a key before"},
             Case{"# nothing\n", "lists no node"},
         }) {
        SCOPED_TRACE(c.text);
        QDir().mkpath(QString::fromStdString(folder));
        std::ofstream(folder + "/network.ini") << c.text;
        std::string error;
        EXPECT_EQ(Start(&error), nullptr);
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
    }
}

TEST_F(DevicenetSimulationTest, ANetworkFileShapesItsNodes) {
    QDir().mkpath(QString::fromStdString(folder));
    std::ofstream(folder + "/network.ini")
        << "[node 0]\nvendor_id=0x1234\nsector_sizes=0x10000,0x20000\nchecksum_width=8\n"
           "password=BEEF\nrestart_ms=0\nduplicate_mac_check=no\n";
    auto network = Start();
    ASSERT_NE(network, nullptr);
    // MAC ID 0: identifiers 403, 404, 406; no check: it answers at once.
    master.Send("406#014B03010101");
    master.Send("404#010E010101");
    master.Send("404#010EC70110");
    master.Send("404#810010C70112EFBE"); // password BEEF in two fragments
    master.Send("404#81810000");
    master.Send("404#01050101"); // Identity Reset: back at once, its connection gone
    master.Send("404#010E010103");
    master.Send("406#014B03010101");
    master.Send("404#010E010103"); // product code 1 in download mode
    bus.WaitIdle();
    EXPECT_EQ(master.Take(), (std::vector<std::string>{"403#01CB00", "403#018E3412", "403#018E02",
                                                       "403#81C000", "403#81C100", "403#0190",
                                                       "403#0185", "403#01CB00", "403#018E0180"}));
}

// The steady clock, which a test may put forward (never back) past a wait that is not what it
// looks at.
class SteadyClock {
public:
    sim::NodeClock Clock() const {
        return [ahead = ahead_] {
            return std::chrono::steady_clock::now() + std::chrono::nanoseconds(ahead->load());
        };
    }
    void PutForward(std::chrono::nanoseconds by) { ahead_->fetch_add(by.count()); }

private:
    std::shared_ptr<std::atomic<std::int64_t>> ahead_ =
        std::make_shared<std::atomic<std::int64_t>>(0);
};

// The default network on the steady clock, never poked: what its nodes do without a frame
// from the master they do on their own timers. Node 3 has its MAC ID checked and its explicit
// connection allocated by master 0.
class DevicenetTimersTest : public testing::Test {
public:
    void SetUp() override {
        std::string error;
        network = sim::DevicenetSimulation::Start(bus.Attach(), folder, &error, clock.Clock());
        ASSERT_NE(network, nullptr) << error;
        ASSERT_TRUE(master.HeardAll(CheckRequests));
        master.Take();
        clock.PutForward(std::chrono::seconds(1));
        ASSERT_TRUE(master.HeardAll(CheckRequests)); // the second requests, on the nodes' own time
        master.Take();
        clock.PutForward(std::chrono::seconds(1)); // the frame that comes next finds them online
        master.Send("41E#004B03010100");
        ASSERT_TRUE(master.Heard("41B#00CB00"));
        master.Take();
    }

    QTemporaryDir root;
    const std::string folder = root.path().toStdString() + "/devicenet-network";
    SteadyClock clock;
    bus::SimulatedBus bus;
    Listener master{bus};
    std::unique_ptr<sim::DevicenetSimulation> network;
};

// Its restart time after the Identity Reset, the node is back and checks its MAC ID: two
// requests a second apart.
TEST_F(DevicenetTimersTest, AResetNodeComesBackAndChecksItsMacId) {
    master.Send("41C#00050101");
    ASSERT_TRUE(master.Heard("41B#0085"));
    EXPECT_TRUE(master.Heard("41F#008E04434B4C00", 2));
    EXPECT_FALSE(network->ConnectionHeld(3)); // gone with the restart
}

// The product name goes in fragments (20 bytes); the master never acknowledges the first,
// and the node sends it again after 500 ms — once.
TEST_F(DevicenetTimersTest, AFragmentWhoseAcknowledgementIsLostIsSentAgain) {
    master.Send("41C#000E010107");
    EXPECT_TRUE(master.Heard("41B#80008E1253696D75", 2));
}

// Ten seconds without a word from its master on the connection: the node lets it go.
TEST_F(DevicenetTimersTest, TheInactivityWatchdogReleasesTheConnection) {
    ASSERT_TRUE(network->ConnectionHeld(3));
    EXPECT_FALSE(network->ConnectionHeld(5));
    EXPECT_FALSE(network->ConnectionHeld(64));
    // Its last two seconds go by in real time: longer than the host may sleep before it looks
    // at the clock again, so the node must have asked for the time itself.
    clock.PutForward(std::chrono::seconds(8));
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (network->ConnectionHeld(3) && std::chrono::steady_clock::now() < limit)
        std::this_thread::yield();
    EXPECT_FALSE(network->ConnectionHeld(3));
    EXPECT_EQ(master.Take(), std::vector<std::string>{}); // and says nothing
}

} // namespace
