#include "QtCanPort.h"

#include "BusPrinters.h"
#include "CanTrace.h"

#include <QLoggingCategory>
#include <QTemporaryDir>
#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <regex>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using bus::CanFrame;
using bus::PortState;
using bus::QtCanPort;

// The virtualcan bus of this test program: a TCP port of its own, so that test programs
// running at the same time do not meet on one bus. Every test here uses the same one: the
// bus is served from this process, on the port the first test opened.
std::string virtualBus(int channel = 0) {
    static const int port = 35000 + static_cast<int>(getpid() % 20000);
    return "tcp://127.0.0.1:" + std::to_string(port) + "/can" + std::to_string(channel);
}

// Frames a port received, for the test thread to wait on.
class Received {
public:
    bus::CanPort::ReceiveHandler Handler() {
        return [this](const CanFrame& frame) {
            {
                std::lock_guard lock(mutex_);
                frames_.push_back(frame);
            }
            changed_.notify_all();
        };
    }
    // The first count frames, once they are there; what there is after a long while else.
    std::vector<CanFrame> WaitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(20), [&] { return frames_.size() >= count; });
        return frames_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<CanFrame> frames_;
};

bool virtualCanInstalled() {
    const auto plugins = QtCanPort::AvailablePlugins();
    return std::find(plugins.begin(), plugins.end(), "virtualcan") != plugins.end();
}

TEST(QtCanPort, TwoPortsOnAVirtualBusSeeEachOthersFramesInOrder) {
    ASSERT_TRUE(virtualCanInstalled());
    QtCanPort master("virtualcan", virtualBus());
    QtCanPort node("virtualcan", virtualBus());
    ASSERT_TRUE(master.Open()) << master.LastError();
    ASSERT_TRUE(node.Open()) << node.LastError();
    EXPECT_EQ(master.State(), PortState::Active);
    Received atMaster, atNode;
    master.SetReceiveHandler(atMaster.Handler());
    node.SetReceiveHandler(atNode.Handler());

    const std::vector<CanFrame> sent = {
        *bus::ParseCandump("603#4000100000000000"),
        *bus::ParseCandump("703#R1"),
        *bus::ParseCandump("000#8103"),
        *bus::ParseCandump("123#"),
    };
    for (const CanFrame& frame : sent)
        ASSERT_TRUE(master.Send(frame)) << master.LastError();
    EXPECT_EQ(atNode.WaitFor(sent.size()), sent);

    // The node answers from inside its handler, on the I/O thread.
    node.SetReceiveHandler([&](const CanFrame& frame) {
        if (frame.id == 0x603)
            node.Send(*bus::ParseCandump("583#4300100092010200"));
    });
    ASSERT_TRUE(master.Send(sent[0]));
    const auto replies = atMaster.WaitFor(1);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(bus::ToCandump(replies[0]), "583#4300100092010200");
}

TEST(QtCanPort, ClosedPortSendsNothingAndCanOpenAgain) {
    QtCanPort port("virtualcan", virtualBus());
    EXPECT_FALSE(port.Send(CanFrame::Data(0x100, {1})));
    EXPECT_NE(port.LastError().find("not open"), std::string::npos) << port.LastError();
    ASSERT_TRUE(port.Open()) << port.LastError();
    port.Close();
    EXPECT_EQ(port.State(), PortState::Closed);
    EXPECT_FALSE(port.Send(CanFrame::Data(0x100, {1})));

    QtCanPort peer("virtualcan", virtualBus());
    ASSERT_TRUE(peer.Open()) << peer.LastError();
    ASSERT_TRUE(port.Open()) << port.LastError();
    Received atPeer;
    peer.SetReceiveHandler(atPeer.Handler());
    ASSERT_TRUE(port.Send(CanFrame::Data(0x100, {1})));
    EXPECT_EQ(atPeer.WaitFor(1), std::vector<CanFrame>{CanFrame::Data(0x100, {1})});
}

TEST(QtCanPort, ListenOnlyPortReceivesButDoesNotSend) {
    bus::QtCanPortOptions options;
    options.listenOnly = true;
    QtCanPort listener("virtualcan", virtualBus(), options);
    QtCanPort talker("virtualcan", virtualBus());
    ASSERT_TRUE(listener.Open()) << listener.LastError();
    ASSERT_TRUE(talker.Open()) << talker.LastError();
    EXPECT_EQ(listener.State(), PortState::ListenOnly);
    EXPECT_FALSE(listener.Send(CanFrame::Data(0x100, {1})));
    EXPECT_NE(listener.LastError().find("only listens"), std::string::npos);
    Received heard;
    listener.SetReceiveHandler(heard.Handler());
    ASSERT_TRUE(talker.Send(CanFrame::Data(0x181, {5, 6})));
    EXPECT_EQ(heard.WaitFor(1), std::vector<CanFrame>{CanFrame::Data(0x181, {5, 6})});
}

TEST(QtCanPort, TracesWhatItWritesAndWhatItReceivesUnderTheInterfaceName) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("qt.log").toStdString();
    setenv(bus::CanTrace::EnvironmentVariable, path.c_str(), 1);
    QtCanPort sender("virtualcan", virtualBus());
    QtCanPort receiver("virtualcan", virtualBus());
    const bool opened = sender.Open() && receiver.Open();
    unsetenv(bus::CanTrace::EnvironmentVariable);
    ASSERT_TRUE(opened) << sender.LastError() << receiver.LastError();
    Received got;
    receiver.SetReceiveHandler(got.Handler());
    ASSERT_TRUE(sender.Send(*bus::ParseCandump("603#230F36002B1A0000")));
    ASSERT_EQ(got.WaitFor(1).size(), 1u);
    sender.Close();
    receiver.Close();

    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 2u); // written by one port, received by the other
    const std::regex stamp(R"(^\(\d{10}\.\d{6}\) )");
    for (const std::string& l : lines) {
        EXPECT_TRUE(std::regex_search(l, stamp)) << l;
        EXPECT_EQ(l.substr(l.find(' ') + 1), virtualBus() + " 603#230F36002B1A0000");
    }
}

// While it lives, the CAN plugins' own warnings are not shown: the failures below are
// meant, and Qt says so besides the port (socketcan without libsocketcan, a virtualcan
// channel that does not exist).
class QuietCanPlugins {
public:
    QuietCanPlugins() { QLoggingCategory::setFilterRules("qt.canbus.plugins.*.warning=false"); }
    ~QuietCanPlugins() { QLoggingCategory::setFilterRules(QString()); }
};

TEST(QtCanPort, OpenFailsCleanlyWithAMessage) {
    struct Case {
        const char* plugin;
        const char* interfaceName;
        const char* errorHas;
    };
    const Case cases[] = {
        {"socketcan", "zandrelnone9", ""}, // no such interface (or no CAN at all)
        {"nosuchplugin", "can0", "not installed"},
        {"virtualcan", "tcp://127.0.0.1:1/can7", "can7"}, // a channel the plugin lacks
        {"virtualcan", "tcp://192.0.2.1:35468/can0", "did not connect"}, // nobody serves
    };
    QuietCanPlugins quiet;
    bus::QtCanPortOptions options;
    options.connectTimeout = std::chrono::milliseconds(300);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.plugin) + " " + c.interfaceName);
        QtCanPort port(c.plugin, c.interfaceName, options);
        EXPECT_FALSE(port.Open());
        EXPECT_FALSE(port.LastError().empty());
        EXPECT_NE(port.LastError().find(c.errorHas), std::string::npos) << port.LastError();
        EXPECT_EQ(port.State(), PortState::Closed);
        EXPECT_FALSE(port.Send(CanFrame::Data(0x100, {1})));
    }
}

} // namespace
