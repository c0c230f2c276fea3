// The exports of the CANopen driver over a master on the tests' own bus: what they pass on,
// what they refuse, and the last-error they leave.

#include "CopnExports.h"

#include "BusLog.h"
#include "BusPrinters.h"
#include "CopnDriver.h"
#include "CopnErrors.h"
#include "CopnTestBus.h"
#include "DynamicLibrary.h"
#include "HangGuards.h"
#include "InterfaceRecord.h"
#include "LastError.h"
#include "ManualClock.h"
#include "Qvx_copn_exports.h"
#include "ScopedEnvironment.h"

#include <QLoggingCategory>
#include <atomic>
#include <cstring>
#include <functional>
#include <future>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using bustest::BusLog;
using copntest::TestNode;

// A handle on a master on the test's bus, online, with node 3 there.
class CopnExportsTest : public testing::Test {
protected:
    void SetUp() override {
        h = copn::Library().Register(
            copn::Library().OpenOnPort(std::shared_ptr<bus::CanPort>(bus.Attach()), clock.Clock()));
        ASSERT_NE(h, 0u);
        ASSERT_EQ(SetOnline(h, 1), 1);
    }
    void TearDown() override { CloseCard(h); }

    copn::Master& master() { return copn::Library().Registry().Find(h)->MasterAs<copn::Master>(); }

    bus::SimulatedBus bus;
    ManualClock clock;
    BusLog log{bus};
    TestNode node{bus, 3};
    std::uint32_t h = 0;
};

// SDO_Block_Transfer writes and reads an entry in blocks, tells its progress as the node
// acknowledges, and a progress that says stop aborts the transfer and keeps the old value.
TEST_F(CopnExportsTest, BlockTransferWritesReadsAndStopsWhenTold) {
    std::vector<std::uint8_t> value(3000);
    for (std::size_t i = 0; i < value.size(); ++i)
        value[i] = static_cast<std::uint8_t>(i * 7 + 1);
    struct Told {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> calls;
        bool stop = false;
    } told;
    auto progress = [](void* context, std::uint32_t done, std::uint32_t total) -> std::int32_t {
        auto* t = static_cast<Told*>(context);
        t->calls.emplace_back(done, total);
        return t->stop ? 0 : 1;
    };

    std::uint32_t length = static_cast<std::uint32_t>(value.size());
    std::uint32_t went = 99;
    ASSERT_EQ(SDO_Block_Transfer(h, 3, 0x3606, 0, 0, &length, value.data(), progress, &told, &went),
              1);
    EXPECT_EQ(went, QVX_COPN_WENT_BLOCK);
    EXPECT_EQ(node.dictionary.Read(0x3606, 0).data, value);
    ASSERT_GE(told.calls.size(), 2u); // 3,000 bytes are more than three sub-blocks of 127
    for (std::size_t i = 0; i < told.calls.size(); ++i) {
        EXPECT_EQ(told.calls[i].second, 3000u);
        if (i > 0) {
            EXPECT_GT(told.calls[i].first, told.calls[i - 1].first);
        }
    }
    EXPECT_EQ(told.calls.back().first, 3000u);

    std::vector<std::uint8_t> read(4096, 0);
    length = static_cast<std::uint32_t>(read.size());
    went = 99;
    ASSERT_EQ(SDO_Block_Transfer(h, 3, 0x3606, 0, QVX_COPN_BLOCK_UPLOAD, &length, read.data(),
                                 nullptr, nullptr, &went),
              1);
    EXPECT_EQ(went, QVX_COPN_WENT_BLOCK);
    read.resize(length);
    EXPECT_EQ(read, value);

    std::vector<std::uint8_t> other(3000, 0x55);
    told = {};
    told.stop = true;
    length = static_cast<std::uint32_t>(other.size());
    SetLastError(0);
    EXPECT_EQ(
        SDO_Block_Transfer(h, 3, 0x3606, 0, 0, &length, other.data(), progress, &told, nullptr), 0);
    EXPECT_EQ(GetLastError(), 0x08000000u);
    EXPECT_EQ(told.calls.size(), 1u);
    EXPECT_EQ(node.dictionary.Read(0x3606, 0).data, value);
}

TEST_F(CopnExportsTest, SettingsInRangeAreTakenAndOthersRefused) {
    struct Case {
        const char* name;
        std::function<std::int32_t()> call;
        std::int32_t result;
    };
    const Case cases[] = {
        {"node-ID 0", [&] { return SetNodeID(h, 0); }, 0},
        {"node-ID 128", [&] { return SetNodeID(h, 128); }, 0},
        {"node-ID 1", [&] { return SetNodeID(h, 1); }, 1},
        {"node-ID 127", [&] { return SetNodeID(h, 127); }, 1},
        {"9999 bit/s", [&] { return SetBaud(h, 9999); }, 0},
        {"1000001 bit/s", [&] { return SetBaud(h, 1000001); }, 0},
        {"10 kbit/s", [&] { return SetBaud(h, 10000); }, 1},
        {"1 Mbit/s", [&] { return SetBaud(h, 1000000); }, 1},
        {"SDO time-out 0", [&] { return SetSDOTimeout(h, 0); }, 0},
        {"SDO time-out 1 ms", [&] { return SetSDOTimeout(h, 1); }, 1},
        {"SDO time-out 65535 ms", [&] { return SetSDOTimeout(h, 65535); }, 1},
        {"add node 0", [&] { return AddNode(h, 0); }, 0},
        {"add node 128", [&] { return AddNode(h, 128); }, 0},
        {"add node 127", [&] { return AddNode(h, 127); }, 1},
        {"remove a node not added", [&] { return RemoveNode(h, 126); }, 0},
        {"NMT to node 128", [&] { return NMT_ResetNode(h, 128); }, 0},
        {"another handle", [&] { return SetNodeID(h + 1, 5); }, 0},
        {"handle 0", [&] { return SetOnline(0, 1); }, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.call(), c.result) << c.name;
    std::uint8_t id = 0;
    std::uint32_t rate = 0;
    EXPECT_EQ(GetNodeID(h, &id), 1);
    EXPECT_EQ(id, 127);
    EXPECT_EQ(GetBaud(h, &rate), 1);
    EXPECT_EQ(rate, 1000000u);
    EXPECT_EQ(master().SdoTimeout(), 65535ms);
    EXPECT_EQ(GetNodeID(h, nullptr), 0);
    EXPECT_EQ(GetBaud(h + 1, &rate), 0);
    bus.WaitIdle();
    EXPECT_EQ(log.Count(), 0u);
}

// A call that fails writes nothing to its out-parameters.
TEST_F(CopnExportsTest, RefusedQueriesLeaveTheirOutputsAlone) {
    std::uint32_t value = 0xDEADBEEF;
    std::uint8_t byte = 0xA5;
    std::uint32_t length = 16;
    std::uint8_t data[16] = {};
    struct Case {
        const char* name;
        std::function<std::int32_t()> call;
    };
    const Case cases[] = {
        {"online of a node not added",
         [&] {
             return GetNodeOnline(h, 5, &value);
         }},
        {"online of node 0",
         [&] {
             return GetNodeOnline(h, 0, &value);
         }},
        {"online without an output",
         [&] {
             return GetNodeOnline(h, 3, nullptr);
         }},
        {"boot-up of node 128",
         [&] {
             return GetNodeBootUpDetected(h, 128, &value);
         }},
        {"state never seen",
         [&] {
             return GetNodeState(h, 3, &byte);
         }},
        {"upload from node 0",
         [&] {
             return SDO_Upload_UNSIGNED32(h, 0, 0x1000, 0, &value);
         }},
        {"upload from node 128",
         [&] {
             return SDO_Upload_UNSIGNED8(h, 128, 0x1001, 0, &byte);
         }},
        {"upload from another handle",
         [&] {
             return SDO_Upload_UNSIGNED32(h + 1, 3, 0x1000, 0, &value);
         }},
        {"upload without an output",
         [&] {
             return SDO_Upload_UNSIGNED32(h, 3, 0x1000, 0, nullptr);
         }},
        {"four bytes read as UNSIGNED8",
         [&] {
             return SDO_Upload_UNSIGNED8(h, 3, 0x1000, 0, &byte);
         }},
        {"one byte read as UNSIGNED32",
         [&] {
             return SDO_Upload_UNSIGNED32(h, 3, 0x1001, 0, &value);
         }},
        {"an entry the node lacks",
         [&] {
             return SDO_Upload_UNSIGNED32(h, 3, 0x2000, 0, &value);
         }},
        {"text without a length",
         [&] {
             return SDO_Upload(h, 3, 0x1008, 0, nullptr, data);
         }},
        {"text without a buffer",
         [&] {
             return SDO_Upload(h, 3, 0x1008, 0, &length, nullptr);
         }},
        {"text from an entry the node lacks",
         [&] {
             return SDO_Upload(h, 3, 0x2000, 0, &length, data);
         }},
        {"block upload",
         [&] {
             return SDO_Block_Upload(h, 3, 0x1008, 0, &length, data);
         }},
        {"PDO read",
         [&] {
             return PDO_Read(h, 0x183, &byte, data);
         }},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.call(), 0) << c.name;
        EXPECT_EQ(value, 0xDEADBEEF) << c.name;
        EXPECT_EQ(byte, 0xA5) << c.name;
        EXPECT_EQ(length, 16u) << c.name;
    }
    EXPECT_EQ(std::vector<std::uint8_t>(data, data + 16), std::vector<std::uint8_t>(16, 0));
}

TEST_F(CopnExportsTest, TypedValuesTravelLittleEndian) {
    node.dictionary.Set(0x2001, 0, {0, 0});
    node.dictionary.Set(0x2002, 0, {0, 0, 0, 0});
    node.dictionary.Set(0x2003, 0, {0});
    EXPECT_EQ(SDO_Download_UNSIGNED16(h, 3, 0x2001, 0, 0xBEEF), 1);
    EXPECT_EQ(node.dictionary.Value(0x2001, 0), (std::vector<std::uint8_t>{0xEF, 0xBE}));
    EXPECT_EQ(SDO_Download_INTEGER32(h, 3, 0x2002, 0, -2), 1);
    EXPECT_EQ(node.dictionary.Value(0x2002, 0),
              (std::vector<std::uint8_t>{0xFE, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(SDO_Download_INTEGER8(h, 3, 0x2003, 0, -128), 1);
    EXPECT_EQ(node.dictionary.Value(0x2003, 0), std::vector<std::uint8_t>{0x80});

    std::uint16_t u16 = 0;
    std::int16_t i16 = 0;
    std::int32_t i32 = 0;
    std::int8_t i8 = 0;
    std::uint32_t u32 = 0;
    std::uint8_t u8 = 0;
    float real = 0;
    EXPECT_EQ(SDO_Upload_UNSIGNED16(h, 3, 0x2001, 0, &u16), 1);
    EXPECT_EQ(u16, 0xBEEF);
    EXPECT_EQ(SDO_Upload_INTEGER16(h, 3, 0x2001, 0, &i16), 1);
    EXPECT_EQ(i16, static_cast<std::int16_t>(0xBEEF));
    EXPECT_EQ(SDO_Upload_INTEGER32(h, 3, 0x2002, 0, &i32), 1);
    EXPECT_EQ(i32, -2);
    EXPECT_EQ(SDO_Upload_INTEGER8(h, 3, 0x2003, 0, &i8), 1);
    EXPECT_EQ(i8, -128);
    EXPECT_EQ(SDO_Upload_UNSIGNED32(h, 3, 0x1000, 0, &u32), 1);
    EXPECT_EQ(u32, 0x00020192u);
    EXPECT_EQ(SDO_Upload_UNSIGNED8(h, 3, 0x2003, 0, &u8), 1);
    EXPECT_EQ(u8, 0x80);
    node.dictionary.Set(0x2004, 0, {0x00, 0x00, 0xC0, 0x3F}); // 1.5f
    EXPECT_EQ(SDO_Upload_REAL32(h, 3, 0x2004, 0, &real), 1);
    EXPECT_EQ(real, 1.5f);
}

// An expedited answer may leave its size out (e=1, s=0): all four bytes come, and the entry's
// own type takes its low bytes.
TEST_F(CopnExportsTest, TypedUploadsTakeExpeditedAnswersWithoutASize) {
    copntest::ScriptedNode quiet(bus, 5);
    quiet.On("605#4011360000000000", {"585#4211360008000000"})
        .On("605#400C100000000000", {"585#420C1000E8030000"})
        .On("605#4000100000000000", {"585#4200100092010200"});
    std::uint8_t width = 0;
    std::uint16_t guardTime = 0;
    std::uint32_t deviceType = 0;
    EXPECT_EQ(SDO_Upload_UNSIGNED8(h, 5, 0x3611, 0, &width), 1);
    EXPECT_EQ(width, 8);
    EXPECT_EQ(SDO_Upload_UNSIGNED16(h, 5, 0x100C, 0, &guardTime), 1);
    EXPECT_EQ(guardTime, 1000);
    EXPECT_EQ(SDO_Upload_UNSIGNED32(h, 5, 0x1000, 0, &deviceType), 1);
    EXPECT_EQ(deviceType, 0x00020192u);
    EXPECT_TRUE(quiet.ScriptDone());

    // A stated size that does not fit the type is still refused.
    quiet.On("605#4011360000000000", {"585#4B11360008000000"});
    EXPECT_EQ(SDO_Upload_UNSIGNED8(h, 5, 0x3611, 0, &width), 0);
}

// A failed transfer leaves its abort code in the caller's last-error value, so that the
// program can tell an entry the node lacks from a node that did not answer.
TEST_F(CopnExportsTest, AFailedTransferLeavesItsAbortCode) {
    std::uint32_t value = 0;
    SetLastError(0);
    EXPECT_EQ(SDO_Upload_UNSIGNED32(h, 3, 0x360E, 0, &value), 0);
    EXPECT_EQ(GetLastError(), 0x06020000u); // object does not exist
    SetLastError(0);
    EXPECT_EQ(SDO_Download_UNSIGNED32(h, 3, 0x1000, 0, 1), 0);
    EXPECT_EQ(GetLastError(), 0x06010002u); // read-only

    ASSERT_EQ(SetSDOTimeout(h, 20), 1);
    node.Silence();
    SetLastError(0);
    auto running = std::async(std::launch::async, [&] {
        const std::int32_t result = SDO_Upload_UNSIGNED32(h, 3, 0x3611, 0, &value);
        return std::pair(result, GetLastError());
    });
    ASSERT_TRUE(log.WaitFor("603#4011360000000000"));
    ASSERT_TRUE(eventually([&] { return master().TransferWaits(3); }));
    clock.Advance(20ms);
    master().Poke();
    EXPECT_EQ(finished(running), std::pair(0, 0x05040000u)); // timed out
}

TEST_F(CopnExportsTest, UploadWritesAtMostTheCapacityAndSaysHowMuch) {
    std::uint8_t data[256];
    std::memset(data, 0xEE, sizeof data);
    std::uint32_t length = 4;
    ASSERT_EQ(SDO_Upload(h, 3, 0x1008, 0, &length, data), 1);
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), 4), "ZAND");
    EXPECT_EQ(data[4], 0xEE);
    length = 256;
    ASSERT_EQ(SDO_Upload(h, 3, 0x1008, 0, &length, data), 1);
    EXPECT_EQ(length, 10u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), 10), "ZANDREL-N3");
    EXPECT_EQ(data[10], 0xEE);
    length = 0;
    EXPECT_EQ(SDO_Upload(h, 3, 0x1008, 0, &length, nullptr), 1); // read, nothing kept
    EXPECT_EQ(length, 0u);

    const std::uint8_t record[38] = {2, 2, 0x45, 0x23, 0x01, 0x20};
    EXPECT_EQ(SDO_Download(h, 3, 0x3600, 0, sizeof record, record), 1);
    EXPECT_EQ(node.dictionary.Value(0x3600, 0), std::vector<std::uint8_t>(record, record + 38));
    EXPECT_EQ(SDO_Download(h, 3, 0x3600, 0, 0, record), 0);
    EXPECT_EQ(SDO_Download(h, 3, 0x3600, 0, 4, nullptr), 0);
}

TEST_F(CopnExportsTest, NodesThroughTheExports) {
    std::uint32_t online = 9;
    EXPECT_EQ(NMT_StartGuarding(h, 3, 1, 1000), 0); // not added: nothing sent
    ASSERT_EQ(AddNode(h, 3), 1);
    EXPECT_EQ(GetNodeOnline(h, 3, &online), 1);
    EXPECT_EQ(online, 0u);
    EXPECT_EQ(NodeOnline(h, 3), 0);
    std::uint32_t detected = 9;
    EXPECT_EQ(GetNodeBootUpDetected(h, 3, &detected), 1);
    EXPECT_EQ(detected, 0u);

    node.BootUp();
    bus.WaitIdle();
    EXPECT_EQ(GetNodeOnline(h, 3, &online), 1);
    EXPECT_EQ(online, 1u);
    EXPECT_EQ(NodeOnline(h, 3), 1);
    EXPECT_EQ(GetNodeBootUpDetected(h, 3, &detected), 1);
    EXPECT_EQ(detected, 1u);
    EXPECT_EQ(ClearNodeBootUpDetected(h, 3), 1);
    EXPECT_EQ(GetNodeBootUpDetected(h, 3, &detected), 1);
    EXPECT_EQ(detected, 0u);

    EXPECT_EQ(NMT_StartGuarding(h, 3, 1, 1000), 1);
    EXPECT_EQ(node.dictionary.Value(0x100C, 0), (std::vector<std::uint8_t>{0xE8, 0x03}));
    EXPECT_EQ(node.dictionary.Value(0x100D, 0), std::vector<std::uint8_t>{0x01});
    NMT_StopRemoteNode(h, 3);
    EXPECT_EQ(NMT_NodeGuard(h, 3), 1);
    bus.WaitIdle();
    master().Poke();
    bus.WaitIdle();
    std::uint8_t state = 0;
    EXPECT_EQ(GetNodeState(h, 3, &state), 1);
    EXPECT_EQ(state, 0x7F); // the test node does not act on NMT commands
    EXPECT_EQ(NMT_StopGuarding(h, 3), 1);
    EXPECT_EQ(RemoveNode(h, 3), 1);
    EXPECT_EQ(GetNodeOnline(h, 3, &online), 0);
    EXPECT_EQ(NMT_ResetCommunication(h, 0), 1);
    bus.WaitIdle();
    EXPECT_EQ(log.With({0x000}), (std::vector<std::string>{"000#0203", "000#8200"}));
}

TEST_F(CopnExportsTest, ATimeOutFailsTheTransfer) {
    ASSERT_EQ(SetSDOTimeout(h, 20), 1);
    node.Silence();
    std::uint32_t value = 7;
    auto running = std::async(std::launch::async,
                              [&] { return SDO_Upload_UNSIGNED32(h, 3, 0x1000, 0, &value); });
    ASSERT_TRUE(log.WaitFor("603#4000100000000000"));
    ASSERT_TRUE(eventually([&] { return master().TransferWaits(3); }));
    clock.Advance(20ms);
    master().Poke();
    EXPECT_EQ(finished(running), 0);
    EXPECT_EQ(value, 7u);
}

// Closing the interface ends a transfer that waits for its node, and the handle with it.
TEST_F(CopnExportsTest, CloseCardEndsAWaitingTransfer) {
    node.Silence();
    std::uint32_t value = 7;
    auto running = std::async(std::launch::async,
                              [&] { return SDO_Upload_UNSIGNED32(h, 3, 0x1000, 0, &value); });
    ASSERT_TRUE(log.WaitFor("603#4000100000000000"));
    EXPECT_EQ(OpenCard(h), 1);
    EXPECT_EQ(CloseCard(h), 1);
    EXPECT_EQ(finished(running), 0);
    EXPECT_EQ(OpenCard(h), 0);
    EXPECT_EQ(CloseCard(h), 0);
    EXPECT_EQ(SetOnline(h, 1), 0);
}

TEST_F(CopnExportsTest, EveryExportMayBeCalledFromSeveralThreadsAtOnce) {
    TestNode other(bus, 5);
    ASSERT_EQ(AddNode(h, 3), 1);
    ASSERT_EQ(AddNode(h, 5), 1);
    auto transfers = [&](std::uint8_t n) {
        int done = 0;
        for (int i = 0; i < 30; ++i) {
            const std::uint8_t record[12] = {n, static_cast<std::uint8_t>(i)};
            std::uint32_t type = 0;
            done += SDO_Download(h, n, 0x3600, 0, sizeof record, record) +
                    SDO_Upload_UNSIGNED32(h, n, 0x1000, 0, &type);
        }
        return done;
    };
    std::atomic<bool> stop{false};
    auto poll = std::async(std::launch::async, [&] {
        int polls = 0;
        while (!stop.load()) {
            for (std::uint8_t n = 1; n <= 127; ++n) {
                std::uint32_t online;
                GetNodeOnline(h, n, &online);
            }
            ++polls;
        }
        return polls;
    });
    auto three = std::async(std::launch::async, transfers, 3);
    auto five = std::async(std::launch::async, transfers, 5);
    auto threeAgain = std::async(std::launch::async, transfers, 3);
    EXPECT_EQ(finished(three), 60);
    EXPECT_EQ(finished(five), 60);
    EXPECT_EQ(finished(threeAgain), 60);
    stop.store(true);
    EXPECT_GT(finished(poll), 0);
    EXPECT_EQ(NodeOnline(h, 3), 1);
    EXPECT_EQ(NodeOnline(h, 5), 1);
}

// While it lives, the CAN plugins' own warnings are not shown: the failures here are meant.
class QuietCanPlugins {
public:
    QuietCanPlugins() { QLoggingCategory::setFilterRules("qt.canbus.plugins.*.warning=false"); }
    ~QuietCanPlugins() { QLoggingCategory::setFilterRules(QString()); }
};

// A port that opened but cannot send leaves "interface not in correct mode" in the
// last-error; one that does not open at all, another code.
TEST(CopnOpenTest, AnInterfaceThatCannotSendIsNotInTheCorrectMode) {
    bus::SimulatedBus bus;
    for (const bool listenOnly : {true, false}) {
        std::shared_ptr<bus::SimulatedPort> port = bus.Attach();
        (listenOnly ? port->SetListenOnly(true) : port->SetBusOff(true));
        SetLastError(0);
        testing::internal::CaptureStderr();
        EXPECT_EQ(copn::Library().Register(copn::Library().OpenOnPort(port)), 0u);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(GetLastError(), drivercore::ErrorWrongMode);
        EXPECT_NE(said.find(listenOnly ? "listen-only" : "bus-off"), std::string::npos) << said;
    }

    // One that turns bus-off after it opened cannot go online.
    std::shared_ptr<bus::SimulatedPort> port = bus.Attach();
    const std::uint32_t h = copn::Library().Register(copn::Library().OpenOnPort(port));
    ASSERT_NE(h, 0u);
    port->SetBusOff(true);
    SetLastError(0);
    EXPECT_EQ(SetOnline(h, 1), 0);
    EXPECT_EQ(GetLastError(), drivercore::ErrorWrongMode);
    std::uint32_t online = 9;
    EXPECT_EQ(GetOnline(h, &online), 1);
    EXPECT_EQ(online, 0u);
    port->SetBusOff(false);
    EXPECT_EQ(SetOnline(h, 1), 1);
    EXPECT_EQ(GetOnline(h, &online), 1);
    EXPECT_EQ(online, 1u);
    EXPECT_EQ(CloseCard(h), 1);
}

TEST(CopnOpenTest, AnInterfaceThatDoesNotOpenIsRefusedWithItsReason) {
    struct Case {
        std::uint32_t type;
        const char* device;
        const char* reasonHas;
    };
    const Case cases[] = {
        {drivercore::SocketCan, "zandrelnone9", "zandrelnone9"}, // no such interface
        {drivercore::SocketCan, "", "no SocketCAN interface is named"},
        {drivercore::VirtualCan, "tcp://127.0.0.1:1/can7", "can7"}, // a channel the plugin lacks
        {7, "can0", "interface type 7 is unknown"},
    };
    QuietCanPlugins quiet;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.device);
        InterfaceRecord record{};
        record.interfaceType = c.type;
        record.SetAccessPoint(c.device);
        std::uint32_t h = 12345;
        SetLastError(0);
        testing::internal::CaptureStderr();
        EXPECT_EQ(OpenInterface(&h, &record), 0);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(h, 12345u);
        EXPECT_EQ(GetLastError(), drivercore::ErrorCannotOpen);
        EXPECT_NE(said.find(c.reasonHas), std::string::npos) << said;
    }
    EXPECT_EQ(OpenInterface(nullptr, nullptr), 0);
}

TEST(CopnLibraryTest, TheLibraryExportsEveryNameTheProgramLooksUp) {
    // Every name the program looks up, from its own table.
#define COPN_NAME(name, type) #name,
    const char* names[] = {QVX_COPN_EXPORTS(COPN_NAME)};
    static_assert(std::size(names) == 70);
    HMODULE library = nullptr;
    {
        ScopedEnvironment drivers(DriverPathVariable, DRIVER_DIR);
        library = LoadLibraryA("QVX_COPN.dll");
    }
    ASSERT_NE(library, nullptr) << LastLibraryLoadError();
    for (const char* name : names)
        EXPECT_NE(GetProcAddress(library, name), nullptr) << name;
    const char* programNames[] = {QVX_COPN_PROGRAM_EXPORTS(COPN_NAME)};
    for (const char* name : programNames)
        EXPECT_NE(GetProcAddress(library, name), nullptr) << name;

    // The real library leaves its last-error in the program's.
    using OpenFn = std::int32_t (*)(std::uint32_t*, void*);
    auto open = reinterpret_cast<OpenFn>(GetProcAddress(library, "OpenInterface"));
    InterfaceRecord record{};
    record.interfaceType = 7;
    std::uint32_t h = 0;
    SetLastError(0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(open(&h, &record), 0);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(GetLastError(), drivercore::ErrorCannotOpen);
    FreeLibrary(library);
}

TEST(CopnLibraryTest, NamesAndTexts) {
    char text[256];
    struct Case {
        std::uint32_t type;
        const char* name;
    };
    for (const Case& c :
         {Case{0, "Simulated network"}, Case{1, "SocketCAN"}, Case{2, "Virtual CAN"}}) {
        std::memset(text, 'x', sizeof text);
        EXPECT_EQ(GetInterfaceName(c.type, text), 1);
        EXPECT_STREQ(text, c.name);
    }
    std::strcpy(text, "kept");
    EXPECT_EQ(GetInterfaceName(3, text), 0);
    EXPECT_EQ(GetInterfaceName(drivercore::ProvidedPort, text), 0);
    EXPECT_STREQ(text, "kept");
    EXPECT_EQ(GetInterfaceName(0, nullptr), 0);

    EXPECT_EQ(GetErrorString(0x20000000, text), 1);
    EXPECT_STREQ(text, "interface not in correct mode");
    EXPECT_EQ(GetErrorString(0x05040000, text), 1); // an SDO abort code
    EXPECT_NE(std::string(text).find("timed out"), std::string::npos) << text;
    EXPECT_EQ(GetErrorString(0x12345678, text), 0);

    std::uint32_t major = 0, minor = 0;
    EXPECT_EQ(DLL_Version(0, &major, &minor), 1);
    EXPECT_EQ(major * 100 + minor, 204u);
    EXPECT_EQ(DLL_Name(0, text), 1);
    EXPECT_STREQ(text, "QVX_COPN");
    EXPECT_EQ(Hardware_Version(0, &major, &minor), 0); // no interface open under handle 0
    EXPECT_EQ(LoadDriver(), 1);
}

} // namespace
