// The interfaces the configuration record names, opened through the exports: the embedded
// simulated network, and a Qt virtual CAN bus with a node of the test's own on it.

#include "CallsUntilClosed.h"
#include "CanSettings.h"
#include "CanTrace.h"
#include "CopnDriver.h"
#include "CopnErrors.h"
#include "CopnExports.h"
#include "CopnTestBus.h"
#include "HangGuards.h"
#include "InterfaceRecord.h"
#include "LastError.h"
#include "QtCanPort.h"
#include "ScopedEnvironment.h"
#include "canopen/Guarding.h"
#include "canopen/SdoServer.h"

#include <QDir>
#include <QTemporaryDir>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::string> lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> all;
    for (std::string line; std::getline(in, line);)
        all.push_back(line.substr(line.find(' ') + 1)); // without the time stamp
    return all;
}

bool contains(const std::vector<std::string>& all, const std::string& line) {
    return std::find(all.begin(), all.end(), line) != all.end();
}

// The program's start sequence on a handle, then its poll.
void goOnline(std::uint32_t h) {
    ASSERT_EQ(SetNodeID(h, 127), 1);
    ASSERT_EQ(SetBaud(h, 500000), 1);
    for (std::uint8_t n = 1; n <= 127; ++n)
        ASSERT_EQ(AddNode(h, n), 1);
    ASSERT_EQ(SetOnline(h, 1), 1);
    ASSERT_EQ(NMT_ResetCommunication(h, 0), 1);
}

std::vector<std::uint8_t> onlineNodes(std::uint32_t h) {
    std::vector<std::uint8_t> nodes;
    for (std::uint8_t n = 1; n <= 127; ++n) {
        std::uint32_t online = 0;
        EXPECT_EQ(GetNodeOnline(h, n, &online), 1);
        if (online)
            nodes.push_back(n);
    }
    return nodes;
}

// The embedded default: nodes 3, 9, 12 and 20 of the default network, in a data folder of the
// test's own, and every frame in the trace the environment asks for.
TEST(CopnSimulatedNetwork, TheDefaultNetworkAnswersAndIsTraced) {
    QTemporaryDir data;
    const std::string trace = data.filePath("trace.log").toStdString();
    ScopedEnvironment folder("XDG_DATA_HOME", data.path().toLocal8Bit().constData());
    std::uint32_t h = 0;
    {
        ScopedEnvironment tracing(bus::CanTrace::EnvironmentVariable, trace.c_str());
        const InterfaceRecord record = drivercore::DefaultRecord();
        ASSERT_EQ(OpenInterface(&h, const_cast<InterfaceRecord*>(&record)), 1);
    }
    goOnline(h);
    // The nodes' boot-ups went out before they answer this.
    std::uint32_t deviceType = 0;
    ASSERT_EQ(SDO_Upload_UNSIGNED32(h, 3, 0x1000, 0, &deviceType), 1);
    EXPECT_EQ(deviceType, 0x00000191u);
    EXPECT_EQ(onlineNodes(h), (std::vector<std::uint8_t>{3, 9, 12, 20}));
    char name[256];
    std::uint32_t length = 256;
    ASSERT_EQ(SDO_Upload(h, 9, 0x1008, 0, &length, reinterpret_cast<std::uint8_t*>(name)), 1);
    EXPECT_EQ(std::string(name, length), "Simulated Valve Node");
    EXPECT_EQ(CloseCard(h), 1);

    const std::vector<std::string> traced = lines(trace);
    EXPECT_TRUE(contains(traced, "sim0 000#8200"));
    EXPECT_TRUE(contains(traced, "sim0 703#00"));
    EXPECT_TRUE(contains(traced, "sim0 709#00"));
    EXPECT_TRUE(contains(traced, "sim0 603#4000100000000000"));
    EXPECT_TRUE(contains(traced, "sim0 583#4300100091010000"));
}

// Many threads on one handle of the embedded network, as the program uses it: a long
// transfer to one node, identity reads of another, the nodes-online poll, a node that
// restarts again and again — then CloseCard while transfers wait. No call may hang, and a
// call that succeeds has the node's true answer.
TEST(CopnThreads, TransfersPollAndRestartsOnOneHandleThenCloseCardWhileTheyWait) {
    QTemporaryDir data;
    ScopedEnvironment folder("XDG_DATA_HOME", data.path().toLocal8Bit().constData());
    ScopedEnvironment wire("ZANDREL_SIM_WIRE", "off");
    std::uint32_t h = 0;
    const InterfaceRecord record = drivercore::DefaultRecord();
    ASSERT_EQ(OpenInterface(&h, const_cast<InterfaceRecord*>(&record)), 1);
    goOnline(h);
    std::uint32_t deviceType = 0;
    ASSERT_TRUE(eventually([&] { return SDO_Upload_UNSIGNED32(h, 3, 0x1000, 0, &deviceType); }));

    std::atomic<int> wrong{0};
    CallsUntilClosed calls;
    // Segmented uploads of node 9's name: the long transfer.
    calls.Add([&] {
        char name[256];
        std::uint32_t length = sizeof name;
        const bool ok =
            SDO_Upload(h, 9, 0x1008, 0, &length, reinterpret_cast<std::uint8_t*>(name)) == 1;
        if (ok && std::string(name, length) != "Simulated Valve Node")
            wrong.fetch_add(1);
        return ok;
    });
    // Identity reads of node 3.
    calls.Add([&] {
        std::uint32_t type = 0;
        const bool ok = SDO_Upload_UNSIGNED32(h, 3, 0x1000, 0, &type) == 1;
        if (ok && type != 0x00000191u)
            wrong.fetch_add(1);
        return ok;
    });
    // The nodes-online poll.
    calls.Add([&] {
        bool all = true;
        for (std::uint8_t n = 1; n <= 127; ++n) {
            std::uint32_t online = 0;
            all = GetNodeOnline(h, n, &online) == 1 && all;
        }
        return all;
    });
    // Node 12 restarts again and again.
    calls.Add([&] { return NMT_ResetNode(h, 12) == 1; });

    ASSERT_TRUE(eventually([&] { return calls.Rounds() >= 200; }));
    auto closing = std::async(std::launch::async, [&] { return CloseCard(h); });
    EXPECT_EQ(finished(closing), 1);
    for (int made : calls.Closed())
        EXPECT_GT(made, 0);
    EXPECT_EQ(wrong.load(), 0);
    std::uint32_t type = 0;
    EXPECT_EQ(SDO_Upload_UNSIGNED32(h, 3, 0x1000, 0, &type), 0);
}

// The simulated nodes serve one master at a time: opening the network again takes them
// over, and the handle before is closed.
TEST(CopnSimulatedNetwork, OpeningAgainTakesTheNetworkOver) {
    QTemporaryDir data;
    ScopedEnvironment folder("XDG_DATA_HOME", data.path().toLocal8Bit().constData());
    const InterfaceRecord record = drivercore::DefaultRecord();
    std::uint32_t first = 0, second = 0;
    ASSERT_EQ(OpenInterface(&first, const_cast<InterfaceRecord*>(&record)), 1);
    ASSERT_EQ(OpenInterface(&second, const_cast<InterfaceRecord*>(&record)), 1);
    EXPECT_NE(first, second);
    EXPECT_EQ(OpenCard(first), 0);
    goOnline(second);
    std::uint8_t errorRegister = 9;
    EXPECT_EQ(SDO_Upload_UNSIGNED8(second, 3, 0x1001, 0, &errorRegister), 1);
    EXPECT_EQ(errorRegister, 0);
    EXPECT_EQ(UnloadDriver(), 1); // closes what is open
    EXPECT_EQ(OpenCard(second), 0);
}

TEST(CopnSimulatedNetwork, ANetworkThatCannotStartIsRefusedWithTheReason) {
    QTemporaryDir data;
    const QString blocker = data.filePath("a-file");
    { std::ofstream(blocker.toStdString()) << "not a folder\n"; }
    ScopedEnvironment folder("XDG_DATA_HOME", (blocker + "/below").toLocal8Bit().constData());
    const InterfaceRecord record = drivercore::DefaultRecord();
    std::uint32_t h = 77;
    SetLastError(0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(OpenInterface(&h, const_cast<InterfaceRecord*>(&record)), 0);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(h, 77u);
    EXPECT_EQ(GetLastError(), drivercore::ErrorCannotOpen);
    EXPECT_NE(said.find("simulated CANopen network"), std::string::npos) << said;
    EXPECT_NE(said.find(blocker.toStdString()), std::string::npos) << said;
}

// A virtualcan bus of this test program's own: a TCP port that programs running at the same
// time do not share.
std::string virtualBus() {
    static const int port = 45000 + static_cast<int>(getpid() % 15000);
    return "tcp://127.0.0.1:" + std::to_string(port) + "/can0";
}

// Node 3 on a Qt port: an SDO server over a small dictionary.
class QtNode {
public:
    QtNode() : port_("virtualcan", virtualBus()), server_(3, dictionary) {
        dictionary.Set(0x1000, 0, {0x92, 0x01, 0x02, 0x00}, true);
        EXPECT_TRUE(port_.Open()) << port_.LastError();
        port_.SetReceiveHandler([this](const bus::CanFrame& frame) {
            for (const bus::CanFrame& reply : server_.OnFrame(frame, {}).frames)
                port_.Send(reply);
        });
    }
    ~QtNode() { port_.SetReceiveHandler(nullptr); }
    copntest::SmallDictionary dictionary;

private:
    bus::QtCanPort port_;
    bus::canopen::SdoServer server_; // used on the port's I/O thread only
};

TEST(CopnVirtualCan, AMasterOnAVirtualBusReachesItsNodesAtEveryBitRate) {
    QTemporaryDir dir;
    const std::string trace = dir.filePath("trace.log").toStdString();
    QtNode node;
    InterfaceRecord record{};
    record.interfaceType = drivercore::VirtualCan;
    record.SetAccessPoint(virtualBus());
    std::uint32_t h = 0;
    {
        ScopedEnvironment tracing(bus::CanTrace::EnvironmentVariable, trace.c_str());
        ASSERT_EQ(OpenInterface(&h, &record), 1);
    }
    ASSERT_EQ(SetOnline(h, 1), 1);
    std::uint32_t deviceType = 0;
    EXPECT_EQ(SDO_Upload_UNSIGNED32(h, 3, 0x1000, 0, &deviceType), 1);
    EXPECT_EQ(deviceType, 0x00020192u);

    // A new bit rate opens the device again with it; the master goes on.
    ASSERT_EQ(SetBaud(h, 250000), 1);
    std::uint32_t rate = 0;
    EXPECT_EQ(GetBaud(h, &rate), 1);
    EXPECT_EQ(rate, 250000u);
    deviceType = 0;
    EXPECT_EQ(SDO_Upload_UNSIGNED32(h, 3, 0x1000, 0, &deviceType), 1);
    EXPECT_EQ(deviceType, 0x00020192u);
    EXPECT_EQ(CloseCard(h), 1);

    const std::vector<std::string> traced = lines(trace);
    EXPECT_TRUE(contains(traced, virtualBus() + " 603#4000100000000000"));
    EXPECT_TRUE(contains(traced, virtualBus() + " 583#4300100092010200"));
}

} // namespace
