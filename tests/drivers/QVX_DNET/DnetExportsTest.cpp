// The exports of the DeviceNet driver over a master on the tests' own bus: what they pass
// on, what they refuse, the last-error they leave; and the real library's names.

#include "DnetExports.h"

#include "BusLog.h"
#include "DnetDriver.h"
#include "DnetErrors.h"
#include "DnetTestBus.h"
#include "DynamicLibrary.h"
#include "HangGuards.h"
#include "InterfaceRecord.h"
#include "LastError.h"
#include "ManualClock.h"
#include "Qvx_dnet_exports.h"
#include "ScopedEnvironment.h"

#include <bit>
#include <cstring>
#include <future>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using bustest::BusLog;
using dnettest::Station;
using dnettest::TestNode;

// A handle on a master on the test's bus, MAC ID 1, with node 5 there.
class DnetExportsTest : public testing::Test {
protected:
    void SetUp() override {
        h = dnet::Library().Register(
            dnet::Library().OpenOnPort(std::shared_ptr<bus::CanPort>(bus.Attach()), clock.Clock()));
        ASSERT_NE(h, 0u);
        ASSERT_EQ(SetMacID(h, 1), 1);
        ASSERT_EQ(GoOnline(), 1);
    }
    void TearDown() override { CloseCard(h); }

    dnet::Master& master() { return dnet::Library().Registry().Find(h)->MasterAs<dnet::Master>(); }

    // SetOnline, with the test's clock moved through the duplicate MAC ID check.
    std::int32_t GoOnline() {
        const std::size_t before = log.Count();
        auto going = std::async(std::launch::async, [&] { return SetOnline(h, 1); });
        for (std::size_t request = 1; request <= 2; ++request) {
            if (!log.WaitUntil([&](const auto& f) { return f.size() >= before + request; }))
                break;
            clock.Advance(1s);
            master().Poke();
        }
        return finished(going);
    }

    bus::SimulatedBus bus;
    ManualClock clock;
    BusLog log{bus};
    TestNode node{bus, 5};
    std::uint32_t h = 0;
};

TEST_F(DnetExportsTest, SettingsInRangeAreTakenAndOthersRefused) {
    std::uint32_t baud = 0;
    EXPECT_EQ(GetBaud(h, &baud), 0); // not set yet
    for (std::uint32_t rate : {0u, 10000u, 124999u, 1000000u})
        EXPECT_EQ(SetBaud(h, rate), 0) << rate;
    for (std::uint32_t rate : {125000u, 250000u, 500000u}) {
        EXPECT_EQ(SetBaud(h, rate), 1) << rate;
        ASSERT_EQ(GetBaud(h, &baud), 1);
        EXPECT_EQ(baud, rate);
    }
    std::uint8_t mac = 0xFF;
    ASSERT_EQ(GetMacID(h, &mac), 1);
    EXPECT_EQ(mac, 1);
    EXPECT_EQ(SetMacID(h, 2), 0); // online
    ASSERT_EQ(SetOnline(h, 0), 1);
    std::uint32_t online = 7;
    ASSERT_EQ(GetOnline(h, &online), 1);
    EXPECT_EQ(online, 0u);
    EXPECT_EQ(SetMacID(h, 64), 0);
    EXPECT_EQ(SetMacID(h, 63), 1);
    EXPECT_EQ(SetMacID(h, 0), 1);
    ASSERT_EQ(GetMacID(h, &mac), 1);
    EXPECT_EQ(mac, 0);
    EXPECT_EQ(SetBaud(h + 1, 125000), 0);
    EXPECT_EQ(OpenCard(h), 1);
    EXPECT_EQ(OpenCard(h + 1), 0);
}

// A value is written whole or not at all: one longer than the buffer fails the call rather
// than pass cut to fit (a check for exactly two bytes could never fail otherwise).
TEST_F(DnetExportsTest, GetAttributeWritesTheValueOnlyWhenItFits) {
    const std::vector<std::uint8_t> untouched(16, 0xEE);
    std::vector<std::uint8_t> data = untouched;
    std::uint16_t length = 0;
    for (std::uint16_t capacity : {0, 4, 9}) { // the product name has 10 bytes
        SCOPED_TRACE(capacity);
        length = capacity;
        EXPECT_EQ(GetAttribute(h, 5, 1, 1, 7, &length, capacity ? data.data() : nullptr), 0);
        EXPECT_EQ(length, capacity);
        EXPECT_EQ(data, untouched);
    }
    for (std::uint16_t capacity : {10, 16}) {
        SCOPED_TRACE(capacity);
        length = capacity;
        ASSERT_EQ(GetAttribute(h, 5, 1, 1, 7, &length, data.data()), 1);
        EXPECT_EQ(length, 10);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(data.data()) + 1, 9), "ZANDREL-D");
        EXPECT_EQ(data[10], 0xEE);
    }
    node.objects.Set(1, 1, 4, {0x01, 0x02, 0x03}); // a revision one byte too long
    length = 2;
    EXPECT_EQ(GetAttribute(h, 5, 1, 1, 4, &length, data.data()), 0);
    EXPECT_EQ(length, 2);

    std::uint8_t response[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    length = 2;
    // data[0] is 9 now: an attribute the node does not have.
    ASSERT_EQ(ExplicitService(h, 5, 0x0E, 1, 1, 1, data.data(), &length, response), 0);
    EXPECT_EQ(length, 2); // a failure leaves it alone
    const std::uint8_t attribute = 3;
    ASSERT_EQ(ExplicitService(h, 5, 0x0E, 1, 1, 1, &attribute, &length, response), 1);
    EXPECT_EQ(length, 2);
    EXPECT_EQ(response[0], 0xE2);
    EXPECT_EQ(response[1], 0x1F);
    EXPECT_EQ(response[2], 0xEE);
    const std::uint8_t name = 7;
    length = sizeof response;
    EXPECT_EQ(ExplicitService(h, 5, 0x0E, 1, 1, 1, &name, &length, response), 0);
    EXPECT_EQ(length, sizeof response);
    EXPECT_EQ(response[2], 0xEE);
}

// CloseCard leaves the network as SetOnline 0 does: the node's connection is released.
TEST_F(DnetExportsTest, CloseCardReleasesTheConnectionsTheMasterHolds) {
    std::uint16_t vendor = 0;
    ASSERT_EQ(GetAttribute_UINT(h, 5, 1, 1, 1, &vendor), 1);
    ASSERT_TRUE(node.Allocated());
    const std::size_t before = log.Count();
    EXPECT_EQ(CloseCard(h), 1);
    bus.WaitIdle();
    EXPECT_EQ(log.From(before), (std::vector<std::string>{"42E#014C030101", "42B#01CC"}));
    EXPECT_FALSE(node.Allocated());
}

TEST_F(DnetExportsTest, TypedValuesTravelLittleEndian) {
    node.objects.Set(0x64, 1, 1, {});
    EXPECT_EQ(SetAttribute_UDINT(h, 5, 0x64, 1, 1, 0x7FFD8001), 1);
    EXPECT_EQ(node.objects.Value(0x64, 1, 1), (std::vector<std::uint8_t>{0x01, 0x80, 0xFD, 0x7F}));
    std::uint32_t udint = 0;
    EXPECT_EQ(GetAttribute_UDINT(h, 5, 0x64, 1, 1, &udint), 1);
    EXPECT_EQ(udint, 0x7FFD8001u);
    std::uint16_t uint = 0;
    EXPECT_EQ(GetAttribute_UINT(h, 5, 0x64, 1, 1, &uint), 0); // four bytes are no UINT
    EXPECT_EQ(uint, 0);

    EXPECT_EQ(SetAttribute_USINT(h, 5, 0x64, 1, 1, 0x03), 1);
    EXPECT_EQ(node.objects.Value(0x64, 1, 1), std::vector<std::uint8_t>{0x03});
    std::int8_t sint = 0;
    EXPECT_EQ(SetAttribute_SINT(h, 5, 0x64, 1, 1, -2), 1);
    EXPECT_EQ(GetAttribute_SINT(h, 5, 0x64, 1, 1, &sint), 1);
    EXPECT_EQ(sint, -2);
    EXPECT_EQ(SetAttribute_UINT(h, 5, 0x64, 1, 1, 0x1234), 1);
    EXPECT_EQ(node.objects.Value(0x64, 1, 1), (std::vector<std::uint8_t>{0x34, 0x12}));
    std::int16_t in = 0;
    EXPECT_EQ(SetAttribute_INT(h, 5, 0x64, 1, 1, -300), 1);
    EXPECT_EQ(GetAttribute_INT(h, 5, 0x64, 1, 1, &in), 1);
    EXPECT_EQ(in, -300);
    std::int32_t dint = 0;
    EXPECT_EQ(SetAttribute_DINT(h, 5, 0x64, 1, 1, -70000), 1);
    EXPECT_EQ(GetAttribute_DINT(h, 5, 0x64, 1, 1, &dint), 1);
    EXPECT_EQ(dint, -70000);
    float real = 0;
    EXPECT_EQ(SetAttribute_REAL(h, 5, 0x64, 1, 1, 1.5f), 1);
    EXPECT_EQ(node.objects.Value(0x64, 1, 1), (std::vector<std::uint8_t>{0x00, 0x00, 0xC0, 0x3F}));
    EXPECT_EQ(GetAttribute_REAL(h, 5, 0x64, 1, 1, &real), 1);
    EXPECT_EQ(real, 1.5f);
    double real64 = 0;
    EXPECT_EQ(SetAttribute_DOUBLE(h, 5, 0x64, 1, 1, -2.25), 1);
    EXPECT_EQ(GetAttribute_DOUBLE(h, 5, 0x64, 1, 1, &real64), 1);
    EXPECT_EQ(real64, -2.25);
    const std::uint8_t bytes[] = {0x02, 0x02, 0x45, 0x23, 0x01};
    EXPECT_EQ(SetAttribute(h, 5, 0x64, 1, 1, sizeof bytes, bytes), 1);
    EXPECT_EQ(node.objects.Value(0x64, 1, 1), std::vector<std::uint8_t>(bytes, bytes + 5));
    std::uint8_t usint = 0;
    EXPECT_EQ(GetAttribute_USINT(h, 5, 1, 1, 1, &usint), 0); // a UINT is no USINT
}

TEST_F(DnetExportsTest, RefusedCallsLeaveTheirOutputsAlone) {
    std::uint16_t value = 0xBEEF;
    std::uint16_t length = 4;
    std::uint8_t data[4] = {};
    std::uint32_t present = 7;
    const struct {
        const char* name;
        std::int32_t result;
    } cases[] = {
        {"a handle not open", GetAttribute_UINT(h + 1, 5, 1, 1, 1, &value)},
        {"a MAC ID over 63", GetAttribute_UINT(h, 64, 1, 1, 1, &value)},
        {"the master itself", GetAttribute_UINT(h, 1, 1, 1, 1, &value)},
        {"an attribute over 255", GetAttribute_UINT(h, 5, 1, 1, 0x101, &value)},
        {"a class too wide for the node", GetAttribute_UINT(h, 5, 0x101, 1, 1, &value)},
        {"no value", GetAttribute_UINT(h, 5, 1, 1, 1, nullptr)},
        {"no length", GetAttribute(h, 5, 1, 1, 1, nullptr, data)},
        {"no buffer", GetAttribute(h, 5, 1, 1, 1, &length, nullptr)},
        {"no request data", ExplicitService(h, 5, 0x0E, 1, 1, 1, nullptr, &length, data)},
        {"a response code as service",
         ExplicitService(h, 5, 0x8E, 1, 1, 0, nullptr, &length, data)},
        {"no data to set", SetAttribute(h, 5, 1, 1, 1, 2, nullptr)},
        {"presence of a MAC ID over 63", NodeOnline(h, 64, &present)},
        {"presence without a flag", NodeOnline(h, 5, nullptr)},
        {"presence on a handle not open", NodeOnline(h + 1, 5, &present)},
        {"the scanlist without the explicit connection", AddToScanlist(h, 5, 0x02, nullptr)},
        {"an I/O allocation", Allocate(h, 5, 0x03)},
        {"UCMM", Allocate_UCMM(h, 5, 0x01)},
        {"poll", SetPollActive(h, 5, 1)},
        {"I/O data", GetIOProduceData(h, 5, &length, data)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.result, 0) << c.name;
    EXPECT_EQ(value, 0xBEEF);
    EXPECT_EQ(length, 4);
    EXPECT_EQ(present, 7u);
}

TEST_F(DnetExportsTest, TheScannerThroughTheExports) {
    const std::uint16_t params[4] = {48, 48, 1000, 2500};
    std::uint32_t present = 7;
    ASSERT_EQ(NodeOnline(h, 5, &present), 1);
    EXPECT_EQ(present, 0u);
    ASSERT_EQ(StartScan(h), 1);
    for (std::uint8_t mac = 0; mac < 64; ++mac)
        ASSERT_EQ(AddToScanlist(h, mac, 0x01, const_cast<std::uint16_t*>(params)), 1);
    ASSERT_TRUE(log.WaitFor("42B#01CB00"));
    const auto limit = std::chrono::steady_clock::now() + 20s;
    while ((NodeOnline(h, 5, &present), present == 0) && std::chrono::steady_clock::now() < limit)
        std::this_thread::yield();
    EXPECT_EQ(present, 1u);
    ASSERT_EQ(NodeOnline(h, 6, &present), 1);
    EXPECT_EQ(present, 0u);

    // The program's restart of the node: absent, out of the scanlist, back in, present.
    std::uint8_t response[256];
    std::uint16_t length = sizeof response;
    ASSERT_EQ(ExplicitService(h, 5, 0x05, 1, 1, 0, nullptr, &length, response), 1);
    EXPECT_EQ(length, 0);
    ASSERT_EQ(NodeOnline(h, 5, &present), 1);
    EXPECT_EQ(present, 0u);
    ASSERT_EQ(RemoveFromScanlist(h, 5, 0x01), 1);
    node.Restart();
    ASSERT_EQ(AddToScanlist(h, 5, 0x01, const_cast<std::uint16_t*>(params)), 1);
    const auto again = std::chrono::steady_clock::now() + 20s;
    while ((NodeOnline(h, 5, &present), present == 0) && std::chrono::steady_clock::now() < again) {
        clock.Advance(250ms);
        master().Poke();
    }
    EXPECT_EQ(present, 1u);
    EXPECT_EQ(StopScan(h), 1);
    ASSERT_EQ(NodeOnline(h, 5, &present), 1);
    EXPECT_EQ(present, 0u);
}

TEST_F(DnetExportsTest, ConnectionsCanBeAllocatedAndReleasedByHand) {
    EXPECT_EQ(Allocate(h, 5, 0x01), 1);
    EXPECT_TRUE(node.Allocated());
    EXPECT_EQ(Release(h, 5, 0x01), 1);
    EXPECT_FALSE(node.Allocated());
    EXPECT_EQ(SetExplicitActive(h, 5, 1), 1);
    EXPECT_TRUE(node.Allocated());
    EXPECT_EQ(ReleaseAll(h), 1);
    EXPECT_FALSE(node.Allocated());
    EXPECT_EQ(Allocate_MS_Connection_Set(h, 5, 0x01), 1);
    EXPECT_EQ(Release_MS_Connection_Set(h, 5, 0x01), 1);
    EXPECT_FALSE(node.Allocated());
}

TEST_F(DnetExportsTest, ADuplicateMacIdFailsSetOnlineWithItsLastError) {
    ASSERT_EQ(SetOnline(h, 0), 1);
    Station other(bus, 1);
    SetLastError(0);
    EXPECT_EQ(SetOnline(h, 1), 0);
    EXPECT_EQ(GetLastError(), dnet::ErrorDuplicateMac);
    std::uint32_t online = 7;
    ASSERT_EQ(GetOnline(h, &online), 1);
    EXPECT_EQ(online, 0u);
    // Another MAC ID is free.
    ASSERT_EQ(SetMacID(h, 2), 1);
    EXPECT_EQ(GoOnline(), 1);
}

TEST_F(DnetExportsTest, CloseCardEndsAWaitingRequest) {
    node.Silence();
    std::uint16_t value = 0;
    auto asking =
        std::async(std::launch::async, [&] { return GetAttribute_UINT(h, 5, 1, 1, 1, &value); });
    ASSERT_TRUE(log.WaitFor("42E#014B03010101"));
    EXPECT_EQ(CloseCard(h), 1);
    EXPECT_EQ(finished(asking), 0);
    EXPECT_EQ(CloseCard(h), 0);
}

TEST(DnetOpenTest, AnInterfaceThatCannotSendIsNotInTheCorrectMode) {
    bus::SimulatedBus bus;
    std::shared_ptr<bus::SimulatedPort> port(bus.Attach());
    port->SetBusOff(true);
    SetLastError(0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(dnet::Library().Register(dnet::Library().OpenOnPort(port)), 0u);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("bus-off"), std::string::npos);
    EXPECT_EQ(GetLastError(), drivercore::ErrorWrongMode);

    InterfaceRecord record{};
    record.interfaceType = 7;
    std::uint32_t h = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(OpenInterface(&h, &record), 0);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("unknown"), std::string::npos);
    EXPECT_EQ(GetLastError(), drivercore::ErrorCannotOpen);
    EXPECT_EQ(h, 0u);
    EXPECT_EQ(OpenInterface(nullptr, &record), 0);
}

TEST(DnetLibraryTest, TheLibraryExportsEveryNameTheProgramLooksUp) {
    // Every name the program looks up, from its own table.
#define DNET_NAME(name, type) #name,
#define DNET_NAME_AGAIN(name, type)
    const char* names[] = {QVX_DNET_EXPORTS(DNET_NAME, DNET_NAME_AGAIN)};
    static_assert(std::size(names) == 71);
    HMODULE library = nullptr;
    {
        ScopedEnvironment drivers(DriverPathVariable, DRIVER_DIR);
        library = LoadLibraryA("QVX_DNET.dll");
    }
    ASSERT_NE(library, nullptr) << LastLibraryLoadError();
    for (const char* name : names)
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

TEST(DnetLibraryTest, NamesAndVersions) {
    char text[256];
    const struct {
        std::uint32_t type;
        const char* name;
    } types[] = {{0, "Simulated network"}, {1, "SocketCAN"}, {2, "Virtual CAN"}};
    for (const auto& t : types) {
        ASSERT_EQ(GetInterfaceName(t.type, text), 1);
        EXPECT_STREQ(text, t.name);
    }
    EXPECT_EQ(GetInterfaceName(3, text), 0);
    EXPECT_EQ(GetInterfaceName(0, nullptr), 0);
    ASSERT_EQ(DLL_Name(0, text), 1);
    EXPECT_STREQ(text, "QVX_DNET");
    std::uint32_t major = 0, minor = 7;
    ASSERT_EQ(DLL_Version(0, &major, &minor), 1);
    EXPECT_EQ(major, 1u);
    EXPECT_EQ(minor, 0u);
    EXPECT_EQ(Hardware_Version(0, &major, &minor), 0); // no such handle
    EXPECT_EQ(LoadDriver(), 1);
    EXPECT_EQ(HardwareConfigurationWindow(0), 0);
}

} // namespace
