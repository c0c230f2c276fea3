// The exports of libVARNIX.so, as the program looks them up by name. Every export checks
// its handle and arguments: an unknown handle, a sector that does not exist, a null pointer
// or a range outside the sector give 0 and write nothing.

#include "ContractCheck.h"
#include "FirmwareImage.h"
#include "SettingsStore.h"
#include "VarnixConfigDialog.h"
#include "VarnixLink.h"
#include "Varnix_exports.h"

#include <cstdint>
#include <cstring>

using sim::FlashNode;
using std::int32_t;
using std::uint32_t;
using std::uint8_t;

#define VARNIX_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr const char* DriverName = "VARNIX";
constexpr uint32_t DriverVersionMajor = 2;
constexpr uint32_t DriverVersionMinor = 4;

VarnixLink& link() {
    return VarnixLink::Instance();
}

// Runs f on the module of a valid handle; the export's result.
template <typename F> int32_t on(uint32_t h, F&& f) {
    return link().WithModule(h, [&](FlashNode& node) { return static_cast<bool>(f(node)); }) ? 1
                                                                                             : 0;
}

// As on, for a block of length bytes: also 0 when the handle's link cannot carry it.
template <typename F> int32_t onBlock(uint32_t h, uint8_t length, F&& f) {
    return link().WithBlock(h, length, [&](FlashNode& node) { return static_cast<bool>(f(node)); })
               ? 1
               : 0;
}

} // namespace

VARNIX_EXPORT int32_t UnloadDriver() {
    link().Unload();
    return 1;
}

VARNIX_EXPORT int32_t LoadDriver() {
    return 1;
}

VARNIX_EXPORT int32_t OpenInterface(uint32_t* h, void* config) {
    if (!h || !config)
        return 0;
    InterfaceRecord record;
    std::memcpy(&record, config, sizeof record);
    return link().Open(record, h) ? 1 : 0;
}

VARNIX_EXPORT int32_t CloseInterface(uint32_t h) {
    return link().Close(h) ? 1 : 0;
}

VARNIX_EXPORT int32_t CloseCard(uint32_t h) {
    return link().Close(h) ? 1 : 0;
}

VARNIX_EXPORT int32_t OpenCard(uint32_t h) {
    return link().IsOpen(h) ? 1 : 0;
}

VARNIX_EXPORT int32_t Hardware_Version(uint32_t h, uint32_t* a, uint32_t* b) {
    return on(h, [&](FlashNode& node) {
        if (!a || !b)
            return false;
        *a = node.Settings().hardwareMajor;
        *b = node.Settings().hardwareMinor;
        return true;
    });
}

VARNIX_EXPORT int32_t Firmware_Version(uint32_t h, uint32_t* a, uint32_t* b) {
    return on(h, [&](FlashNode& node) {
        if (!a || !b)
            return false;
        uint32_t revision = node.RunningRevision();
        *a = (revision >> 16) & 0xFF;
        *b = revision & 0xFF;
        return true;
    });
}

VARNIX_EXPORT int32_t DLL_Version(uint32_t h, uint32_t* a, uint32_t* b) {
    (void)h;
    if (!a || !b)
        return 0;
    *a = DriverVersionMajor;
    *b = DriverVersionMinor;
    return 1;
}

// Error texts are not kept by this driver: the call only says whether the code is one of
// its own (nonzero) or not.
VARNIX_EXPORT int32_t GetErrorString(uint32_t code, uint32_t detail) {
    (void)detail;
    return code == 0 ? 1 : 0;
}

VARNIX_EXPORT int32_t Get_Serial_Number(uint32_t h, uint32_t* value) {
    return on(h, [&](FlashNode& node) { return value && (*value = node.SerialNumber(), true); });
}

VARNIX_EXPORT int32_t Set_Serial_Number(uint32_t h, uint32_t value) {
    return on(h, [&](FlashNode& node) { return node.SetSerialNumber(value); });
}

VARNIX_EXPORT int32_t Get_Device_Type(uint32_t h, uint32_t* value) {
    return on(h, [&](FlashNode& node) {
        return value && (*value = node.Settings().identity.deviceType, true);
    });
}

VARNIX_EXPORT int32_t Get_Product_Code(uint32_t h, uint32_t* value) {
    return on(h, [&](FlashNode& node) {
        return value && (*value = node.Settings().identity.productCode, true);
    });
}

VARNIX_EXPORT int32_t Get_Vendor_Id(uint32_t h, uint32_t* value) {
    return on(h, [&](FlashNode& node) {
        return value && (*value = node.Settings().identity.vendorId, true);
    });
}

VARNIX_EXPORT int32_t Get_Product_Name(uint32_t h, char* text) {
    return on(h, [&](FlashNode& node) {
        if (!text)
            return false;
        const std::string& name = node.Settings().identity.deviceName;
        std::size_t n = std::min<std::size_t>(name.size(), 255);
        std::memcpy(text, name.data(), n);
        text[n] = '\0';
        return true;
    });
}

VARNIX_EXPORT int32_t Download_Firmware(uint32_t h, uint8_t sector, uint32_t address,
                                        uint8_t length, const uint8_t* data) {
    return onBlock(h, length, [&](FlashNode& node) {
        return (data || length == 0) && node.Write(sector, address, data, length);
    });
}

VARNIX_EXPORT int32_t Upload_Firmware(uint32_t h, uint8_t sector, uint32_t address, uint8_t length,
                                      uint8_t* data) {
    return onBlock(h, length, [&](FlashNode& node) {
        return (data || length == 0) && node.Read(sector, address, data, length);
    });
}

// The active sector is the one the module runs; choosing it makes it the boot sector.
VARNIX_EXPORT int32_t Set_Active_Sector(uint32_t h, uint8_t sector) {
    return on(h, [&](FlashNode& node) { return node.SetBootSector(sector); });
}

VARNIX_EXPORT int32_t Get_Active_Sector(uint32_t h, uint8_t* sector) {
    return on(h, [&](FlashNode& node) { return sector && (*sector = node.RunningSector(), true); });
}

VARNIX_EXPORT int32_t Set_Boot_Sector(uint32_t h, uint8_t sector) {
    return on(h, [&](FlashNode& node) { return node.SetBootSector(sector); });
}

VARNIX_EXPORT int32_t Get_Boot_Sector(uint32_t h, uint8_t* sector) {
    return on(h, [&](FlashNode& node) { return sector && (*sector = node.BootSector(), true); });
}

VARNIX_EXPORT int32_t Erase_Sector(uint32_t h, uint8_t sector) {
    return on(h, [&](FlashNode& node) { return node.Erase(sector); });
}

VARNIX_EXPORT int32_t Execute_Firmware(uint32_t h, uint8_t sector) {
    return on(h, [&](FlashNode& node) { return node.Execute(sector); });
}

VARNIX_EXPORT int32_t Get_Sector_Description(uint32_t h, uint8_t sector, void* description) {
    return on(h, [&](FlashNode& node) {
        return description && node.Description(sector, static_cast<uint8_t*>(description));
    });
}

VARNIX_EXPORT int32_t FirmwareUpgradeMode(uint32_t h, uint32_t password) {
    return on(h, [&](FlashNode& node) { return node.EnterDownloadMode(password); });
}

VARNIX_EXPORT int32_t Get_Mode(uint32_t h, uint8_t* mode) {
    return on(h, [&](FlashNode& node) {
        return mode && (*mode = static_cast<uint8_t>(node.CurrentMode()), true);
    });
}

VARNIX_EXPORT int32_t Get_Sector_Checksum(uint32_t h, uint8_t sector, uint32_t* checksum) {
    return on(h,
              [&](FlashNode& node) { return checksum && node.StoredChecksum(sector, checksum); });
}

VARNIX_EXPORT int32_t Set_Sector_Checksum(uint32_t h, uint8_t sector, uint32_t checksum) {
    return on(h, [&](FlashNode& node) { return node.SetStoredChecksum(sector, checksum); });
}

VARNIX_EXPORT int32_t Get_Sector_Size(uint32_t h, uint8_t sector, uint32_t* size) {
    return on(h, [&](FlashNode& node) { return size && node.SectorSize(sector, size); });
}

VARNIX_EXPORT int32_t Checksum_Ok(uint32_t h, uint8_t sector, uint32_t* ok) {
    return on(h, [&](FlashNode& node) {
        bool matches = false;
        if (!ok || !node.ChecksumMatches(sector, &matches))
            return false;
        *ok = matches ? 1 : 0;
        return true;
    });
}

VARNIX_EXPORT int32_t Reset(uint32_t h) {
    return on(h, [&](FlashNode& node) { return node.Reset(); });
}

VARNIX_EXPORT int32_t HardwareConfigurationWindow(void* config) {
    if (!config)
        return 0;
    InterfaceRecord record;
    std::memcpy(&record, config, sizeof record);
    if (!ShowVarnixConfigDialog(&record))
        return 0;
    std::memcpy(config, &record, sizeof record);
    return 1;
}

// Nothing stored yet: the module on USB.
VARNIX_EXPORT int32_t ReadConfiguration(const char* keyPath, void* config) {
    if (!keyPath || !config)
        return 0;
    InterfaceRecord record = VarnixUsbRecord();
    ReadInterfaceRecord(keyPath, DriverName, &record);
    std::memcpy(config, &record, sizeof record);
    return 1;
}

VARNIX_EXPORT int32_t SaveConfiguration(const char* keyPath, void* config) {
    if (!keyPath || !config)
        return 0;
    InterfaceRecord record;
    std::memcpy(&record, config, sizeof record);
    return SaveInterfaceRecord(keyPath, DriverName, record) ? 1 : 0;
}

// Each definition above is what the program's contract says; one that differs does not build.
#define VARNIX_FULFILS(name, type)                                                                 \
    static_assert(drivercore::Fulfils<decltype(&::name), type, void>(),                            \
                  #name " is not what the program calls");
VARNIX_DRIVER_EXPORTS(VARNIX_FULFILS)
