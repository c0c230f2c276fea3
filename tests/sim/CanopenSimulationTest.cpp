// The simulated CANopen network on the in-process bus, as a master's port sees it.

#include "CanopenSimulation.h"

#include "BusListener.h"
#include "ManualClock.h"
#include "SimulatedBus.h"

#include <QDir>
#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/stat.h>

namespace {

using bus::CanFrame;

using simtest::Listener;

class CanopenSimulationTest : public testing::Test {
public:
    std::unique_ptr<sim::CanopenSimulation> Start(std::string* error = nullptr,
                                                  sim::NodeClock nodeClock = {}) {
        std::string ignored;
        return sim::CanopenSimulation::Start(bus.Attach(), folder, error ? error : &ignored,
                                             nodeClock ? nodeClock : clock.Clock());
    }
    QTemporaryDir root;
    const std::string folder = root.path().toStdString() + "/canopen-network";
    ManualClock clock;
    bus::SimulatedBus bus;
    Listener master{bus};
};

TEST_F(CanopenSimulationTest, TheDefaultNetworkIsWrittenOutAndBootsItsFourNodes) {
    auto network = Start();
    ASSERT_NE(network, nullptr);
    bus.WaitIdle();
    EXPECT_EQ(master.Take(), (std::vector<std::string>{"703#00", "709#00", "70C#00", "714#00"}));
    EXPECT_EQ(network->NodeIds(), (std::vector<std::uint8_t>{3, 9, 12, 20}));
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(folder + "/network.ini")));
    // No node has been spoken to: no node has a folder yet.
    EXPECT_EQ(QDir(QString::fromStdString(folder)).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
              QStringList{});

    master.Send("60C#4000100000000000");
    master.Send("609#4011360000000000");
    bus.WaitIdle();
    EXPECT_EQ(master.Take(),
              (std::vector<std::string>{"58C#4300100092010200", "589#4F11360008000000"}));
    EXPECT_EQ(QDir(QString::fromStdString(folder)).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
              (QStringList{"node-12", "node-9"}));
}

TEST_F(CanopenSimulationTest, ANodeResetIntoDownloadModeComesBackWithItsBootUp) {
    auto network = Start();
    ASSERT_NE(network, nullptr);
    master.Send("603#230F36002B1A0000");
    ASSERT_TRUE(master.Heard("583#600F360000000000"));
    master.Send("000#8103");
    bus.WaitIdle();
    master.Take();
    clock.Advance(std::chrono::milliseconds(1000));
    network->Poke();
    ASSERT_TRUE(master.Heard("703#00"));
    master.Send("603#4018100200000000");
    EXPECT_TRUE(master.Heard("583#4318100200000000")); // download mode: product code 0

    // The node kept its state in its folder: a network started again finds it there.
    network.reset();
    master.Take();
    network = Start();
    master.Send("603#4018100200000000");
    EXPECT_TRUE(master.Heard("583#4318100200000000"));
}

// Only the network file's own temporaries are cleaned away.
TEST_F(CanopenSimulationTest, TheNetworkFilesTemporariesAreCleanedAway) {
    QDir().mkpath(QString::fromStdString(folder));
    for (const char* name : {"network.ini.zandrel-tmp-Ab12Cd", "network.ini.backup"})
        std::ofstream(folder + "/" + name) << "[node 3]\n";
    auto network = Start();
    ASSERT_NE(network, nullptr);
    EXPECT_EQ(QDir(QString::fromStdString(folder)).entryList(QDir::Files),
              (QStringList{"network.ini", "network.ini.backup"}));
}

// network.ini, which holds the nodes' passwords, and the network's folders are their owner's
// alone; a node's own files are made as the umask allows.
TEST_F(CanopenSimulationTest, NetworkFileAndFoldersStayPrivate) {
    const mode_t before = ::umask(002);
    auto network = Start();
    ASSERT_NE(network, nullptr);
    master.Send("60C#4000100000000000");
    bus.WaitIdle();
    network.reset();
    ::umask(before);
    const auto accessOf = [](const std::string& path) {
        struct stat info {};
        EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
        return info.st_mode & 07777;
    };
    EXPECT_EQ(accessOf(folder + "/network.ini"), 0600u);
    EXPECT_EQ(accessOf(folder), 0700u);
    EXPECT_EQ(accessOf(folder + "/node-12"), 0700u);
    EXPECT_EQ(accessOf(folder + "/node-12/node.state"), 0664u);
}

// One process serves a network's folder, and one simulation in it: a second one is refused.
TEST_F(CanopenSimulationTest, ASecondSimulationOfTheSameFolderIsRefused) {
    auto network = Start();
    ASSERT_NE(network, nullptr);
    std::string error;
    EXPECT_EQ(Start(&error), nullptr);
    EXPECT_NE(error.find(folder + " is in use in this process"), std::string::npos) << error;
    network.reset();
    EXPECT_NE(Start(&error), nullptr) << error;
}

// A network.ini that cannot be read is neither taken for a missing one nor replaced.
TEST_F(CanopenSimulationTest, ANetworkFileThatCannotBeReadIsLeftAsItIs) {
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder + "/network.ini/in-the-way")));
    std::string error;
    EXPECT_EQ(Start(&error), nullptr);
    EXPECT_NE(error.find(folder + "/network.ini"), std::string::npos) << error;
    EXPECT_NE(error.find(std::strerror(EISDIR)), std::string::npos) << error;
    EXPECT_TRUE(QFileInfo(QString::fromStdString(folder + "/network.ini/in-the-way")).isDir());
}

TEST_F(CanopenSimulationTest, ANetworkFileThatDescribesNoNetworkIsRefusedWithItsLine) {
    struct Case {
        const char* text;
        const char* says;
    };
    std::string seventeenNodesOf16MiB;
    for (int n = 1; n <= 17; ++n)
        seventeenNodesOf16MiB += "[node " + std::to_string(n) + "]\nsector_sizes=16777216\n";
    const std::string longLine = "[node 3]\n" + std::string(100000, 'x') + "\n";
    for (const Case& c : {
             Case{"[node 0]\n", "network.ini:1:"},
             Case{"[node 3]\n[node 3]\n", "network.ini:2: node 3 is given twice"},
             Case{"[node 3]\ncolour=blue\n", "network.ini:2: unknown key colour"},
             Case{"[node 3]\nchecksum_width=32\n", "network.ini:2:"},
             Case{"[node 3]\nrestart_ms=2001\n", "network.ini:2:"},
             Case{"[node 3]\nsector_sizes=0x30000,,0x30000\n", "network.ini:2:"},
             Case{"device_name=x\n", "network.ini:1: a key before"},
             Case{"# nothing\n", "lists no node"},
             Case{"[node 3]\nsector_sizes=16777216,1\n",
                  "network.ini:2: sector_sizes add up to 16777217 bytes"},
             Case{"[node 3]\nsector_sizes=0x8000\nchecksum_window=0x8001\n",
                  "network.ini:3: checksum_window is at most the largest sector's size"},
             Case{"[node 3]\nchecksum_window=0x8001\nsector_sizes=0x8000\n",
                  "network.ini:3: checksum_window is at most the largest sector's size"},
             Case{"[node 3]\nchecksum_window=0x1000001\n", "network.ini:2: checksum_window="},
             Case{seventeenNodesOf16MiB.c_str(),
                  "network.ini:34: the network's nodes would hold more than 268435456 bytes"},
             // A line is quoted up to its 80th character, with what is unprintable escaped.
             Case{"[node 3]\n\x1b[2J\x07 + 500 more",
                  "network.ini:2: not key=value: \\x1B[2J\\x07"},
             Case{longLine.c_str(), "network.ini:2: not key=value: xxxxxxxxxx"},
         }) {
        SCOPED_TRACE(c.text);
        QDir().mkpath(QString::fromStdString(folder));
        std::ofstream(folder + "/network.ini") << c.text;
        std::string error;
        EXPECT_EQ(Start(&error), nullptr);
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
        EXPECT_LT(error.size(), folder.size() + 200) << error;
        EXPECT_TRUE(std::all_of(error.begin(), error.end(), [](char ch) {
            return ch >= 0x20 && ch < 0x7F;
        })) << error;
    }
}

// A network.ini larger than a network file may be is refused before a byte of it is read.
TEST_F(CanopenSimulationTest, ANetworkFileOfAGibibyteIsRefusedUnread) {
    QDir().mkpath(QString::fromStdString(folder));
    std::ofstream(folder + "/network.ini") << "[node 3]\n";
    std::filesystem::resize_file(folder + "/network.ini", std::uintmax_t{1} << 30);
    std::string error;
    EXPECT_EQ(Start(&error), nullptr);
    EXPECT_NE(error.find(folder + "/network.ini: holds 1073741824 bytes, more than 262144"),
              std::string::npos)
        << error.substr(0, 300);
}

TEST_F(CanopenSimulationTest, ANetworkFileShapesItsNodes) {
    QDir().mkpath(QString::fromStdString(folder));
    std::ofstream(folder + "/network.ini")
        << "[node 5]\ndevice_type=0x12345678\nsector_sizes=0x10000,0x20000\n"
           "checksum_width=8\npassword=BEEF\nrestart_ms=0\n";
    auto network = Start();
    ASSERT_NE(network, nullptr);
    master.Send("605#4000100000000000");
    master.Send("605#400D360000000000");
    master.Send("605#230F36002B1A0000"); // not this node's password
    bus.WaitIdle();
    EXPECT_EQ(master.Take(),
              (std::vector<std::string>{"705#00", "585#4300100078563412", "585#4F0D360002000000",
                                        "585#800F360030000906"}));
}

// On the real clock, a node acts on its own timers with no frame from the master to wake it:
// a reset node comes back with its boot-up, heartbeats come, and a life time runs out. Each
// network has that one timer alone, so that no other deadline wakes the host by chance.
TEST_F(CanopenSimulationTest, NodesActOnTheirOwnTimersOnTheRealClock) {
    struct Case {
        const char* what;
        const char* file;
        std::vector<std::string> requests; // and nothing more from the master after them
        std::string comes;
    };
    for (const Case& c : {
             Case{"reset node: the boot-up after the restart time",
                  "[node 3]\nrestart_ms=200\n",
                  {"000#8103"},
                  "703#00"},
             Case{"heartbeat_ms=50", "[node 3]\nheartbeat_ms=50\n", {}, "703#7F"},
             Case{"a guard request, then none for the life time: the emergency message",
                  "[node 3]\n",
                  {"603#2B0C100032000000", "603#2F0D100002000000", "703#R1"},
                  "083#3081110000000000"},
         }) {
        SCOPED_TRACE(c.what);
        QDir().mkpath(QString::fromStdString(folder));
        std::ofstream(folder + "/network.ini") << c.file;
        auto network = Start(nullptr, sim::SteadyNodeClock());
        ASSERT_NE(network, nullptr);
        ASSERT_TRUE(master.Heard("703#00"));
        master.Take();
        for (const std::string& request : c.requests)
            master.Send(request);
        EXPECT_TRUE(master.Heard(c.comes));
        network.reset();
        master.Take();
    }
}

} // namespace
