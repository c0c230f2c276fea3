#include "QtCanPort.h"

#include "BusPrinters.h"
#include "CanTrace.h"
#include "HangGuards.h"
#include "TestCanDevice.h"

#include <QLoggingCategory>
#include <QTemporaryDir>
#include <algorithm>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;
using bus::CanFrame;
using bus::PortState;
using bus::QtCanPort;
using cantest::TestCanBus;
using cantest::TestDeviceSettings;

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

std::vector<std::string> readLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool virtualCanInstalled() {
    const auto plugins = QtCanPort::AvailablePlugins();
    return std::find(plugins.begin(), plugins.end(), "virtualcan") != plugins.end();
}

TEST(QtCanPort, TwoPortsOnAVirtualBusSeeEachOthersFramesInOrder) {
    Received atMaster, atNode; // outlives the ports, whose delivery threads call it
    ASSERT_TRUE(virtualCanInstalled());
    QtCanPort master("virtualcan", virtualBus());
    QtCanPort node("virtualcan", virtualBus());
    ASSERT_TRUE(master.Open()) << master.LastError();
    ASSERT_TRUE(node.Open()) << node.LastError();
    EXPECT_EQ(master.State(), PortState::Active);
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
    Received atPeer; // outlives the ports, whose delivery threads call it
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
    peer.SetReceiveHandler(atPeer.Handler());
    ASSERT_TRUE(port.Send(CanFrame::Data(0x100, {1})));
    EXPECT_EQ(atPeer.WaitFor(1), std::vector<CanFrame>{CanFrame::Data(0x100, {1})});
}

TEST(QtCanPort, ListenOnlyPortReceivesButDoesNotSend) {
    Received heard; // outlives the ports, whose delivery threads call it
    bus::QtCanPortOptions options;
    options.listenOnly = true;
    QtCanPort listener("virtualcan", virtualBus(), options);
    QtCanPort talker("virtualcan", virtualBus());
    ASSERT_TRUE(listener.Open()) << listener.LastError();
    ASSERT_TRUE(talker.Open()) << talker.LastError();
    EXPECT_EQ(listener.State(), PortState::ListenOnly);
    EXPECT_FALSE(listener.Send(CanFrame::Data(0x100, {1})));
    EXPECT_NE(listener.LastError().find("only listens"), std::string::npos);
    listener.SetReceiveHandler(heard.Handler());
    ASSERT_TRUE(talker.Send(CanFrame::Data(0x181, {5, 6})));
    EXPECT_EQ(heard.WaitFor(1), std::vector<CanFrame>{CanFrame::Data(0x181, {5, 6})});
}

TEST(QtCanPort, TracesWhatItWritesAndWhatItReceivesUnderTheInterfaceName) {
    Received got; // outlives the ports, whose delivery threads call it
    QTemporaryDir dir;
    const std::string path = dir.filePath("qt.log").toStdString();
    setenv(bus::CanTrace::EnvironmentVariable, path.c_str(), 1);
    QtCanPort sender("virtualcan", virtualBus());
    QtCanPort receiver("virtualcan", virtualBus());
    const bool opened = sender.Open() && receiver.Open();
    unsetenv(bus::CanTrace::EnvironmentVariable);
    ASSERT_TRUE(opened) << sender.LastError() << receiver.LastError();
    receiver.SetReceiveHandler(got.Handler());
    ASSERT_TRUE(sender.Send(*bus::ParseCandump("603#230F36002B1A0000")));
    ASSERT_EQ(got.WaitFor(1).size(), 1u);
    sender.Close();
    receiver.Close();

    const std::vector<std::string> lines = readLines(path);
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

// --- A device of the test's own -------------------------------------------------------------

// A port on a device of the test's own, opened; the device's bus outlives the port.
class TestDevicePort {
public:
    explicit TestDevicePort(TestDeviceSettings settings = {}, bus::QtCanPortOptions options = {})
        : bus(settings), port("testcan", "testcan0", options) {}

    // The frames on the wire, in candump's words.
    std::vector<std::string> WireTexts(std::size_t count) const {
        std::vector<std::string> texts;
        for (const CanFrame& frame : bus.WaitForWire(count))
            texts.push_back(bus::ToCandump(frame));
        return texts;
    }

    TestCanBus bus;
    cantest::ProvidedPlugin plugin{"testcan", bus};
    QtCanPort port;
};

// What the program sends in bursts: the network search's Reset Communication to every
// node-ID but the master's own and one listed node, and a round of guard requests.
std::vector<CanFrame> networkSearch() {
    std::vector<CanFrame> frames;
    for (int node = 1; node <= 127; ++node)
        if (node != 1 && node != 5)
            frames.push_back(CanFrame::Data(0x000, {0x82, static_cast<std::uint8_t>(node)}));
    return frames;
}

std::vector<CanFrame> guardRequests() {
    std::vector<CanFrame> frames;
    for (int node = 1; node <= 127; ++node)
        frames.push_back(CanFrame::Remote(static_cast<std::uint16_t>(0x700 + node), 1));
    return frames;
}

// The device holds ten frames at most and refuses more until some have gone; every frame of
// a burst reaches the wire all the same, in order, with the send patience users have.
TEST(QtCanPortOnAFullQueue, EveryFrameOfABurstReachesTheWireInOrder) {
    const struct {
        const char* name;
        std::vector<CanFrame> frames;
    } cases[] = {{"network search", networkSearch()}, {"guard requests", guardRequests()}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestDevicePort device;
        ASSERT_TRUE(device.port.Open()) << device.port.LastError();
        for (const CanFrame& frame : c.frames)
            ASSERT_TRUE(device.port.Send(frame)) << device.port.LastError();
        EXPECT_EQ(device.bus.WaitForWire(c.frames.size()), c.frames);
        EXPECT_TRUE(device.bus.WaitForRefusal()); // the queue was full on the way
    }
}

// Several threads at once (the network search, the guarding thread): each one's frames keep
// their order, and none is lost.
TEST(QtCanPortOnAFullQueue, SendersOnSeveralThreadsLoseNoFrame) {
    TestDevicePort device;
    ASSERT_TRUE(device.port.Open()) << device.port.LastError();
    const std::vector<CanFrame> search = networkSearch();
    const std::vector<CanFrame> guards = guardRequests();
    auto send = [&](const std::vector<CanFrame>& frames) {
        for (const CanFrame& frame : frames)
            if (!device.port.Send(frame))
                return false;
        return true;
    };
    auto first = std::async(std::launch::async, send, search);
    auto second = std::async(std::launch::async, send, guards);
    EXPECT_TRUE(finished(first));
    EXPECT_TRUE(finished(second));
    const std::vector<CanFrame> wire = device.bus.WaitForWire(search.size() + guards.size());
    ASSERT_EQ(wire.size(), search.size() + guards.size());
    std::vector<CanFrame> nmt, remote;
    for (const CanFrame& frame : wire)
        (frame.remote ? remote : nmt).push_back(frame);
    EXPECT_EQ(nmt, search);
    EXPECT_EQ(remote, guards);
}

// A queue that never drains: the send fails once the patience has run out, and says why.
TEST(QtCanPortOnAFullQueue, ASendThatTheDeviceKeepsRefusingFailsAfterThePatience) {
    TestDeviceSettings settings;
    settings.drains = false;
    TestDevicePort device(settings);
    EXPECT_EQ(device.port.SendPatience(), 500ms); // what users have until a master sets it
    ASSERT_TRUE(device.port.Open()) << device.port.LastError();
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(device.port.Send(CanFrame::Data(0x100, {static_cast<std::uint8_t>(i)})));
    auto refused = std::async(std::launch::async,
                              [&] { return device.port.Send(CanFrame::Data(0x100, {10})); });
    EXPECT_FALSE(finished(refused));
    EXPECT_NE(device.port.LastError().find("refused frame 100#0A for 500 ms"), std::string::npos)
        << device.port.LastError();
    EXPECT_EQ(device.port.State(), PortState::Active); // full, not gone

    device.port.SetSendPatience(5ms);
    EXPECT_FALSE(device.port.Send(CanFrame::Data(0x100, {11})));
    EXPECT_NE(device.port.LastError().find("for 5 ms"), std::string::npos)
        << device.port.LastError();
}

// A device that goes away fails the send that waits for it at once, whatever the patience,
// and every later one; the port is closed until it is opened again, on a fresh device.
TEST(QtCanPortOnAFullQueue, ADeviceThatVanishesFailsItsSendsAtOnceAndClosesThePort) {
    TestDeviceSettings settings;
    settings.drains = false;
    TestDevicePort device(settings);
    ASSERT_TRUE(device.port.Open()) << device.port.LastError();
    device.port.SetSendPatience(60s); // longer than the test waits
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(device.port.Send(CanFrame::Data(0x100, {static_cast<std::uint8_t>(i)})));
    auto waiting = std::async(std::launch::async,
                              [&] { return device.port.Send(CanFrame::Data(0x100, {10})); });
    ASSERT_TRUE(device.bus.WaitForRefusal());
    device.bus.Vanish();
    EXPECT_FALSE(finished(waiting));
    EXPECT_EQ(device.port.State(), PortState::Closed);
    EXPECT_FALSE(device.port.Send(CanFrame::Data(0x100, {11})));
    EXPECT_NE(device.port.LastError().find(qt_error_string(ENODEV).toStdString()),
              std::string::npos)
        << device.port.LastError();

    ASSERT_TRUE(device.port.Open()) << device.port.LastError();
    EXPECT_EQ(device.port.State(), PortState::Active);
    EXPECT_TRUE(device.port.Send(CanFrame::Data(0x100, {12})));
}

// SocketCAN stays connected when its interface goes down or is unplugged, and refuses every
// frame with that reason: the device is gone, not full.
TEST(QtCanPortOnAFullQueue, ARefusalThatSaysTheDeviceIsGoneClosesThePort) {
    TestDeviceSettings settings;
    settings.down = true;
    TestDevicePort device(settings);
    ASSERT_TRUE(device.port.Open()) << device.port.LastError();
    device.port.SetSendPatience(60s); // longer than the test waits
    auto refused = std::async(std::launch::async,
                              [&] { return device.port.Send(CanFrame::Data(0x100, {1})); });
    EXPECT_FALSE(finished(refused));
    EXPECT_EQ(device.port.State(), PortState::Closed);
    EXPECT_NE(device.port.LastError().find(qt_error_string(ENETDOWN).toStdString()),
              std::string::npos)
        << device.port.LastError();
}

// A receive handler may wait for a lock that a sender holds while its frame waits for room
// in the device's queue: the frame goes all the same, and so does the handler.
TEST(QtCanPortOnAFullQueue, AHandlerWaitingForASendersLockDoesNotHoldUpTheSender) {
    TestDevicePort device;
    ASSERT_TRUE(device.port.Open()) << device.port.LastError();
    std::mutex shared;
    std::promise<void> handled;
    device.port.SetReceiveHandler([&](const CanFrame&) {
        std::lock_guard lock(shared);
        handled.set_value();
    });
    auto sender = std::async(std::launch::async, [&] {
        std::lock_guard lock(shared);
        device.bus.Receive(QCanBusFrame(0x181, QByteArray("\x01", 1)));
        for (int i = 0; i < 40; ++i)
            if (!device.port.Send(CanFrame::Data(0x200, {static_cast<std::uint8_t>(i)})))
                return false;
        return true;
    });
    EXPECT_TRUE(finished(sender));
    EXPECT_EQ(handled.get_future().wait_for(20s), std::future_status::ready);
    EXPECT_EQ(device.bus.WaitForWire(40).size(), 40u);
    device.port.SetReceiveHandler(nullptr);
}

// Received frames reach the handler once each and in their order however they meet the
// delivery thread: one at a time with the thread asleep in between, piled up behind a handler
// that is busy, or while the handler answers each one and so waits for the I/O thread itself.
TEST(QtCanPortDelivery, EveryReceivedFrameReachesTheHandlerOnceInOrder) {
    enum class Arrival : std::uint8_t { OneAtATime, PiledBehindABusyHandler, AnsweredOneByOne };
    const struct {
        const char* name;
        Arrival arrival;
    } cases[] = {
        {"one at a time", Arrival::OneAtATime},
        {"piled behind a busy handler", Arrival::PiledBehindABusyHandler},
        {"answered one by one", Arrival::AnsweredOneByOne},
    };
    constexpr int count = 60;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // What the handler uses outlives the port, whose delivery thread calls it.
        Received got;
        bool first = true; // on the delivery thread only
        std::promise<void> release;
        const std::shared_future<void> released = release.get_future().share();
        TestDevicePort device;
        // Lets a held handler go before the port closes, also when the test stops early.
        struct LetGo {
            std::promise<void>& release;
            bool done = false;
            void operator()() {
                if (!std::exchange(done, true))
                    release.set_value();
            }
            ~LetGo() { (*this)(); }
        } letGo{release};
        ASSERT_TRUE(device.port.Open()) << device.port.LastError();
        device.port.SetReceiveHandler([&, record = got.Handler()](const CanFrame& frame) {
            record(frame);
            if (c.arrival == Arrival::PiledBehindABusyHandler && std::exchange(first, false))
                released.wait();
            if (c.arrival == Arrival::AnsweredOneByOne)
                device.port.Send(CanFrame::Data(0x600, {frame.data[0]}));
        });

        std::vector<CanFrame> expected, answers;
        for (int i = 0; i < count; ++i) {
            const auto n = static_cast<std::uint8_t>(i);
            const auto id = static_cast<std::uint16_t>(0x181 + i % 4);
            expected.push_back(CanFrame::Data(id, {n, 7}));
            answers.push_back(CanFrame::Data(0x600, {n}));
            device.bus.Receive(QCanBusFrame(id, QByteArray(1, static_cast<char>(n)) + '\x07'));
            if (c.arrival == Arrival::OneAtATime) {
                ASSERT_EQ(got.WaitFor(expected.size()).size(), expected.size());
            }
        }
        if (c.arrival == Arrival::PiledBehindABusyHandler) {
            // The I/O thread has handed every frame on before it takes this one: they wait
            // for the delivery thread, which the handler holds.
            ASSERT_TRUE(device.port.Send(CanFrame::Data(0x100, {1}))) << device.port.LastError();
            letGo();
        }
        EXPECT_EQ(got.WaitFor(expected.size()), expected);
        if (c.arrival == Arrival::AnsweredOneByOne) {
            EXPECT_EQ(device.bus.WaitForWire(count), answers);
        }
        device.port.Close();
    }
}

// The device's bit rate is set when it opens; a rate it refuses, when it is set or when it
// connects, fails the open.
TEST(QtCanPortBitRate, ARateTheDeviceRefusesFailsTheOpen) {
    for (const bool whenConnecting : {false, true}) {
        SCOPED_TRACE(whenConnecting ? "refused when connecting" : "refused when set");
        TestDeviceSettings settings;
        settings.refusedBitRate = 250000;
        settings.refusesWhenConnecting = whenConnecting;
        TestCanBus bus(settings);
        cantest::ProvidedPlugin plugin("testcan", bus);
        bus::QtCanPortOptions options;
        options.bitRate = 250000;
        QtCanPort refused("testcan", "testcan0", options);
        EXPECT_FALSE(refused.Open());
        EXPECT_NE(refused.LastError().find("250000"), std::string::npos) << refused.LastError();
        EXPECT_EQ(refused.State(), PortState::Closed);

        options.bitRate = 500000;
        QtCanPort taken("testcan", "testcan0", options);
        EXPECT_TRUE(taken.Open()) << taken.LastError();
        EXPECT_EQ(bus.LastBitRate(), 500000u);
    }
}

// Traced as candump logs them: error frames with the error flag in their identifier, and
// received frames at the time the device gives them.
TEST(QtCanPortTrace, ErrorFramesAndTheDevicesTimeStamps) {
    Received got; // outlives the ports, whose delivery threads call it
    QTemporaryDir dir;
    const std::string path = dir.filePath("device.log").toStdString();
    setenv(bus::CanTrace::EnvironmentVariable, path.c_str(), 1);
    TestDevicePort device;
    const bool opened = device.port.Open();
    unsetenv(bus::CanTrace::EnvironmentVariable);
    ASSERT_TRUE(opened) << device.port.LastError();
    device.port.SetReceiveHandler(got.Handler());

    QCanBusFrame problem(QCanBusFrame::ErrorFrame);
    problem.setError(QCanBusFrame::ControllerError);
    problem.setPayload(QByteArray::fromHex("0004000000000000")); // receive warning level
    problem.setTimeStamp(QCanBusFrame::TimeStamp(1733800000, 120000));
    device.bus.Receive(problem);
    QCanBusFrame stamped(0x181, QByteArray::fromHex("0102"));
    stamped.setTimeStamp(QCanBusFrame::TimeStamp(1733800000, 123456));
    device.bus.Receive(stamped);
    device.bus.Receive(QCanBusFrame(0x182, QByteArray::fromHex("03"))); // no time stamp
    ASSERT_EQ(got.WaitFor(2).size(), 2u);
    device.port.Close();

    const std::vector<std::string> lines = readLines(path);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "(1733800000.120000) testcan0 20000004#0004000000000000");
    EXPECT_EQ(lines[1], "(1733800000.123456) testcan0 181#0102");
    EXPECT_TRUE(std::regex_match(lines[2], std::regex(R"(\(\d{10}\.\d{6}\) testcan0 182#03)")))
        << lines[2];
    EXPECT_NE(lines[2].substr(0, 11), "(1733800000") << "now, not an earlier frame's time";
}

} // namespace
