#include "Class_varnixs.h"
#include "DynamicLibrary.h"
#include "RecordingSleep.h"

#include <QTemporaryDir>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>

namespace {

using Calls = std::vector<std::string>;

// The downloader over a fake VARNIX library that records calls and answers from a script.
class FakeVarnixTest : public testing::Test {
public:
    void SetUp() override { Load(FAKE_VARNIX_DIR); }
    void TearDown() override {
        downloader.reset();
        unsetenv(DriverPathVariable);
    }

    void Load(const char* folder) {
        setenv(DriverPathVariable, folder, 1);
        downloader = std::make_unique<TVARNIXS_Downloader>();
        HMODULE fake = LoadLibraryA("VARNIX.dll"); // the same library, for its controls
        ASSERT_NE(fake, nullptr);
        reset = reinterpret_cast<void (*)()>(GetProcAddress(fake, "Fake_Reset"));
        setResult = reinterpret_cast<void (*)(const char*, std::int32_t)>(
            GetProcAddress(fake, "Fake_SetResult"));
        setValues = reinterpret_cast<void (*)(const char*, std::uint32_t, std::uint32_t)>(
            GetProcAddress(fake, "Fake_SetValues"));
        callLog = reinterpret_cast<const char* (*)()>(GetProcAddress(fake, "Fake_Calls"));
        reset();
    }

    Calls calls() const {
        Calls out;
        std::istringstream in(callLog());
        for (std::string line; std::getline(in, line);)
            out.push_back(line);
        return out;
    }

    std::unique_ptr<TVARNIXS_Downloader> downloader;
    void (*reset)();
    void (*setResult)(const char*, std::int32_t);
    void (*setValues)(const char*, std::uint32_t, std::uint32_t);
    const char* (*callLog)();
    RecordingSleep sleeps;
};

TEST_F(FakeVarnixTest, ConstructedWithUsbRecordAndFourSectorsOfEightNodes) {
    InterfaceConfigRecord config;
    ASSERT_EQ(downloader->GetInterfaceConfig(&config), 1);
    EXPECT_EQ(config.InterfaceType, 0x08000001u);
    EXPECT_EQ(config.AccessPointText(), "1");
    EXPECT_EQ(config.ComPort, 0u);
    EXPECT_EQ(downloader->imageMirror, std::vector<std::uint8_t>(0x80000, 0xFF));
    std::uint8_t count = 0;
    std::uint16_t maxNodes = 0;
    std::uint32_t browse = 0;
    EXPECT_EQ(downloader->GetSectorCount(&count), 1);
    EXPECT_EQ(count, 4);
    EXPECT_EQ(downloader->GetMaxNodes(&maxNodes), 1);
    EXPECT_EQ(maxNodes, 8);
    EXPECT_EQ(downloader->GetBrowseTime(&browse), 1);
    EXPECT_EQ(browse, 5000u);
    EXPECT_TRUE(calls().empty()); // none of these asks the driver
}

TEST_F(FakeVarnixTest, BlockSizeAndInterfaceNameFollowTheLink) {
    InterfaceConfigRecord config{};
    char name[256];
    config.ComPort = 3;
    setResult("OpenInterface", 0); // set even when the open fails
    EXPECT_EQ(downloader->OpenInterface(&config), 0);
    EXPECT_EQ(downloader->BlockSize, 8u);
    ASSERT_EQ(downloader->GetInterfaceName(name), 1);
    EXPECT_STREQ(name, "RS-232");

    config.ComPort = 0;
    setResult("OpenInterface", 1);
    EXPECT_EQ(downloader->OpenInterface(&config), 1);
    EXPECT_EQ(downloader->BlockSize, 32u);
    ASSERT_EQ(downloader->GetInterfaceName(name), 1);
    EXPECT_STREQ(name, "USB");
    EXPECT_EQ(calls(), (Calls{"OpenInterface(3)", "OpenInterface(0)"}));
}

TEST_F(FakeVarnixTest, TextOperations) {
    ASSERT_EQ(downloader->GoOnline(), 1);
    setValues("Get_Serial_Number", 100234, 0);
    setValues("Get_Product_Code", 3001, 0);
    setValues("Get_Device_Type", 12, 0);
    setValues("Firmware_Version", 2, 15);
    EXPECT_EQ(downloader->GetNodeString(5), "1");
    EXPECT_EQ(downloader->GetVendor(0), "QVX, LLC.");
    EXPECT_EQ(downloader->GetSerialNumber(0), "100234");
    EXPECT_EQ(downloader->GetProductCode(0), "3001");
    EXPECT_EQ(downloader->GetDeviceType(0), "12");
    EXPECT_EQ(downloader->GetRevision(0), "2.15");
    EXPECT_EQ(downloader->GetProductName(0), "Fake Module");
    EXPECT_EQ(downloader->GetBaudRateString(), "");
    EXPECT_EQ(downloader->GetNodeIdString(), "");

    for (const char* name : {"Get_Serial_Number", "Get_Product_Code", "Get_Device_Type",
                             "Firmware_Version", "Get_Product_Name"})
        setResult(name, 0);
    EXPECT_EQ(downloader->GetSerialNumber(0), "");
    EXPECT_EQ(downloader->GetProductCode(0), "");
    EXPECT_EQ(downloader->GetDeviceType(0), "");
    EXPECT_EQ(downloader->GetRevision(0), "0.0");
    EXPECT_EQ(downloader->GetProductName(0), "");
}

TEST_F(FakeVarnixTest, DownloadModeQueryWritesZeroFirst) {
    std::uint32_t flag = 7;
    setResult("Get_Mode", 0);
    EXPECT_EQ(downloader->IsInDownloadMode(&flag), 0);
    EXPECT_EQ(flag, 0u);
    setResult("Get_Mode", 1);
    setValues("Get_Mode", 0, 0);
    EXPECT_EQ(downloader->IsInDownloadMode(&flag), 1);
    EXPECT_EQ(flag, 1u);
    setValues("Get_Mode", 1, 0);
    EXPECT_EQ(downloader->IsInDownloadMode(&flag), 1);
    EXPECT_EQ(flag, 0u);
}

TEST_F(FakeVarnixTest, ChecksumOverTheMirrorOnHardwareOneAndTwo) {
    ASSERT_EQ(downloader->GoOnline(), 1); // handle 0x100
    const std::uint8_t block[] = {1, 2, 3, 4};
    setValues("Get_Sector_Size", 4, 0);

    setValues("Hardware_Version", 2, 0); // sums from 0x28000
    downloader->DownloadFirmware(2, 0x28000, 4, block);
    EXPECT_EQ(downloader->SetSectorChecksum(2), 1);
    EXPECT_EQ(calls().back(), "Set_Sector_Checksum(256,2,1540)"); // 0x0604
    EXPECT_EQ(downloader->imageMirror[0x28000], 0xFF);            // refilled

    setValues("Hardware_Version", 1, 0); // sums from 0
    downloader->DownloadFirmware(2, 0, 4, block);
    downloader->DownloadFirmware(2, 0x7FFFE, 4, block); // the last two bytes fall outside
    EXPECT_EQ(downloader->SetSectorChecksum(2), 1);
    EXPECT_EQ(calls().back(), "Set_Sector_Checksum(256,2,1540)");

    setResult("Hardware_Version", 0); // unknown hardware: from 0 as well
    downloader->DownloadFirmware(2, 0, 4, block);
    EXPECT_EQ(downloader->SetSectorChecksum(2), 1);
    EXPECT_EQ(calls().back(), "Set_Sector_Checksum(256,2,1540)");

    setResult("Get_Sector_Size", 0); // no size: no checksum, mirror kept
    downloader->DownloadFirmware(2, 0, 4, block);
    reset();
    setResult("Get_Sector_Size", 0);
    EXPECT_EQ(downloader->SetSectorChecksum(2), 0);
    EXPECT_EQ(calls(), (Calls{"Get_Sector_Size(256,2)"}));
    EXPECT_EQ(downloader->imageMirror[0], 1);
}

TEST_F(FakeVarnixTest, EraseRefillsTheMirrorEvenWhenItFails) {
    const std::uint8_t block[] = {1, 2};
    downloader->DownloadFirmware(1, 0x10, 2, block);
    EXPECT_EQ(downloader->imageMirror[0x10], 1);
    setResult("Erase_Sector", 0);
    EXPECT_EQ(downloader->EraseSector(1), 0);
    EXPECT_EQ(downloader->imageMirror[0x10], 0xFF);
    EXPECT_EQ(downloader->imageMirror[0x11], 0xFF);
}

struct RestartCase {
    const char* name;
    std::function<std::int32_t(TVARNIXS_Downloader&)> operation;
    const char* export_;
    std::string call;
};

class RestartTest : public FakeVarnixTest, public testing::WithParamInterface<RestartCase> {};

TEST_P(RestartTest, ReopensAfterTwoSecondsWithANewHandle) {
    ASSERT_EQ(downloader->GoOnline(), 1); // handle 256
    downloader->NodesOnlinePrevious = 1;
    reset();
    setResult("OpenInterface", 1);
    EXPECT_EQ(GetParam().operation(*downloader), 1);
    EXPECT_EQ(calls(), (Calls{GetParam().call, "CloseCard(256)", "OpenInterface(0)"}));
    EXPECT_EQ(sleeps.Pauses(), (std::vector<DWORD>{2000}));
    EXPECT_EQ(downloader->driverHandle, 0x100u); // the fake counts handles from 0x100 again
    EXPECT_EQ(downloader->NodesOnline, 1u);
    EXPECT_EQ(downloader->Online[0], 1u);
    EXPECT_EQ(downloader->NodeId[0], 1u);
    EXPECT_EQ(downloader->NodesOnlinePrevious, 0u); // the next poll reports a change

    setResult("OpenInterface", 0); // the module does not come back
    EXPECT_EQ(GetParam().operation(*downloader), 0);

    reset();
    setResult(GetParam().export_, 0); // refused: no restart, no reopen
    EXPECT_EQ(GetParam().operation(*downloader), 0);
    EXPECT_EQ(calls().size(), 1u);
    EXPECT_EQ(sleeps.Pauses().size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Operations, RestartTest,
    testing::Values(RestartCase{"Execute", [](auto& d) { return d.ExecuteSector(3); },
                                "Execute_Firmware", "Execute_Firmware(256,3)"},
                    RestartCase{"Reset", [](auto& d) { return d.Reset(); }, "Reset", "Reset(256)"},
                    RestartCase{"DownloadMode", [](auto& d) { return d.EnterDownloadMode(0x1A2B); },
                                "FirmwareUpgradeMode", "FirmwareUpgradeMode(256,6699)"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FakeVarnixTest, NodeTableSettlesOneChangePerPoll) {
    ASSERT_EQ(downloader->GoOnline(), 1);
    std::uint32_t changed = 9;
    EXPECT_EQ(downloader->UpdateNodesOnline(&changed), 1);
    EXPECT_EQ(changed, 1u);
    EXPECT_EQ(downloader->NodesOnlinePrevious, 1u);
    EXPECT_EQ(downloader->OnlinePrevious[0], 1u);
    EXPECT_EQ(downloader->NodeIdPrevious[0], 1u);
    EXPECT_EQ(downloader->UpdateNodesOnline(&changed), 1);
    EXPECT_EQ(changed, 0u);

    downloader->Online[2] = 1; // two nodes differ: one per call
    downloader->Online[5] = 1;
    downloader->UpdateNodesOnline(&changed);
    EXPECT_EQ(changed, 1u);
    EXPECT_EQ(downloader->OnlinePrevious[5], 0u);
    downloader->UpdateNodesOnline(&changed);
    EXPECT_EQ(changed, 1u);
    downloader->UpdateNodesOnline(&changed);
    EXPECT_EQ(changed, 0u);

    EXPECT_EQ(downloader->GoOffline(), 1);
    EXPECT_EQ(downloader->NodesOnline, 0u);
    EXPECT_EQ(downloader->Online[0], 0u);
    EXPECT_EQ(downloader->NodesOnlinePrevious, 0u);
    EXPECT_EQ(calls().back(), "CloseCard(256)");
}

TEST_F(FakeVarnixTest, ConfigurationGoesThroughTheDriverWithTheModulesRecord) {
    const char* key = "\\Software\\Quorvane, LLC.\\Zandrel\\";
    EXPECT_EQ(downloader->ReadConfiguration(key), 1);
    EXPECT_EQ(downloader->ConfigurationWindow(), 1);
    EXPECT_EQ(downloader->SaveConfiguration(key), 1);
    InterfaceConfigRecord config;
    downloader->GetInterfaceConfig(&config);
    EXPECT_EQ(config.ComPort, 3u); // what the driver's window wrote into the record
    EXPECT_EQ(calls(),
              (Calls{std::string("ReadConfiguration(") + key + ")", "HardwareConfigurationWindow()",
                     std::string("SaveConfiguration(") + key + ")"}));
}

TEST_F(FakeVarnixTest, DestructorClosesAndUnloads) {
    ASSERT_EQ(downloader->GoOnline(), 1);
    reset();
    downloader.reset();
    EXPECT_EQ(calls(), (Calls{"CloseCard(256)", "UnloadDriver()"}));
}

TEST_F(FakeVarnixTest, MissingExportsAreFailures) {
    downloader.reset();
    Load(FAKE_VARNIX_PARTIAL_DIR);
    ASSERT_EQ(downloader->GoOnline(), 1);
    EXPECT_EQ(downloader->Reset(), 0);
    EXPECT_EQ(downloader->GetProductName(0), "");
    EXPECT_EQ(downloader->GetProductCode(0), "");
    EXPECT_EQ(downloader->Driver.Get_Product_Name, nullptr);
    EXPECT_NE(downloader->Driver.Checksum_Ok, nullptr);
}

TEST(VarnixWithoutLibrary, EveryDriverOperationFails) {
    RecordingSleep sleeps;
    QTemporaryDir empty;
    setenv(DriverPathVariable, empty.path().toLocal8Bit().constData(), 1);
    TVARNIXS_Downloader downloader;
    unsetenv(DriverPathVariable);
    EXPECT_EQ(downloader.DriverModule, nullptr);
    std::uint32_t flag = 5;
    EXPECT_EQ(downloader.GoOnline(), 0);
    EXPECT_EQ(downloader.IsInDownloadMode(&flag), 0);
    EXPECT_EQ(flag, 0u);
    EXPECT_EQ(downloader.Reset(), 0);
    EXPECT_EQ(downloader.ReadConfiguration("\\Software\\"), 0);
    EXPECT_EQ(downloader.GetRevision(0), "0.0");
    EXPECT_EQ(downloader.GetSerialNumber(0), "");
    char name[256];
    EXPECT_EQ(downloader.GetInterfaceName(name), 1);
    EXPECT_STREQ(name, "USB");
}

} // namespace
