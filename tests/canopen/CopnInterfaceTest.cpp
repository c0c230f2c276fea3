#include "FakeCopnDriver.h"
#include "Qvx_copn_interface.h"

#include <QTemporaryDir>
#include <dlfcn.h>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <set>

namespace {

// The driver's names in the order the binding looks them up.
const Calls DriverExportNames = {
    "UnloadDriver",
    "LoadDriver",
    "OpenCard",
    "CloseCard",
    "CloseInterface",
    "Hardware_Version",
    "Firmware_Version",
    "DLL_Version",
    "DLL_Name",
    "GetErrorString",
    "GetOnline",
    "GetBaud",
    "SetOnline",
    "SetBaud",
    "DisplayConfigurationWindow",
    "SetRegistryPath",
    "SetNodeID",
    "GetNodeID",
    "NodeOnline",
    "SDO_Download_UNSIGNED8",
    "SDO_Download_UNSIGNED16",
    "SDO_Download_UNSIGNED32",
    "SDO_Download",
    "SDO_Block_Download",
    "SDO_Upload_UNSIGNED8",
    "SDO_Upload_UNSIGNED16",
    "SDO_Upload_UNSIGNED32",
    "SDO_Upload_REAL32",
    "SDO_Upload",
    "SDO_Block_Upload",
    "NMT_StartRemoteNode",
    "NMT_StopRemoteNode",
    "NMT_EnterPreOperational",
    "NMT_ResetNode",
    "NMT_ResetCommunication",
    "NMT_NodeGuard",
    "CheckEmergency",
    "Sync",
    "TimeStamp",
    "PDO_Write",
    "PDO_Read",
    "SDO_Upload_INTEGER8",
    "SDO_Upload_INTEGER16",
    "SDO_Upload_INTEGER32",
    "SDO_Download_INTEGER8",
    "SDO_Download_INTEGER16",
    "SDO_Download_INTEGER32",
    "NMT_StartGuarding",
    "NMT_StopGuarding",
    "GetNodeBootUpDetected",
    "ClearNodeBootUpDetected",
    "GetNodeState",
    "GetNodeOnline",
    "SetSDOTimeout",
    "SetPDOTimeout",
    "AddNode",
    "RemoveNode",
    "AddPDO",
    "COP_PDO_Read_Data",
    "COP_PDO_Read_Data_wTime",
    "COP_PDO_Write_Data",
    "OpenInterface",
    "HardwareConfigurationWindow",
    "CANopenConfigurationWindow",
    "SaveConfiguration",
    "ReadConfiguration",
    "GetInterfaceName",
    "VersionInformationWindow",
    "PDO_Read_Receive_Count",
    "COP_PDO_Get_Event",
};

// The names whose slot the binding left empty.
std::set<std::string> emptySlots(const TQVX_COPN_Interface& binding) {
    std::set<std::string> empty;
#define QVX_COPN_CHECK_SLOT(name, type)                                                            \
    if (!binding.Driver.name)                                                                      \
        empty.insert(#name);
    QVX_COPN_EXPORTS(QVX_COPN_CHECK_SLOT)
#undef QVX_COPN_CHECK_SLOT
    return empty;
}

class CopnInterfaceTest : public testing::Test {
protected:
    void SetUp() override { Load(FAKE_COPN_DIR); }

    void Load(const char* folder) { LoadOverFake(binding, fake, folder); }

    FakeCopnDriver fake;
    std::unique_ptr<TQVX_COPN_Interface> binding;
};

TEST_F(CopnInterfaceTest, LooksUpTheDriversNamesInOrderAndFindsEveryOne) {
    EXPECT_EQ(Calls(std::begin(TQVX_COPN_Interface::ExportNames),
                    std::end(TQVX_COPN_Interface::ExportNames)),
              DriverExportNames);
    EXPECT_NE(binding->DriverModule, nullptr);
    EXPECT_EQ(emptySlots(*binding), std::set<std::string>{});
    EXPECT_TRUE(fake.AllCalls().empty()); // looking up calls nothing
}

TEST_F(CopnInterfaceTest, ALibraryWithoutGuardingLeavesOnlyThatSlotEmpty) {
    Load(FAKE_COPN_NOGUARD_DIR);
    EXPECT_EQ(emptySlots(*binding), std::set<std::string>{"NMT_StartGuarding"});
    EXPECT_EQ(binding->NMT_StartGuarding(256, 3, 1, 1000), 0);
    EXPECT_TRUE(fake.AllCalls().empty());
}

struct OperationCase {
    const char* export_;
    std::function<std::int32_t(TQVX_COPN_Interface&)> call;
    std::string seen; // the call as the driver saw it
};
void PrintTo(const OperationCase& c, std::ostream* os) {
    *os << c.export_;
}

InterfaceConfigRecord configOfType(std::uint32_t type) {
    InterfaceConfigRecord config{};
    config.InterfaceType = type;
    return config;
}

const std::vector<OperationCase>& operationCases() {
    static const std::vector<OperationCase> cases = {
        {"OpenInterface",
         [](auto& b) {
             std::uint32_t h = 0;
             InterfaceConfigRecord config = configOfType(9);
             return b.OpenInterface(&h, &config);
         },
         "OpenInterface(9)"},
        {"SetNodeID", [](auto& b) { return b.SetNodeID(77, 127); }, "SetNodeID(77,127)"},
        {"SetBaud", [](auto& b) { return b.SetBaud(77, 1000000); }, "SetBaud(77,1000000)"},
        {"AddNode", [](auto& b) { return b.AddNode(77, 126); }, "AddNode(77,126)"},
        {"SetOnline", [](auto& b) { return b.SetOnline(77, 1); }, "SetOnline(77,1)"},
        {"CloseCard", [](auto& b) { return b.CloseCard(77); }, "CloseCard(77)"},
        {"NMT_ResetCommunication", [](auto& b) { return b.NMT_ResetCommunication(77, 0); },
         "NMT_ResetCommunication(77,0)"},
        {"NMT_ResetNode", [](auto& b) { return b.NMT_ResetNode(77, 9); }, "NMT_ResetNode(77,9)"},
        {"NMT_StartGuarding", [](auto& b) { return b.NMT_StartGuarding(77, 9, 2, 60000); },
         "NMT_StartGuarding(77,9,2,60000)"},
        {"GetNodeOnline",
         [](auto& b) {
             std::uint32_t online = 0;
             return b.GetNodeOnline(77, 3, &online);
         },
         "GetNodeOnline(77,3)"},
        {"SetSDOTimeout", [](auto& b) { return b.SetSDOTimeout(77, 65000); },
         "SetSDOTimeout(77,65000)"},
        {"SDO_Download_UNSIGNED8",
         [](auto& b) { return b.SDO_Download_UNSIGNED8(77, 3, 0x3604, 0, 0xAB); },
         "SDO_Download_UNSIGNED8(77,3,0x3604,0,171)"},
        {"SDO_Download_UNSIGNED32",
         [](auto& b) { return b.SDO_Download_UNSIGNED32(77, 3, 0x360F, 0, 0xDEADBEEF); },
         "SDO_Download_UNSIGNED32(77,3,0x360F,0,3735928559)"},
        {"SDO_Download",
         [](auto& b) {
             const std::uint8_t data[] = {1, 2, 0xFE};
             return b.SDO_Download(77, 3, 0x3600, 0, 3, data);
         },
         "SDO_Download(77,3,0x3600,0,3,01 02 FE)"},
        {"SDO_Upload_UNSIGNED8",
         [](auto& b) {
             std::uint8_t value = 0;
             return b.SDO_Upload_UNSIGNED8(77, 3, 0x1001, 0, &value);
         },
         "SDO_Upload_UNSIGNED8(77,3,0x1001,0)"},
        {"SDO_Upload_UNSIGNED32",
         [](auto& b) {
             std::uint32_t value = 0;
             return b.SDO_Upload_UNSIGNED32(77, 3, 0x1018, 4, &value);
         },
         "SDO_Upload_UNSIGNED32(77,3,0x1018,4)"},
        {"SDO_Upload",
         [](auto& b) {
             std::uint8_t buffer[256];
             std::uint32_t length = sizeof buffer;
             return b.SDO_Upload(77, 3, 0x1008, 0, &length, buffer);
         },
         "SDO_Upload(77,3,0x1008,0,256)"},
        {"CANopenConfigurationWindow",
         [](auto& b) {
             b.interfaceConfig.InterfaceType = 9;
             b.networkSettings = {5, 250000, 0, {}};
             return b.CANopenConfigurationWindow(&b.interfaceConfig, &b.networkSettings);
         },
         "CANopenConfigurationWindow(9,5,250000)"},
        {"HardwareConfigurationWindow",
         [](auto& b) { return b.HardwareConfigurationWindow(0xCAFEF00D); },
         "HardwareConfigurationWindow(3405705229)"},
        {"ReadConfiguration",
         [](auto& b) {
             return b.ReadConfiguration("\\Key\\", &b.interfaceConfig, &b.networkSettings);
         },
         "ReadConfiguration(\\Key\\)"},
        {"SaveConfiguration",
         [](auto& b) {
             b.interfaceConfig.InterfaceType = 9;
             b.networkSettings = {5, 250000, 0, {}};
             return b.SaveConfiguration("\\Key\\", &b.interfaceConfig, &b.networkSettings);
         },
         "SaveConfiguration(\\Key\\,9,5,250000)"},
        {"GetInterfaceName",
         [](auto& b) {
             char text[256];
             return b.GetInterfaceName(0x01000002, text);
         },
         "GetInterfaceName(16777218)"},
        {"UnloadDriver", [](auto& b) { return b.UnloadDriver(); }, "UnloadDriver()"},
    };
    return cases;
}

class CopnOperationTest : public CopnInterfaceTest,
                          public testing::WithParamInterface<OperationCase> {};

TEST_P(CopnOperationTest, ReachesTheDriverAsCalledAndPassesItsResultOn) {
    fake.SetIdentity(3, {}); // the entries the uploads read
    fake.SetResult(GetParam().export_, 7);
    EXPECT_EQ(GetParam().call(*binding), 7);
    EXPECT_EQ(fake.AllCalls(), Calls{GetParam().seen});
}

TEST_P(CopnOperationTest, ReturnsZeroWithoutCallingWhenTheExportIsMissing) {
    binding->Driver = {};
    EXPECT_EQ(GetParam().call(*binding), 0);
    EXPECT_TRUE(fake.AllCalls().empty());
}

INSTANTIATE_TEST_SUITE_P(Exports, CopnOperationTest, testing::ValuesIn(operationCases()),
                         [](const auto& info) { return std::string(info.param.export_); });

TEST(CopnInterfaceWithoutLibrary, EveryOperationReturnsZero) {
    QTemporaryDir empty;
    std::unique_ptr<TQVX_COPN_Interface> binding;
    {
        DriverFolder use(empty.path().toStdString());
        binding = std::make_unique<TQVX_COPN_Interface>();
    }
    EXPECT_EQ(binding->DriverModule, nullptr);
    EXPECT_EQ(emptySlots(*binding).size(), DriverExportNames.size());
    for (const auto& c : operationCases())
        EXPECT_EQ(c.call(*binding), 0) << c.export_;
    EXPECT_EQ(binding->ReadNodeIdentity(3), 0);
    binding.reset(); // nothing to close or free
}

TEST_F(CopnInterfaceTest, DestructorLeavesTheNetworkClosesUnloadsAndFreesTheLibrary) {
    binding->driverHandle = 0x42;
    binding.reset();
    EXPECT_EQ(fake.AllCalls(), (Calls{"SetOnline(66,0)", "CloseCard(66)", "UnloadDriver()"}));
    fake.Detach(); // the test's own reference
    void* stillLoaded =
        dlopen(FAKE_COPN_DIR "/libQVX_COPN.so", RTLD_NOW | RTLD_NOLOAD | RTLD_LOCAL);
    EXPECT_EQ(stillLoaded, nullptr);
    if (stillLoaded)
        dlclose(stillLoaded);
}

// Identity reads.

struct IdentitySnapshot {
    std::uint32_t deviceType;
    std::uint32_t errorRegister;
    std::string deviceName, hardwareVersion, softwareVersion;
    std::uint32_t vendorId, productCode, revisionNumber, serialNumber;

    static IdentitySnapshot Of(const NodeIdentity& id) {
        return {id.deviceType,
                id.errorRegister,
                id.deviceName.Text(),
                id.hardwareVersion.Text(),
                id.softwareVersion.Text(),
                id.vendorId,
                id.productCode,
                id.revisionNumber,
                id.serialNumber};
    }
    static IdentitySnapshot Of(const FakeCopnDriver::Identity& id) {
        return {id.deviceType,      id.errorRegister,   id.deviceName,
                id.hardwareVersion, id.softwareVersion, id.vendorId,
                id.productCode,     id.revisionNumber,  id.serialNumber};
    }
    bool operator==(const IdentitySnapshot&) const = default;
};

void PrintTo(const IdentitySnapshot& s, std::ostream* os) {
    *os << "{" << s.deviceType << ", " << s.errorRegister << ", \"" << s.deviceName << "\", \""
        << s.hardwareVersion << "\", \"" << s.softwareVersion << "\", " << s.vendorId << ", "
        << s.productCode << ", " << s.revisionNumber << ", " << s.serialNumber << "}";
}

const FakeCopnDriver::Identity firstIdentity{0x00020192, 0x01, "First", "HW A", "1.00",
                                             0x2A5,      0x10, 0x1,     11};
const FakeCopnDriver::Identity secondIdentity{0x00030191, 0x80, "Second", "HW B", "2.00",
                                              0x2A6,      0x20, 0x2,      22};

TEST_F(CopnInterfaceTest, ReadNodeIdentityReadsEveryEntryInItsOrder) {
    binding->driverHandle = 256;
    fake.SetIdentity(12, firstIdentity);
    EXPECT_EQ(binding->ReadNodeIdentity(12), 1);
    EXPECT_EQ(
        fake.AllCalls(),
        (Calls{"SetSDOTimeout(256,500)", "SDO_Upload_UNSIGNED32(256,12,0x1000,0)",
               "SDO_Upload_UNSIGNED8(256,12,0x1001,0)", "SDO_Upload(256,12,0x1008,0,256)",
               "SDO_Upload(256,12,0x1009,0,256)", "SDO_Upload(256,12,0x100A,0,256)",
               "SDO_Upload_UNSIGNED32(256,12,0x1018,1)", "SDO_Upload_UNSIGNED32(256,12,0x1018,2)",
               "SDO_Upload_UNSIGNED32(256,12,0x1018,3)",
               "SDO_Upload_UNSIGNED32(256,12,0x1018,4)"}));
    EXPECT_EQ(IdentitySnapshot::Of(binding->Identity[12]), IdentitySnapshot::Of(firstIdentity));
    EXPECT_EQ(IdentitySnapshot::Of(binding->Identity[11]), IdentitySnapshot{});
}

struct PartialReadCase {
    const char* name;
    std::function<void(FakeCopnDriver&)> script;
    std::int32_t result;
    std::size_t deviceTypeTries;
    std::set<std::string> kept; // fields that keep the first read's value
};
void PrintTo(const PartialReadCase& c, std::ostream* os) {
    *os << c.name;
}

class PartialIdentityReadTest : public CopnInterfaceTest,
                                public testing::WithParamInterface<PartialReadCase> {};

// A node read once, then read again while some uploads fail.
TEST_P(PartialIdentityReadTest, FailedItemsKeepTheirValueTheRestIsRead) {
    const PartialReadCase& c = GetParam();
    fake.SetIdentity(12, firstIdentity);
    ASSERT_EQ(binding->ReadNodeIdentity(12), 1);
    fake.SetIdentity(12, secondIdentity);
    fake.ClearCalls();
    c.script(fake);

    EXPECT_EQ(binding->ReadNodeIdentity(12), c.result);
    EXPECT_EQ(fake.CallsOf("SDO_Upload_UNSIGNED32(0,12,0x1000,0)").size(), c.deviceTypeTries);
    IdentitySnapshot expected = IdentitySnapshot::Of(secondIdentity);
    const IdentitySnapshot first = IdentitySnapshot::Of(firstIdentity);
    const auto keep = [&](const char* field, auto member) {
        if (c.kept.count(field))
            expected.*member = first.*member;
    };
    keep("deviceType", &IdentitySnapshot::deviceType);
    keep("errorRegister", &IdentitySnapshot::errorRegister);
    keep("deviceName", &IdentitySnapshot::deviceName);
    keep("hardwareVersion", &IdentitySnapshot::hardwareVersion);
    keep("softwareVersion", &IdentitySnapshot::softwareVersion);
    keep("vendorId", &IdentitySnapshot::vendorId);
    keep("productCode", &IdentitySnapshot::productCode);
    keep("revisionNumber", &IdentitySnapshot::revisionNumber);
    keep("serialNumber", &IdentitySnapshot::serialNumber);
    EXPECT_EQ(IdentitySnapshot::Of(binding->Identity[12]), expected);
}

const std::set<std::string> everyField = {"deviceType",      "errorRegister",   "deviceName",
                                          "hardwareVersion", "softwareVersion", "vendorId",
                                          "productCode",     "revisionNumber",  "serialNumber"};

INSTANTIATE_TEST_SUITE_P(
    Scripts, PartialIdentityReadTest,
    testing::Values(PartialReadCase{"DeviceTypeAnswersAtTheSecondTry",
                                    [](auto& f) { f.QueueResults("SDO_Upload_UNSIGNED32", {0}); },
                                    1,
                                    2,
                                    {}},
                    PartialReadCase{"DeviceTypeNeverAnswers",
                                    [](auto& f) {
                                        f.QueueResults("SDO_Upload_UNSIGNED32", {0, 0});
                                    },
                                    0, 2, everyField},
                    PartialReadCase{"ErrorRegisterFails",
                                    [](auto& f) { f.SetResult("SDO_Upload_UNSIGNED8", 0); },
                                    1,
                                    1,
                                    {"errorRegister"}},
                    PartialReadCase{"HardwareVersionFails",
                                    [](auto& f) {
                                        f.QueueResults("SDO_Upload", {1, 0});
                                    },
                                    1,
                                    1,
                                    {"hardwareVersion"}},
                    PartialReadCase{"ProductCodeAndSerialFail",
                                    [](auto& f) {
                                        f.QueueResults("SDO_Upload_UNSIGNED32", {1, 1, 0, 1, 0});
                                    },
                                    1,
                                    1,
                                    {"productCode", "serialNumber"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CopnInterfaceTest, TextsKeep255BytesAndEveryUploadIsOffered256) {
    FakeCopnDriver::Identity id;
    id.deviceName = std::string(300, 'n');
    id.hardwareVersion = "ab";
    id.softwareVersion = std::string(256, 's');
    id.softwareVersion.back() = '!';
    fake.SetIdentity(12, id);
    ASSERT_EQ(binding->ReadNodeIdentity(12), 1);
    EXPECT_EQ(binding->Identity[12].deviceName.Text(), std::string(255, 'n'));
    EXPECT_EQ(binding->Identity[12].hardwareVersion.Text(), "ab");
    EXPECT_EQ(binding->Identity[12].softwareVersion.Text(), std::string(255, 's'));
    // The short text in the middle does not shrink the room offered after it.
    EXPECT_EQ(fake.CallsOf("SDO_Upload("),
              (Calls{"SDO_Upload(0,12,0x1008,0,256)", "SDO_Upload(0,12,0x1009,0,256)",
                     "SDO_Upload(0,12,0x100A,0,256)"}));

    // A shorter text replaces a longer one whole.
    id.deviceName = "short";
    fake.SetIdentity(12, id);
    ASSERT_EQ(binding->ReadNodeIdentity(12), 1);
    EXPECT_EQ(binding->Identity[12].deviceName.Text(), "short");
}

TEST_F(CopnInterfaceTest, NoIdentityPastTheLastNodeAddress) {
    EXPECT_EQ(binding->ReadNodeIdentity(128), 0);
    EXPECT_EQ(binding->ReadNodeIdentity(255), 0);
    EXPECT_TRUE(fake.AllCalls().empty());
}

} // namespace
