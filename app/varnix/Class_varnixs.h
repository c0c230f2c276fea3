#pragma once

#include "Firmware_Downloader.h"
#include "ImageMirror.h"
#include "RelaxedAtomic.h"
#include "Varnix_exports.h"
#include "WinTypes.h"

#include <cstdint>

// The downloader for the VARNIX interface module's own firmware, reached over USB or
// RS-232 through the driver library VARNIX.dll. The module is node 0 of the tables.
class TVARNIXS_Downloader : public TFirmware_Downloader {
public:
    static constexpr std::uint32_t ImageMirrorSize = 0x80000;
    static constexpr std::uint32_t Hardware2ChecksumStart = 0x28000;
    static constexpr DWORD ReopenPause = 2000;

    TVARNIXS_Downloader();
    ~TVARNIXS_Downloader() override;

    std::int32_t OpenInterface(InterfaceConfigRecord* config) override;
    std::int32_t GetErrorString(std::uint32_t a, std::uint32_t b) override;
    std::int32_t UnloadDriver() override;
    std::int32_t LoadDriver() override;
    std::int32_t GetHardwareVersion(std::uint32_t* major, std::uint32_t* minor) override;
    std::int32_t GetFirmwareVersion(std::uint32_t* major, std::uint32_t* minor) override;
    std::int32_t DownloadFirmware(std::uint8_t sector, std::uint32_t address, std::uint8_t length,
                                  const std::uint8_t* data) override;
    std::int32_t UploadFirmware(std::uint8_t sector, std::uint32_t address, std::uint8_t length,
                                std::uint8_t* data) override;
    std::int32_t SetActiveSector(std::uint8_t sector) override;
    std::int32_t GetActiveSector(std::uint8_t* sector) override;
    std::int32_t SetBootSector(std::uint8_t sector) override;
    std::int32_t GetBootSector(std::uint8_t* sector) override;
    std::int32_t EraseSector(std::uint8_t sector) override;
    std::int32_t ExecuteSector(std::uint8_t sector) override;
    std::int32_t GetSectorDescription(std::uint8_t sector, SectorDescription* description) override;
    std::int32_t GetMode(std::uint8_t* mode) override;
    std::int32_t GetSectorCount(std::uint8_t* count) override;
    std::int32_t GetSectorSize(std::uint8_t sector, std::uint32_t* size) override;
    std::int32_t IsInDownloadMode(std::uint32_t* inDownloadMode) override;
    std::int32_t EnterDownloadMode(std::uint32_t password) override;
    std::int32_t SetSectorChecksum(std::uint8_t sector) override;
    std::string GetNodeString(std::uint8_t node) override;
    std::string GetSerialNumber(std::uint8_t node) override;
    std::string GetProductCode(std::uint8_t node) override;
    std::string GetDeviceType(std::uint8_t node) override;
    std::string GetRevision(std::uint8_t node) override;
    std::string GetVendor(std::uint8_t node) override;
    std::string GetProductName(std::uint8_t node) override;
    std::int32_t GoOnline() override;
    std::int32_t GoOffline() override;
    std::int32_t StartBrowse() override;
    std::int32_t StopBrowse() override;
    std::int32_t VersionInformationWindow() override;
    std::int32_t ConfigurationWindow() override;
    std::int32_t ReadConfiguration(const char* keyPath) override;
    std::int32_t SaveConfiguration(const char* keyPath) override;
    std::int32_t GetMaxNodes(std::uint16_t* count) override;
    std::int32_t GetInterfaceConfig(InterfaceConfigRecord* config) override;
    std::int32_t UpdateNodesOnline(std::uint32_t* changed) override;
    std::int32_t GetBrowseTime(std::uint32_t* milliseconds) override;
    std::int32_t ChecksumOk(std::uint8_t sector, std::uint32_t* ok) override;
    std::int32_t Reset() override;
    std::int32_t GetInterfaceName(char* text) override;

    // The driver library's exports, null where the library or the name is missing.
    struct Exports {
#define VARNIX_ENTRY(name, type) type name;
        VARNIX_DRIVER_EXPORTS(VARNIX_ENTRY)
#undef VARNIX_ENTRY
    };
    Exports Driver{};
    HMODULE DriverModule = nullptr;
    Relaxed<std::uint32_t> driverHandle{0};
    // Every byte downloaded since the last erase or checksum, 0xFF elsewhere.
    ImageMirror imageMirror;
    InterfaceConfigRecord Config{};

private:
    void loadDriver();
    std::int32_t reopen();
    bool onSerialLink() const {
        return Config.ComPort != 0;
    }
    void markModuleOnline();
    // The decimal text of a number the module gives, empty when it gives none.
    using NumberExport = std::int32_t (*)(std::uint32_t h, std::uint32_t* value);
    std::string numberText(NumberExport query);
};
