#pragma once

#include "InterfaceConfigRecord.h"
#include "RelaxedAtomic.h"
#include "SectorDescription.h"

#include <cstdint>
#include <string>

// The contract between the program and one kind of field-bus target. Each node type has a
// class derived from this one; this base answers every request with failure.
//
// Integer operations return nonzero for success and write their out-parameters only on
// success. Text operations return an empty text on failure. Node and sector arguments are
// a node address and a sector index.
//
// The GUI thread, the nodes-online thread (UpdateNodesOnline) and the download worker
// (DownloadFirmware, UploadFirmware) share one instance.
class TFirmware_Downloader {
public:
    static constexpr int MaxNodeAddresses = 128;

    TFirmware_Downloader();
    virtual ~TFirmware_Downloader();
    TFirmware_Downloader(const TFirmware_Downloader&) = delete;
    TFirmware_Downloader& operator=(const TFirmware_Downloader&) = delete;

    virtual std::int32_t OpenInterface(InterfaceConfigRecord* config);
    virtual std::int32_t CloseInterface();
    virtual std::int32_t GetErrorString(std::uint32_t a, std::uint32_t b);
    virtual std::int32_t UnloadDriver();
    virtual std::int32_t LoadDriver();
    virtual std::int32_t GetHardwareVersion(std::uint32_t* major, std::uint32_t* minor);
    virtual std::int32_t GetFirmwareVersion(std::uint32_t* major, std::uint32_t* minor);
    virtual std::int32_t DownloadFirmware(std::uint8_t sector, std::uint32_t address,
                                          std::uint8_t length, const std::uint8_t* data);
    virtual std::int32_t UploadFirmware(std::uint8_t sector, std::uint32_t address,
                                        std::uint8_t length, std::uint8_t* data);
    virtual std::int32_t SetActiveSector(std::uint8_t sector);
    virtual std::int32_t GetActiveSector(std::uint8_t* sector);
    virtual std::int32_t SetBootSector(std::uint8_t sector);
    virtual std::int32_t GetBootSector(std::uint8_t* sector);
    virtual std::int32_t EraseSector(std::uint8_t sector);
    virtual std::int32_t ExecuteSector(std::uint8_t sector);
    virtual std::int32_t GetSectorDescription(std::uint8_t sector, SectorDescription* description);
    virtual std::int32_t GetMode(std::uint8_t* mode);
    virtual std::int32_t GetSectorCount(std::uint8_t* count);
    virtual std::int32_t GetSectorSize(std::uint8_t sector, std::uint32_t* size);
    virtual std::int32_t IsInDownloadMode(std::uint32_t* inDownloadMode);
    // Whether the node is in download mode, as the node itself tells it now (not from what a
    // poll read before): how a restart into download mode is confirmed. By default the same
    // as IsInDownloadMode, which asks the node.
    virtual std::int32_t ConfirmDownloadMode(std::uint32_t* inDownloadMode);
    virtual std::int32_t EnterDownloadMode(std::uint32_t password);
    virtual std::int32_t SetSectorChecksum(std::uint8_t sector);
    virtual std::string GetNodeString(std::uint8_t node);
    virtual std::string GetSerialNumber(std::uint8_t node);
    virtual std::string GetProductCode(std::uint8_t node);
    virtual std::string GetDeviceType(std::uint8_t node);
    virtual std::string GetRevision(std::uint8_t node);
    virtual std::string GetVendor(std::uint8_t node);
    virtual std::string GetProductName(std::uint8_t node);
    virtual std::string GetBaudRateString();
    virtual std::string GetNodeIdString();
    virtual std::int32_t GoOnline();
    virtual std::int32_t GoOffline();
    virtual std::int32_t StartBrowse();
    virtual std::int32_t StopBrowse();
    virtual std::int32_t VersionInformationWindow();
    virtual std::int32_t ConfigurationWindow();
    virtual std::int32_t HardwareConfigurationWindow(std::uint32_t value);
    virtual std::int32_t ReadConfiguration(const char* keyPath);
    virtual std::int32_t SaveConfiguration(const char* keyPath);
    virtual std::int32_t GetMaxNodes(std::uint16_t* count);
    virtual std::int32_t GetInterfaceConfig(InterfaceConfigRecord* config);
    virtual std::int32_t UpdateNodesOnline(std::uint32_t* changed);
    virtual std::int32_t GetBrowseTime(std::uint32_t* milliseconds);
    virtual std::int32_t ChecksumOk(std::uint8_t sector, std::uint32_t* ok);
    virtual std::int32_t Reset();
    virtual std::int32_t GetInterfaceName(char* text);

    // The node the download window and the worker operate on (low 8 bits: bus address).
    Relaxed<std::uint16_t> Node;
    Relaxed<std::uint32_t> NodesOnline;
    Relaxed<std::uint32_t> NodesOnlinePrevious;
    Relaxed<std::uint32_t> Online[MaxNodeAddresses];
    Relaxed<std::uint32_t> OnlinePrevious[MaxNodeAddresses];
    Relaxed<std::uint32_t> NodeId[MaxNodeAddresses];
    Relaxed<std::uint32_t> NodeIdPrevious[MaxNodeAddresses];
    Relaxed<std::uint32_t> NodeType;
    // Most bytes one DownloadFirmware or UploadFirmware call moves.
    Relaxed<std::uint32_t> BlockSize;
    // The calling thread's last-error value after a call the node left unanswered (its
    // driver's time-out); 0 when the node type cannot tell a time-out from a refusal.
    std::uint32_t NoAnswerError = 0;
};
