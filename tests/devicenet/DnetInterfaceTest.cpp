#include "FakeDnetDriver.h"
#include "Qvx_dnet_interface.h"

#include <QTemporaryDir>
#include <dlfcn.h>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <set>

namespace {

// The driver's names in the order the binding looks them up.
const Calls DriverLookUps = {
    "UnloadDriver",
    "LoadDriver",
    "OpenCard",
    "OpenInterface",
    "CloseCard",
    "CloseInterface",
    "Hardware_Version",
    "Firmware_Version",
    "DLL_Version",
    "DLL_Name",
    "GetAttribute",
    "GetAttribute_USINT",
    "GetAttribute_SINT",
    "GetAttribute_UINT",
    "GetAttribute_INT",
    "GetAttribute_UDINT",
    "GetAttribute_DINT",
    "GetAttribute_REAL",
    "GetAttribute_DOUBLE",
    "SetAttribute",
    "SetAttribute_USINT",
    "SetAttribute_SINT",
    "SetAttribute_UINT",
    "SetAttribute_INT",
    "SetAttribute_UDINT",
    "SetAttribute_DINT",
    "SetAttribute_REAL",
    "SetAttribute_DOUBLE",
    "ExplicitService",
    "SetBaud",
    "GetBaud",
    "SetOnline",
    "GetOnline",
    "SetMacID",
    "GetMacID",
    "CloseCard",
    "NodeOnline",
    "ReleaseAll",
    "Allocate",
    "Allocate_UCMM",
    "Release",
    "SetExplicitActive",
    "SetPollActive",
    "SetStrobeActive",
    "SetCOSCyclicActive",
    "GetPollActive",
    "GetStrobeActive",
    "GetCOSCyclicActive",
    "AddToScanlist",
    "RemoveFromScanlist",
    "SetPollInterval",
    "SetStrobeInterval",
    "GetPollInterval",
    "GetStrobeInterval",
    "SetIOConsumeData",
    "GetIOConsumeData",
    "GetIOProduceData",
    "CalculateResponseMaxMinAvg",
    "ResetConnectionCounters",
    "Reset_NodeConnectionTimers",
    "GetConnectionSize",
    "StartScan",
    "StopScan",
    "Allocate_MS_Connection_Set",
    "Release_MS_Connection_Set",
    "DeviceNetConfigurationWindow",
    "ReadConfiguration",
    "SaveConfiguration",
    "HardwareConfigurationWindow",
    "GetInterfaceName",
    "VersionInformationWindow",
    "UCMM_CloseConnection",
};

// The names whose entry point the binding left empty.
std::set<std::string> emptySlots(const TQVX_DNET_Interface& binding) {
    std::set<std::string> empty;
#define QVX_DNET_CHECK_SLOT(name, type)                                                            \
    if (!binding.Driver.name)                                                                      \
        empty.insert(#name);
#define QVX_DNET_NOTHING(name, type)
    QVX_DNET_EXPORTS(QVX_DNET_CHECK_SLOT, QVX_DNET_NOTHING)
#undef QVX_DNET_NOTHING
#undef QVX_DNET_CHECK_SLOT
    return empty;
}

class DnetInterfaceTest : public testing::Test {
protected:
    void SetUp() override { Load(FAKE_DNET_DIR); }

    void Load(const char* folder) { LoadOverFake(binding, fake, folder); }

    FakeDnetDriver fake;
    std::unique_ptr<TQVX_DNET_Interface> binding;
};

TEST_F(DnetInterfaceTest, LooksUpTheDriversNamesInOrderAndFindsEveryOne) {
    EXPECT_EQ(Calls(std::begin(TQVX_DNET_Interface::ExportNames),
                    std::end(TQVX_DNET_Interface::ExportNames)),
              DriverLookUps);
    EXPECT_NE(binding->DriverModule, nullptr);
    EXPECT_EQ(emptySlots(*binding), std::set<std::string>{});
    EXPECT_TRUE(fake.AllCalls().empty()); // looking up calls nothing
}

TEST_F(DnetInterfaceTest, ALibraryWithoutNodeOnlineLeavesOnlyThatSlotEmpty) {
    Load(FAKE_DNET_NONODEONLINE_DIR);
    EXPECT_EQ(emptySlots(*binding), std::set<std::string>{"NodeOnline"});
    std::uint32_t present = 7;
    EXPECT_EQ(binding->NodeOnline(3, &present), 0);
    EXPECT_EQ(present, 7u);
    EXPECT_EQ(binding->StartScan(), 1);
    EXPECT_EQ(fake.AllCalls(), Calls{"StartScan(0)"});
}

struct WrapperCase {
    const char* export_;
    std::function<std::int32_t(TQVX_DNET_Interface&)> call;
    std::string seen; // the call as the driver saw it
};
void PrintTo(const WrapperCase& c, std::ostream* os) {
    *os << c.export_;
}

const std::vector<WrapperCase>& wrapperCases() {
    static const std::vector<WrapperCase> cases = {
        {"GetAttribute",
         [](auto& b) {
             std::uint8_t buffer[256];
             std::uint16_t length = sizeof buffer;
             return b.GetAttribute(63, 0x1C7, 0x201, 0x302, &length, buffer);
         },
         "GetAttribute(77,63,0x1C7,513,770,256)"},
        {"GetAttribute_USINT",
         [](auto& b) {
             std::uint8_t value = 0;
             return b.GetAttribute_USINT(3, 0xC7, 1, 14, &value);
         },
         "GetAttribute_USINT(77,3,0xC7,1,14)"},
        {"GetAttribute_UINT",
         [](auto& b) {
             std::uint16_t value = 0;
             return b.GetAttribute_UINT(3, 0x01, 1, 3, &value);
         },
         "GetAttribute_UINT(77,3,0x01,1,3)"},
        {"GetAttribute_UDINT",
         [](auto& b) {
             std::uint32_t value = 0;
             return b.GetAttribute_UDINT(3, 0xC7, 1, 17, &value);
         },
         "GetAttribute_UDINT(77,3,0xC7,1,17)"},
        {"SetAttribute",
         [](auto& b) {
             const std::uint8_t data[] = {3, 0xFE};
             return b.SetAttribute(3, 0xC7, 1, 3, 2, data);
         },
         "SetAttribute(77,3,0xC7,1,3,2,03 FE)"},
        {"SetAttribute_USINT", [](auto& b) { return b.SetAttribute_USINT(3, 0xC7, 1, 7, 0xAB); },
         "SetAttribute_USINT(77,3,0xC7,1,7,171)"},
        {"SetAttribute_UDINT",
         [](auto& b) { return b.SetAttribute_UDINT(3, 0xC7, 1, 18, 0xDEADBEEF); },
         "SetAttribute_UDINT(77,3,0xC7,1,18,3735928559)"},
        {"ExplicitService",
         [](auto& b) {
             const std::uint8_t request[] = {9};
             std::uint8_t response[256];
             std::uint16_t length = sizeof response;
             return b.ExplicitService(3, 0x05, 0x01, 1, 1, request, &length, response);
         },
         "ExplicitService(77,3,0x05,0x01,1,1,09,256)"},
        {"SetBaud",
         [](auto& b) {
             b.networkSettings.BaudRate = 0x0107A120; // all 32 bits go
             return b.SetBaud();
         },
         "SetBaud(77,17277216)"},
        {"SetMacID",
         [](auto& b) {
             b.networkSettings.MacId = 0x1234; // only the low byte goes
             return b.SetMacID();
         },
         "SetMacID(77,52)"},
        {"SetOnline", [](auto& b) { return b.SetOnline(1); }, "SetOnline(77,1)"},
        {"NodeOnline",
         [](auto& b) {
             std::uint32_t present = 0;
             return b.NodeOnline(63, &present);
         },
         "NodeOnline(77,63)"},
        {"AddToScanlist",
         [](auto& b) {
             ScanlistEntryParams params = {{48, 32, 1000, 65535}};
             return b.AddToScanlist(9, 0x81, &params);
         },
         "AddToScanlist(77,9,129,48,32,1000,65535)"},
        {"RemoveFromScanlist", [](auto& b) { return b.RemoveFromScanlist(9, 0); },
         "RemoveFromScanlist(77,9,0)"},
        {"StartScan", [](auto& b) { return b.StartScan(); }, "StartScan(77)"},
        {"StopScan", [](auto& b) { return b.StopScan(); }, "StopScan(77)"},
        {"CloseCard", [](auto& b) { return b.CloseCard(); }, "CloseCard(77)"},
        {"OpenInterface",
         [](auto& b) {
             b.interfaceConfig.InterfaceType = 9;
             return b.OpenInterface();
         },
         "OpenInterface(9)"},
        {"DeviceNetConfigurationWindow",
         [](auto& b) {
             b.interfaceConfig.InterfaceType = 9;
             b.networkSettings = {5, 250000, {}};
             return b.DeviceNetConfigurationWindow();
         },
         "DeviceNetConfigurationWindow(9,5,250000)"},
        {"HardwareConfigurationWindow",
         [](auto& b) { return b.HardwareConfigurationWindow(0xCAFEF00D); },
         "HardwareConfigurationWindow(3405705229)"},
        {"ReadConfiguration", [](auto& b) { return b.ReadConfiguration("\\Key\\"); },
         "ReadConfiguration(\\Key\\)"},
        {"SaveConfiguration",
         [](auto& b) {
             b.interfaceConfig.InterfaceType = 9;
             b.networkSettings = {5, 250000, {}};
             return b.SaveConfiguration("\\Key\\");
         },
         "SaveConfiguration(\\Key\\,9,5,250000)"},
        {"GetInterfaceName",
         [](auto& b) {
             char text[256];
             b.interfaceConfig.InterfaceType = 0x01000002;
             return b.GetInterfaceName(text);
         },
         "GetInterfaceName(16777218)"},
        {"VersionInformationWindow", [](auto& b) { return b.VersionInformationWindow(); },
         "VersionInformationWindow(77)"},
    };
    return cases;
}

class DnetWrapperTest : public DnetInterfaceTest, public testing::WithParamInterface<WrapperCase> {
protected:
    void SetUp() override {
        DnetInterfaceTest::SetUp();
        binding->driverHandle = 77;
        fake.SetIdentity(3, {});
        fake.SetValue(3, 0xC7, 14, 1, 1);
        fake.SetValue(3, 0xC7, 17, 0x10000, 4);
        fake.SetBytes(63, 0x1C7, 0x302, {1}, 0x201);
    }
};

TEST_P(DnetWrapperTest, ReachesTheDriverAsCalledAndPassesItsResultOn) {
    fake.SetResult(GetParam().export_, 7);
    EXPECT_EQ(GetParam().call(*binding), 7);
    EXPECT_EQ(fake.AllCalls(), Calls{GetParam().seen});
}

TEST_P(DnetWrapperTest, ReturnsZeroWithoutCallingWhenTheExportIsMissing) {
    binding->Driver = {};
    EXPECT_EQ(GetParam().call(*binding), 0);
    EXPECT_TRUE(fake.AllCalls().empty());
}

INSTANTIATE_TEST_SUITE_P(Exports, DnetWrapperTest, testing::ValuesIn(wrapperCases()),
                         [](const auto& info) { return std::string(info.param.export_); });

TEST_F(DnetInterfaceTest, OpenInterfaceKeepsTheHandleOnlyWhenTheDriverOpened) {
    binding->driverHandle = 5;
    fake.SetResult("OpenInterface", 0);
    EXPECT_EQ(binding->OpenInterface(), 0);
    EXPECT_EQ(binding->driverHandle, 5u);
    fake.SetResult("OpenInterface", 1);
    EXPECT_EQ(binding->OpenInterface(), 1);
    EXPECT_EQ(binding->driverHandle, 256u);
    EXPECT_EQ(binding->CloseCard(), 1);
    EXPECT_EQ(binding->driverHandle, 256u); // kept after closing
}

TEST(DnetInterfaceWithoutLibrary, EveryWrapperReturnsZero) {
    QTemporaryDir empty;
    std::unique_ptr<TQVX_DNET_Interface> binding;
    {
        DriverFolder use(empty.path().toStdString());
        binding = std::make_unique<TQVX_DNET_Interface>();
    }
    EXPECT_EQ(binding->DriverModule, nullptr);
    EXPECT_EQ(emptySlots(*binding).size(), 71u);
    for (const auto& c : wrapperCases())
        EXPECT_EQ(c.call(*binding), 0) << c.export_;
    EXPECT_EQ(binding->ReadNodeIdentity(3), 0);
    EXPECT_EQ(binding->Unload(), 0);
    binding.reset(); // nothing to close or free
}

TEST_F(DnetInterfaceTest, DestructorClosesUnloadsAndFreesTheLibrary) {
    binding->driverHandle = 0x42;
    binding.reset();
    EXPECT_EQ(fake.AllCalls(), (Calls{"CloseCard(66)", "UnloadDriver()"}));
    fake.Detach(); // the test's own reference
    void* stillLoaded =
        dlopen(FAKE_DNET_DIR "/libQVX_DNET.so", RTLD_NOW | RTLD_NOLOAD | RTLD_LOCAL);
    EXPECT_EQ(stillLoaded, nullptr);
    if (stillLoaded)
        dlclose(stillLoaded);
}

// Identity reads.

struct IdentitySnapshot {
    std::uint16_t vendorId, deviceType, productCode, revision;
    std::uint32_t serialNumber;
    std::string productName;

    static IdentitySnapshot Of(const DnetNodeIdentity& id) {
        return {id.vendorId, id.deviceType,   id.productCode,
                id.revision, id.serialNumber, id.ProductNameText()};
    }
    static IdentitySnapshot Of(const FakeDnetDriver::Identity& id) {
        return {id.vendorId,     id.deviceType,
                id.productCode,  static_cast<std::uint16_t>(id.major << 8 | id.minor),
                id.serialNumber, id.productName};
    }
    bool operator==(const IdentitySnapshot&) const = default;
};

void PrintTo(const IdentitySnapshot& s, std::ostream* os) {
    *os << "{" << s.vendorId << ", " << s.deviceType << ", " << s.productCode << ", " << s.revision
        << ", " << s.serialNumber << ", \"" << s.productName << "\"}";
}

const FakeDnetDriver::Identity firstIdentity{729, 12, 0x1FE2, 1, 10, 11, "First Node"};
const FakeDnetDriver::Identity secondIdentity{730, 0, 0x9FE2, 3, 2, 22, "Second"};

Calls identityCalls(unsigned mac) {
    const std::string at = "(256," + std::to_string(mac) + ",0x01,1,";
    return {"GetAttribute_UINT" + at + "1)",  "GetAttribute_UINT" + at + "2)",
            "GetAttribute_UINT" + at + "3)",  "GetAttribute" + at + "4,2)",
            "GetAttribute_UDINT" + at + "6)", "GetAttribute" + at + "7,256)"};
}

TEST_F(DnetInterfaceTest, ReadNodeIdentityReadsTheSixAttributesInOrder) {
    binding->driverHandle = 256;
    fake.SetIdentity(12, firstIdentity);
    EXPECT_EQ(binding->ReadNodeIdentity(12), 1);
    EXPECT_EQ(fake.AllCalls(), identityCalls(12));
    EXPECT_EQ(IdentitySnapshot::Of(binding->Identity[12]), IdentitySnapshot::Of(firstIdentity));
    EXPECT_EQ(binding->Identity[12].revision, 0x010Au); // major in the high byte
    EXPECT_EQ(IdentitySnapshot::Of(binding->Identity[11]), IdentitySnapshot{});
}

struct PartialReadCase {
    const char* name;
    std::function<void(FakeDnetDriver&)> script;
    std::size_t reads;   // the read that fails is the last one made
    std::size_t updated; // leading fields (vendor, device type, product code, revision,
                         // serial number, product name) that take the second value
};
void PrintTo(const PartialReadCase& c, std::ostream* os) {
    *os << c.name;
}

class PartialIdentityReadTest : public DnetInterfaceTest,
                                public testing::WithParamInterface<PartialReadCase> {};

// A node read once, then read again while one read fails: the read stops there.
TEST_P(PartialIdentityReadTest, StopsAtTheFirstFailureKeepingTheRest) {
    const PartialReadCase& c = GetParam();
    binding->driverHandle = 256;
    fake.SetIdentity(12, firstIdentity);
    ASSERT_EQ(binding->ReadNodeIdentity(12), 1);
    fake.SetIdentity(12, secondIdentity);
    fake.ClearCalls();
    c.script(fake);

    EXPECT_EQ(binding->ReadNodeIdentity(12), 0);
    Calls expected = identityCalls(12);
    expected.resize(c.reads);
    EXPECT_EQ(fake.AllCalls(), expected);
    IdentitySnapshot want = IdentitySnapshot::Of(firstIdentity);
    const IdentitySnapshot second = IdentitySnapshot::Of(secondIdentity);
    if (c.updated > 0)
        want.vendorId = second.vendorId;
    if (c.updated > 1)
        want.deviceType = second.deviceType;
    if (c.updated > 2)
        want.productCode = second.productCode;
    if (c.updated > 3)
        want.revision = second.revision;
    if (c.updated > 4)
        want.serialNumber = second.serialNumber;
    EXPECT_EQ(IdentitySnapshot::Of(binding->Identity[12]), want);
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, PartialIdentityReadTest,
    testing::Values(
        PartialReadCase{"VendorFails", [](auto& f) { f.QueueResults("GetAttribute_UINT", {0}); }, 1,
                        0},
        PartialReadCase{"ProductCodeFails",
                        [](auto& f) {
                            f.QueueResults("GetAttribute_UINT", {1, 1, 0});
                        },
                        3, 2},
        PartialReadCase{"RevisionOfOneByte", [](auto& f) { f.SetBytes(12, 0x01, 4, {3}); }, 4, 3},
        PartialReadCase{"RevisionOfNoBytes", [](auto& f) { f.SetBytes(12, 0x01, 4, {}); }, 4, 3},
        PartialReadCase{"SerialNumberFails", [](auto& f) { f.SetResult("GetAttribute_UDINT", 0); },
                        5, 4},
        PartialReadCase{"ProductNameFails",
                        [](auto& f) {
                            f.QueueResults("GetAttribute", {1, 0});
                        },
                        6, 5}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DnetInterfaceTest, ProductNameIsTheShortStringAsReceived) {
    struct Case {
        std::vector<std::uint8_t> received;
        std::string text;
    };
    for (const Case& c : {
             Case{{5, 'V', 'a', 'l', 'v', 'e'}, "Valve"},
             Case{{2, 'V', 'a', 'l', 'v', 'e'}, "Va"}, // as many as the length byte gives
             Case{{9, 'V', 'a'}, "Va"},                // no further than the bytes received
             Case{{0}, ""},
             Case{{}, ""},
         }) {
        fake.SetIdentity(12, firstIdentity);
        fake.SetBytes(12, 0x01, 7, c.received);
        ASSERT_EQ(binding->ReadNodeIdentity(12), 1);
        EXPECT_EQ(binding->Identity[12].ProductNameText(), c.text)
            << testing::PrintToString(c.received);
    }
}

TEST_F(DnetInterfaceTest, NoIdentityPastMacId63) {
    EXPECT_EQ(binding->ReadNodeIdentity(64), 0);
    EXPECT_EQ(binding->ReadNodeIdentity(255), 0);
    EXPECT_TRUE(fake.AllCalls().empty());
}

} // namespace
