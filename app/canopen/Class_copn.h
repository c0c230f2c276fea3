#pragma once

#include "Firmware_Downloader.h"
#include "ImageMirror.h"
#include "Qvx_copn_interface.h"
#include "WinTypes.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The downloader for CANopen nodes, through the driver library QVX_COPN.dll. The firmware
// operations go to manufacturer-specific entries of the node's object dictionary (0x3600 to
// 0x3611, sub-index 0) as SDO transfers, and restarts go as NMT Reset Node; the network
// side brings the interface online, searches the network with Reset Communication and
// polls which of the node addresses 1 to 127 are online.
//
// Every operation returns 0 at once (the empty text for a text) when the binding is
// absent; GetMaxNodes answers all the same.
class TCOPN_Downloader : public TFirmware_Downloader {
public:
    static constexpr std::uint32_t ImageMirrorSize = 0x2FFFE; // 196,606 bytes
    // The sector size and the summands' width when the node does not give them.
    static constexpr std::uint32_t DefaultChecksumSize = 0x2FFFF;
    static constexpr std::uint8_t DefaultChecksumWidth = 16;
    // The SDO abort code of an entry the node does not have (object does not exist), which
    // the driver leaves in the last-error value of a failed transfer.
    static constexpr std::uint32_t NoSuchObject = 0x06020000;
    static constexpr int BlockAttempts = 3;
    static constexpr DWORD ErasePause = 2500;        // ms, after a successful erase
    static constexpr DWORD DownloadModePause = 2500; // ms, while the node restarts
    static constexpr std::uint8_t GuardLifeTimeFactor = 1;
    static constexpr std::uint16_t GuardTime = 1000; // ms

    // The firmware entries of the node, all at sub-index 0.
    enum ObjectIndex : std::uint16_t {
        FirmwareCommand = 0x3600,
        SelectSector = 0x3604,
        SectorName = 0x3605,
        SectorDescriptionText = 0x3606,
        SectorBuildDate = 0x3607,
        SectorBuildTime = 0x3608,
        SectorRevision = 0x3609,
        SectorChecksum = 0x360A,
        BootSector = 0x360B,
        SectorCount = 0x360D,
        SectorSize = 0x360E,
        DownloadModePassword = 0x360F,
        SectorChecksumState = 0x3610,
        ChecksumWidth = 0x3611,
    };
    // The commands of the firmware command record.
    static constexpr std::uint8_t WriteBlockCommand = 2;
    static constexpr std::uint8_t EraseSectorCommand = 3;
    static constexpr std::uint32_t EraseRecordSize = 38;

    // OpenInterface fails with this last-error value when the interface is not in the mode
    // the program needs.
    static constexpr DWORD InterfaceNotInModeError = 0x20000000;

    TCOPN_Downloader();
    ~TCOPN_Downloader() override;

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
    std::int32_t ConfirmDownloadMode(std::uint32_t* inDownloadMode) override;
    std::int32_t EnterDownloadMode(std::uint32_t password) override;
    std::int32_t SetSectorChecksum(std::uint8_t sector) override;
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
    std::int32_t GetBrowseTime(std::uint32_t* milliseconds) override;
    std::int32_t ChecksumOk(std::uint8_t sector, std::uint32_t* ok) override;
    std::int32_t Reset() override;
    std::int32_t GetInterfaceName(char* text) override;

    std::unique_ptr<TQVX_COPN_Interface> copnInterface;
    // Every byte downloaded since the last successful erase, at its image address; 0xFF
    // where nothing was written. The sector checksum is summed over it from index 0.
    ImageMirror imageMirror;

    // Goes online to the given nodes alone, for work on them: no network search, no
    // question, no NMT command to any node. The nodes are supervised from now on and come
    // online as they answer. *answered: the nodes that answered a first read.
    std::int32_t GoOnlineToNodes(const std::vector<std::uint8_t>& nodes,
                                 std::vector<std::uint8_t>* answered = nullptr);

private:
    std::int32_t openAndGoOnline(const std::vector<std::uint8_t>& nodes);
    std::uint8_t node() const { return static_cast<std::uint8_t>(Node & 0xFF); }
    std::uint32_t handle() const { return copnInterface->driverHandle; }
    std::int32_t selectSector(std::uint8_t sector);
    // Uploads a text entry of the selected sector into a field, cut to fit with its zero.
    std::int32_t uploadText(std::uint16_t index, char* field, std::size_t fieldSize);
    // After a restart of the node: the next poll that finds it reads its identity again.
    void forgetNode();
    // The identity record of a node address; null past the last address.
    const NodeIdentity* identity(std::uint8_t node) const;
    void clearNodeTables();
};
