// Both simulated networks, on the in-process bus, take a node's answer delay and the [bus]
// section from their network file. Frames are written out from CiA 301 and the DeviceNet
// message layouts (an allocation request of the predefined master/slave connection set and
// its success response).

#include "BusListener.h"
#include "CanopenSimulation.h"
#include "DevicenetSimulation.h"
#include "ManualClock.h"
#include "SimulatedBus.h"

#include <QDir>
#include <QTemporaryDir>
#include <algorithm>
#include <condition_variable>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>

namespace {

using bus::CanFrame;

using simtest::Listener;

enum class Network { Canopen, Devicenet };

struct Case {
    const char* what;
    Network network;
    const char* file;
    int delayMilliseconds;           // how long the clock must move before anything comes
    std::vector<std::string> bootUp; // what the nodes say when switched on
    std::string request;
    std::vector<std::string> answers;
};

class NetworkBehaviourTest : public testing::Test {
public:
    void Start(const Case& c) {
        canopen.reset();
        devicenet.reset();
        const std::string folder =
            root.path().toStdString() + "/network-" + std::to_string(++started);
        QDir().mkpath(QString::fromStdString(folder));
        std::ofstream(folder + "/network.ini") << c.file;
        std::string error;
        if (c.network == Network::Canopen) {
            canopen = sim::CanopenSimulation::Start(bus.Attach(), folder, &error, clock.Clock());
            ASSERT_NE(canopen, nullptr) << error;
        } else {
            devicenet =
                sim::DevicenetSimulation::Start(bus.Attach(), folder, &error, clock.Clock());
            ASSERT_NE(devicenet, nullptr) << error;
        }
    }
    void Advance(int milliseconds) {
        clock.Advance(std::chrono::milliseconds(milliseconds));
        if (canopen)
            canopen->Poke();
        if (devicenet)
            devicenet->Poke();
    }
    // The frames, and nothing else, once they have all come.
    void Expect(const std::vector<std::string>& frames) {
        ASSERT_TRUE(master.HeardAll(frames));
        bus.WaitIdle();
        EXPECT_EQ(master.Take(), frames);
    }

    QTemporaryDir root;
    ManualClock clock;
    bus::SimulatedBus bus;
    Listener master{bus};
    std::unique_ptr<sim::CanopenSimulation> canopen;
    std::unique_ptr<sim::DevicenetSimulation> devicenet;
    int started = 0;
};

TEST_F(NetworkBehaviourTest, AnswerDelaysAndBusFaultsReachBothNetworks) {
    const std::vector<Case> cases = {
        {"CANopen, no keys: at once",
         Network::Canopen,
         "[node 3]\n",
         0,
         {"703#00"},
         "603#4000100000000000",
         {"583#4300100091010000"}},
        {"CANopen, answer_delay_ms=300: the boot-up and the answer come late",
         Network::Canopen,
         "[node 3]\nanswer_delay_ms=300\n",
         300,
         {"703#00"},
         "603#4000100000000000",
         {"583#4300100091010000"}},
        {"CANopen, duplicate_every=3: frame 3, the answer, comes twice",
         Network::Canopen,
         "[node 3]\n[bus]\nduplicate_every=3\n",
         0,
         {"703#00"},
         "603#4000100000000000",
         {"583#4300100091010000", "583#4300100091010000"}},
        {"CANopen, lose_every=2: the request is lost",
         Network::Canopen,
         "[bus]\nlose_every=2\n[node 3]\n",
         0,
         {"703#00"},
         "603#4000100000000000",
         {}},
        {"DeviceNet, no keys: at once",
         Network::Devicenet,
         "[node 3]\nduplicate_mac_check=no\n",
         0,
         {},
         "41E#004B03010100",
         {"41B#00CB00"}},
        {"DeviceNet, answer_delay_ms=300: the answer comes late",
         Network::Devicenet,
         "[node 3]\nduplicate_mac_check=no\nanswer_delay_ms=300\n",
         300,
         {},
         "41E#004B03010100",
         {"41B#00CB00"}},
        {"DeviceNet, duplicate_every=2: frame 2, the answer, comes twice",
         Network::Devicenet,
         "[bus]\nduplicate_every=2\n[node 3]\nduplicate_mac_check=no\n",
         0,
         {},
         "41E#004B03010100",
         {"41B#00CB00", "41B#00CB00"}},
        {"DeviceNet, delay_every=2, delay_ms=300: the answer comes late",
         Network::Devicenet,
         "[node 3]\nduplicate_mac_check=no\n[bus]\ndelay_every=2\ndelay_ms=300\n",
         300,
         {},
         "41E#004B03010100",
         {"41B#00CB00"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Start(c);
        bus.WaitIdle();
        if (c.delayMilliseconds) {
            EXPECT_EQ(master.Take(), std::vector<std::string>{});
            Advance(c.delayMilliseconds);
        }
        Expect(c.bootUp);
        master.Send(c.request);
        bus.WaitIdle();
        if (c.delayMilliseconds) {
            EXPECT_EQ(master.Take(), std::vector<std::string>{}); // the node has it, and waits
            Advance(c.delayMilliseconds);
        }
        Expect(c.answers);
    }
}

// lose_once loses the first frame of each of its patterns, and no later one.
TEST_F(NetworkBehaviourTest, LoseOnceLosesTheFirstFrameOfEachPattern) {
    Start({"", Network::Canopen, "[bus]\nlose_once=583#43,583#60\n[node 3]\n", 0, {}, "", {}});
    Expect({"703#00"});
    const std::string read = "603#4000100000000000";
    master.Send(read);
    bus.WaitIdle();
    EXPECT_EQ(master.Take(), std::vector<std::string>{}); // the first answer is lost
    master.Send(read);
    Expect({"583#4300100091010000"});
    master.Send(read);
    Expect({"583#4300100091010000"});
}

} // namespace
