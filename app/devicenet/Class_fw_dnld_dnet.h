#pragma once

#include "Firmware_Downloader.h"
#include "ImageMirror.h"
#include "Qvx_dnet_interface.h"
#include "WinTypes.h"

#include <cstdint>
#include <memory>
#include <string>

// The downloader for DeviceNet nodes, through the driver library QVX_DNET.dll. Every sector
// operation goes by explicit messaging to the node's firmware object (class 0xC7,
// instance 1); restarts go as the Identity object's Reset service. The network side brings
// the interface online, offers every MAC ID to the driver's explicit scanlist, polls which
// MAC IDs are present and reads the identity of each node that appears.
//
// Every operation returns 0 at once (the empty text for a text) when the binding is absent;
// GetMaxNodes answers all the same. The program keeps its downloader, and so the binding
// and the loaded driver, until the process ends; a downloader that is discarded takes its
// binding with it.
class TDNet_Downloader : public TFirmware_Downloader {
public:
    static constexpr std::uint32_t ImageMirrorSize = 0x2FFFE; // 196,606 bytes
    static constexpr std::uint32_t ChecksumWords = 0x17FFF;   // 98,303 16-bit words
    static constexpr int MaxMacIds = TQVX_DNET_Interface::MaxNodes;
    static constexpr int BlockAttempts = 3;
    static constexpr int RestartPolls = 11;
    static constexpr DWORD ErasePause = 2500;  // ms, after a successful erase
    static constexpr DWORD RestartStep = 1000; // ms, while a node restarts

    // The firmware object of the node.
    static constexpr std::uint16_t FirmwareClass = 0xC7;
    static constexpr std::uint16_t FirmwareInstance = 1;
    enum FirmwareAttribute : std::uint16_t {
        CommandAttribute = 3,
        SelectedSectorAttribute = 7,
        SectorNameAttribute = 8,
        SectorDescriptionAttribute = 9,
        SectorBuildDateAttribute = 10,
        SectorBuildTimeAttribute = 11,
        SectorRevisionAttribute = 12,
        SectorChecksumAttribute = 13,
        BootSectorAttribute = 14,
        SectorCountAttribute = 16,
        SectorSizeAttribute = 17,
        PasswordAttribute = 18,
    };
    // The commands written to the command attribute.
    static constexpr std::uint8_t DownloadBlockCommand = 0x02;
    static constexpr std::uint8_t EraseSectorCommand = 0x03;
    // The Identity object's Reset service.
    static constexpr std::uint8_t ResetService = 0x05;
    // Bit 15 of the product code: the node runs its boot loader.
    static constexpr std::uint16_t DownloadModeBit = 0x8000;
    // The checksum a sector holds when none was written since it was erased.
    static constexpr std::uint32_t UnsetChecksum = 0xFFFFFFFFu;

    // The node whose sectors have fixed sizes: it is not asked for them.
    static constexpr std::uint16_t FixedSizesVendorId = 729;
    static constexpr std::uint16_t FixedSizesProductCode = 40930;

    // The connection flags of every node this class puts into the scanlist itself, and the
    // values that go with them.
    static constexpr std::uint8_t ExplicitConnection = 1;
    static constexpr ScanlistEntryParams BrowseEntry = {{48, 48, 1000, 2500}};
    static constexpr ScanlistEntryParams ExecuteEntry = {{32, 32, 1000, 2500}};

    TDNet_Downloader();
    ~TDNet_Downloader() override;

    std::int32_t GetFirmwareVersion(std::uint32_t* major, std::uint32_t* minor) override;
    std::int32_t DownloadFirmware(std::uint8_t sector, std::uint32_t address, std::uint8_t length,
                                  const std::uint8_t* data) override;
    std::int32_t SetBootSector(std::uint8_t sector) override;
    std::int32_t GetBootSector(std::uint8_t* sector) override;
    std::int32_t EraseSector(std::uint8_t sector) override;
    std::int32_t ExecuteSector(std::uint8_t sector) override;
    std::int32_t GetSectorDescription(std::uint8_t sector, SectorDescription* description) override;
    std::int32_t GetSectorCount(std::uint8_t* count) override;
    std::int32_t GetSectorSize(std::uint8_t sector, std::uint32_t* size) override;
    std::int32_t IsInDownloadMode(std::uint32_t* inDownloadMode) override;
    std::int32_t EnterDownloadMode(std::uint32_t password) override;
    std::int32_t SetSectorChecksum(std::uint8_t sector) override;
    std::int32_t ChecksumOk(std::uint8_t sector, std::uint32_t* ok) override;
    std::string GetNodeString(std::uint8_t node) override;
    std::string GetSerialNumber(std::uint8_t node) override;
    std::string GetProductCode(std::uint8_t node) override;
    std::string GetDeviceType(std::uint8_t node) override;
    std::string GetRevision(std::uint8_t node) override;
    std::string GetVendor(std::uint8_t node) override;
    std::string GetProductName(std::uint8_t node) override;
    std::string GetBaudRateString() override;
    std::string GetNodeIdString() override;
    std::int32_t GoOnline() override;
    std::int32_t GoOffline() override;
    std::int32_t StartBrowse() override;
    std::int32_t StopBrowse() override;
    std::int32_t VersionInformationWindow() override;
    std::int32_t ConfigurationWindow() override;
    std::int32_t HardwareConfigurationWindow(std::uint32_t value) override;
    std::int32_t ReadConfiguration(const char* keyPath) override;
    std::int32_t SaveConfiguration(const char* keyPath) override;
    std::int32_t GetMaxNodes(std::uint16_t* count) override;
    std::int32_t GetInterfaceConfig(InterfaceConfigRecord* config) override;
    std::int32_t UpdateNodesOnline(std::uint32_t* changed) override;
    std::int32_t Reset() override;
    std::int32_t GetInterfaceName(char* text) override;

    std::unique_ptr<TQVX_DNET_Interface> dnetInterface;
    // Every byte downloaded since the last successful erase, at its image address; 0xFF
    // where nothing was written. The sector checksum is summed over it.
    ImageMirror imageMirror;
    // Per MAC ID, the connection flags with which the browse put the node into the
    // scanlist (bit 0: explicit connection). GUI thread only.
    std::uint8_t scanlistFlags[MaxMacIds] = {};

private:
    std::uint8_t node() const { return static_cast<std::uint8_t>(Node & 0xFF); }
    std::int32_t selectSector(std::uint8_t sector);
    // The Identity object's Reset service to the node; the response is not looked at.
    std::int32_t resetNode();
    // After a restart of the node: the next poll that finds it reads its identity again.
    void forgetNode();
    // Reads a SHORT_STRING attribute of the selected sector into a field, replacing it whole.
    std::int32_t readText(std::uint16_t attribute, char* field, std::size_t fieldSize);
    // Polls the node's presence up to RestartPolls times until it is as wanted, a step
    // between polls; a failed poll counts as the opposite of what is wanted. The last
    // poll's result.
    std::int32_t waitForPresence(bool wanted);
    // The identity record of a MAC ID; null past the last one or without the binding.
    const DnetNodeIdentity* identity(std::uint8_t node) const;
    void clearNodeTables();
};
