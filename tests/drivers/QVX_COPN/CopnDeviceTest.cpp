// The CANopen driver on a Qt CAN device of the test's own, opened through the exports as a
// SocketCAN interface: a device that holds ten frames at most and refuses more until they
// have gone, one that vanishes, one that refuses a bit rate.

#include "BusPrinters.h"
#include "CopnDriver.h"
#include "CopnExports.h"
#include "HangGuards.h"
#include "InterfaceRecord.h"
#include "LastError.h"
#include "QtCanPort.h"
#include "TestCanDevice.h"
#include "canopen/Sdo.h"

#include <chrono>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;
using bus::CanFrame;
using cantest::TestCanBus;
using cantest::TestDeviceSettings;

// The SocketCAN interface "testcan0", whose devices are the test's own, and the handles the
// test opened on it (closed at the end).
class CopnOnATestDevice {
public:
    explicit CopnOnATestDevice(TestDeviceSettings settings = {}) : bus(settings) {
        record.interfaceType = drivercore::SocketCan;
        record.SetAccessPoint("testcan0");
    }
    ~CopnOnATestDevice() {
        for (const std::uint32_t h : handles)
            CloseCard(h);
    }

    // What "Start Network Access" does: open the interface and go online.
    std::uint32_t Start() {
        std::uint32_t h = 0;
        EXPECT_EQ(OpenInterface(&h, &record), 1);
        EXPECT_EQ(SetOnline(h, 1), 1);
        handles.push_back(h);
        return h;
    }
    bus::QtCanPort* Port(std::uint32_t h) {
        const auto interface = copn::Library().Registry().Find(h);
        return interface ? dynamic_cast<bus::QtCanPort*>(interface->Master().Port().get())
                         : nullptr;
    }

    TestCanBus bus;
    cantest::ProvidedPlugin plugin{"socketcan", bus};
    InterfaceRecord record{};
    std::vector<std::uint32_t> handles;
};

// The network search resets the communication of every node-ID that is not listed (here all
// but the master's own, 1, and node 5), and guarding asks every node in turn: each of those
// frames reaches the wire, in order, though the device holds ten at a time.
TEST(CopnOnAQtDevice, EveryFrameOfTheNetworkSearchAndOfAGuardRoundReachesTheWire) {
    CopnOnATestDevice device;
    const std::uint32_t h = device.Start();
    std::vector<CanFrame> expected;
    for (std::uint8_t node = 2; node <= 127; ++node) {
        if (node == 5)
            continue;
        ASSERT_EQ(NMT_ResetCommunication(h, node), 1) << int(node);
        expected.push_back(CanFrame::Data(0x000, {0x82, node}));
    }
    for (std::uint8_t node = 1; node <= 127; ++node) {
        ASSERT_EQ(NMT_NodeGuard(h, node), 1) << int(node);
        expected.push_back(CanFrame::Remote(static_cast<std::uint16_t>(0x700 + node), 1));
    }
    EXPECT_EQ(device.bus.WaitForWire(expected.size()), expected);
    EXPECT_TRUE(device.bus.WaitForRefusal());
}

// A device that vanishes: its nodes are offline at once, transfers and commands fail at once,
// and stopping and starting network access opens a fresh device.
TEST(CopnOnAQtDevice, ADeviceThatVanishesTakesItsNodesOfflineUntilNetworkAccessStartsAgain) {
    CopnOnATestDevice device;
    const std::uint32_t h = device.Start();
    ASSERT_EQ(AddNode(h, 5), 1);
    ASSERT_EQ(SetSDOTimeout(h, 60000), 1); // longer than the test waits
    device.bus.Receive(QCanBusFrame(0x705, QByteArray::fromHex("05"))); // its heartbeat
    ASSERT_TRUE(eventually([&] { return NodeOnline(h, 5) == 1; }));

    device.bus.Vanish();
    EXPECT_EQ(NodeOnline(h, 5), 0);
    std::uint32_t online = 9;
    EXPECT_EQ(GetNodeOnline(h, 5, &online), 1);
    EXPECT_EQ(online, 0u);
    auto upload = std::async(std::launch::async, [&] {
        std::uint32_t value = 0;
        SetLastError(0);
        const std::int32_t result = SDO_Upload_UNSIGNED32(h, 5, 0x1000, 0, &value);
        return std::make_pair(result, GetLastError());
    });
    const auto [result, lastError] = finished(upload);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(lastError, bus::canopen::SdoAbort::General);
    EXPECT_EQ(NMT_ResetCommunication(h, 5), 0);

    // Stop Network Access, Start Network Access.
    EXPECT_EQ(SetOnline(h, 0), 1);
    EXPECT_EQ(CloseCard(h), 1);
    device.handles.clear();
    const std::size_t before = device.bus.Wire().size();
    const std::uint32_t again = device.Start();
    ASSERT_EQ(NMT_ResetCommunication(again, 5), 1);
    EXPECT_EQ(device.bus.WaitForWire(before + 1).back(), CanFrame::Data(0x000, {0x82, 5}));
}

// SetBaud opens the device again with the rate; a rate the device refuses, whether it says
// so when the rate is set or when it connects, fails SetBaud, and the interface goes on at
// the rate it had.
TEST(CopnOnAQtDevice, SetBaudFailsForARateTheDeviceRefuses) {
    for (const bool whenConnecting : {false, true}) {
        SCOPED_TRACE(whenConnecting ? "refused when connecting" : "refused when set");
        TestDeviceSettings settings;
        settings.refusedBitRate = 250000;
        settings.refusesWhenConnecting = whenConnecting;
        CopnOnATestDevice device(settings);
        const std::uint32_t h = device.Start();
        ASSERT_EQ(SetBaud(h, 500000), 1);
        EXPECT_EQ(device.bus.LastBitRate(), 500000u);
        EXPECT_EQ(SetBaud(h, 250000), 0);
        std::uint32_t rate = 0;
        EXPECT_EQ(GetBaud(h, &rate), 1);
        EXPECT_EQ(rate, 500000u);
        ASSERT_EQ(NMT_ResetCommunication(h, 5), 1);
        EXPECT_EQ(device.bus.WaitForWire(1), std::vector<CanFrame>{CanFrame::Data(0, {0x82, 5})});
    }
}

// A frame the device refuses waits for room as long as the master waits for an answer: the
// SDO time-out, on the device the interface has now.
TEST(CopnOnAQtDevice, TheSdoTimeOutIsHowLongARefusedFrameWaits) {
    CopnOnATestDevice device;
    const std::uint32_t h = device.Start();
    ASSERT_NE(device.Port(h), nullptr);
    EXPECT_EQ(device.Port(h)->SendPatience(), copn::Master::DefaultSdoTimeout);
    ASSERT_EQ(SetSDOTimeout(h, 1234), 1);
    EXPECT_EQ(device.Port(h)->SendPatience(), 1234ms);
    ASSERT_EQ(SetBaud(h, 125000), 1);
    EXPECT_EQ(device.Port(h)->SendPatience(), 1234ms);
}

} // namespace
