#include "Firmware_Downloader.h"

#include <cstring>
#include <gtest/gtest.h>

namespace {

TEST(FirmwareDownloader, BaseAnswersEveryRequestWithFailure) {
    TFirmware_Downloader d;
    std::uint32_t u32 = 77, u32b = 77;
    std::uint16_t maxNodes = 77;
    std::uint8_t u8 = 77;
    std::uint8_t data[32] = {};
    SectorDescription description{};
    InterfaceConfigRecord config{};
    char name[256] = "unchanged";

    const std::int32_t results[] = {d.OpenInterface(&config),
                                    d.CloseInterface(),
                                    d.GetErrorString(1, 2),
                                    d.UnloadDriver(),
                                    d.LoadDriver(),
                                    d.GetHardwareVersion(&u32, &u32b),
                                    d.GetFirmwareVersion(&u32, &u32b),
                                    d.DownloadFirmware(0, 0, 32, data),
                                    d.UploadFirmware(0, 0, 32, data),
                                    d.SetActiveSector(1),
                                    d.GetActiveSector(&u8),
                                    d.SetBootSector(1),
                                    d.GetBootSector(&u8),
                                    d.EraseSector(1),
                                    d.ExecuteSector(1),
                                    d.GetSectorDescription(0, &description),
                                    d.GetMode(&u8),
                                    d.GetSectorCount(&u8),
                                    d.GetSectorSize(0, &u32),
                                    d.IsInDownloadMode(&u32),
                                    d.EnterDownloadMode(0x1A2B),
                                    d.SetSectorChecksum(2),
                                    d.GoOnline(),
                                    d.GoOffline(),
                                    d.StartBrowse(),
                                    d.StopBrowse(),
                                    d.VersionInformationWindow(),
                                    d.ConfigurationWindow(),
                                    d.HardwareConfigurationWindow(1),
                                    d.ReadConfiguration("\\Software\\"),
                                    d.SaveConfiguration("\\Software\\"),
                                    d.GetMaxNodes(&maxNodes),
                                    d.GetInterfaceConfig(&config),
                                    d.UpdateNodesOnline(&u32),
                                    d.GetBrowseTime(&u32),
                                    d.ChecksumOk(0, &u32),
                                    d.Reset(),
                                    d.GetInterfaceName(name)};
    for (std::int32_t result : results)
        EXPECT_EQ(result, 0);
    EXPECT_EQ(u32, 77u);
    EXPECT_EQ(u8, 77u);
    EXPECT_EQ(maxNodes, 0u); // the one stub that writes its out-parameter
    EXPECT_STREQ(name, "unchanged");

    for (const std::string& text :
         {d.GetNodeString(1), d.GetSerialNumber(1), d.GetProductCode(1), d.GetDeviceType(1),
          d.GetRevision(1), d.GetVendor(1), d.GetProductName(1), d.GetBaudRateString(),
          d.GetNodeIdString()})
        EXPECT_EQ(text, "");
}

TEST(FirmwareDownloader, ConstructedWithEmptyTablesAndBlockSize32) {
    TFirmware_Downloader d;
    EXPECT_EQ(d.BlockSize, 32u);
    EXPECT_EQ(d.NodesOnline, 0u);
    EXPECT_EQ(d.NodesOnlinePrevious, 0u);
    for (int i = 0; i < TFirmware_Downloader::MaxNodeAddresses; ++i) {
        EXPECT_EQ(d.Online[i] + d.OnlinePrevious[i] + d.NodeId[i] + d.NodeIdPrevious[i], 0u);
    }
}

TEST(FirmwareDownloader, FixedTextFieldsAreReadWithinTheirWidth) {
    SectorDescription d;
    std::memset(&d, 'A', sizeof d); // no terminating zero anywhere
    EXPECT_EQ(d.NameText(), std::string(16, 'A'));
    EXPECT_EQ(d.DescriptionText(), std::string(32, 'A'));
    EXPECT_EQ(d.BuildTimeText(), std::string(12, 'A'));

    InterfaceConfigRecord config;
    std::memset(&config, 'B', sizeof config);
    EXPECT_EQ(config.AccessPointText(), std::string(256, 'B'));
}

} // namespace
