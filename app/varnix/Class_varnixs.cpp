#include "Class_varnixs.h"

#include "DynamicLibrary.h"
#include "Sleep.h"

#include <cstring>

using std::int32_t;
using std::uint16_t;
using std::uint32_t;
using std::uint8_t;

namespace {

// Looks the name up and stores it in slot (null when missing).
template <typename F> void bind(HMODULE module, F*& slot, const char* name) {
    slot = reinterpret_cast<F*>(GetProcAddress(module, name));
}

std::string decimal(uint32_t value) {
    return std::to_string(value);
}

} // namespace

TVARNIXS_Downloader::TVARNIXS_Downloader() : imageMirror(ImageMirrorSize) {
    NodesOnline = 0;
    loadDriver();
    std::memset(&Config, 0, sizeof Config);
    Config.InterfaceType = 0x08000001;
    Config.AccessPoint[0] = '1';
}

TVARNIXS_Downloader::~TVARNIXS_Downloader() {
    if (Driver.CloseCard)
        Driver.CloseCard(driverHandle);
    UnloadDriver();
}

void TVARNIXS_Downloader::loadDriver() {
    DriverModule = LoadLibraryA("VARNIX.dll");
    if (!DriverModule)
        return;
    Exports& d = Driver;
    HMODULE m = DriverModule;
#define VARNIX_BIND(name, type) bind(m, d.name, #name);
    VARNIX_DRIVER_EXPORTS(VARNIX_BIND)
#undef VARNIX_BIND
}

void TVARNIXS_Downloader::markModuleOnline() {
    NodesOnline = 1;
    Online[0] = 1;
    NodeId[0] = 1;
}

// After a restart of the module: the link is closed, and opened again once the module is
// back.
int32_t TVARNIXS_Downloader::reopen() {
    if (Driver.CloseCard)
        Driver.CloseCard(driverHandle);
    Sleep(ReopenPause);
    int32_t opened = OpenInterface(&Config);
    if (opened) {
        markModuleOnline();
        NodesOnlinePrevious = 0;
    }
    return opened;
}

int32_t TVARNIXS_Downloader::OpenInterface(InterfaceConfigRecord* config) {
    if (!config)
        return 0;
    if (config != &Config)
        std::memcpy(&Config, config, sizeof Config);
    int32_t result = 0;
    if (Driver.OpenInterface) {
        uint32_t handle = driverHandle;
        result = Driver.OpenInterface(&handle, &Config);
        driverHandle = handle;
    }
    BlockSize = onSerialLink() ? 8 : 32;
    return result;
}

int32_t TVARNIXS_Downloader::GetErrorString(uint32_t a, uint32_t b) {
    return Driver.GetErrorString ? Driver.GetErrorString(a, b) : 0;
}

int32_t TVARNIXS_Downloader::UnloadDriver() {
    return Driver.UnloadDriver ? Driver.UnloadDriver() : 0;
}

int32_t TVARNIXS_Downloader::LoadDriver() {
    return Driver.LoadDriver ? Driver.LoadDriver() : 0;
}

int32_t TVARNIXS_Downloader::GetHardwareVersion(uint32_t* major, uint32_t* minor) {
    return Driver.Hardware_Version ? Driver.Hardware_Version(driverHandle, major, minor) : 0;
}

int32_t TVARNIXS_Downloader::GetFirmwareVersion(uint32_t* major, uint32_t* minor) {
    return Driver.Firmware_Version ? Driver.Firmware_Version(driverHandle, major, minor) : 0;
}

int32_t TVARNIXS_Downloader::DownloadFirmware(uint8_t sector, uint32_t address, uint8_t length,
                                              const uint8_t* data) {
    imageMirror.put(address, data, length);
    return Driver.Download_Firmware
               ? Driver.Download_Firmware(driverHandle, sector, address, length, data)
               : 0;
}

int32_t TVARNIXS_Downloader::UploadFirmware(uint8_t sector, uint32_t address, uint8_t length,
                                            uint8_t* data) {
    return Driver.Upload_Firmware
               ? Driver.Upload_Firmware(driverHandle, sector, address, length, data)
               : 0;
}

int32_t TVARNIXS_Downloader::SetActiveSector(uint8_t sector) {
    return Driver.Set_Active_Sector ? Driver.Set_Active_Sector(driverHandle, sector) : 0;
}

int32_t TVARNIXS_Downloader::GetActiveSector(uint8_t* sector) {
    return Driver.Get_Active_Sector ? Driver.Get_Active_Sector(driverHandle, sector) : 0;
}

int32_t TVARNIXS_Downloader::SetBootSector(uint8_t sector) {
    return Driver.Set_Boot_Sector ? Driver.Set_Boot_Sector(driverHandle, sector) : 0;
}

int32_t TVARNIXS_Downloader::GetBootSector(uint8_t* sector) {
    return Driver.Get_Boot_Sector ? Driver.Get_Boot_Sector(driverHandle, sector) : 0;
}

int32_t TVARNIXS_Downloader::EraseSector(uint8_t sector) {
    int32_t result = Driver.Erase_Sector ? Driver.Erase_Sector(driverHandle, sector) : 0;
    imageMirror.clear();
    return result;
}

int32_t TVARNIXS_Downloader::ExecuteSector(uint8_t sector) {
    if (!Driver.Execute_Firmware || !Driver.Execute_Firmware(driverHandle, sector))
        return 0;
    return reopen();
}

int32_t TVARNIXS_Downloader::GetSectorDescription(uint8_t sector, SectorDescription* description) {
    return Driver.Get_Sector_Description
               ? Driver.Get_Sector_Description(driverHandle, sector, description)
               : 0;
}

int32_t TVARNIXS_Downloader::GetMode(uint8_t* mode) {
    return Driver.Get_Mode ? Driver.Get_Mode(driverHandle, mode) : 0;
}

int32_t TVARNIXS_Downloader::GetSectorCount(uint8_t* count) {
    if (!count)
        return 0;
    *count = 4;
    return 1;
}

int32_t TVARNIXS_Downloader::GetSectorSize(uint8_t sector, uint32_t* size) {
    return Driver.Get_Sector_Size ? Driver.Get_Sector_Size(driverHandle, sector, size) : 0;
}

int32_t TVARNIXS_Downloader::IsInDownloadMode(uint32_t* inDownloadMode) {
    if (!inDownloadMode)
        return 0;
    *inDownloadMode = 0;
    uint8_t mode = 0xFF;
    int32_t result = GetMode(&mode);
    if (result && mode == 0)
        *inDownloadMode = 1;
    return result;
}

int32_t TVARNIXS_Downloader::EnterDownloadMode(uint32_t password) {
    if (!Driver.FirmwareUpgradeMode || !Driver.FirmwareUpgradeMode(driverHandle, password))
        return 0;
    return reopen();
}

int32_t TVARNIXS_Downloader::SetSectorChecksum(uint8_t sector) {
    uint32_t size = 0;
    if (!GetSectorSize(sector, &size))
        return 0;
    uint32_t a = 1, b = 0;
    GetHardwareVersion(&a, &b);
    const uint32_t start = a == 2 ? Hardware2ChecksumStart : 0;
    // The words from the start on, as far as the sector's size and the mirror's end allow.
    const uint32_t sum = imageMirror.wordSum(size, start);
    int32_t result =
        Driver.Set_Sector_Checksum ? Driver.Set_Sector_Checksum(driverHandle, sector, sum) : 0;
    imageMirror.clear();
    return result;
}

std::string TVARNIXS_Downloader::GetNodeString(uint8_t) {
    return "1";
}

std::string TVARNIXS_Downloader::numberText(NumberExport query) {
    uint32_t value = 0;
    return query && query(driverHandle, &value) ? decimal(value) : std::string();
}

std::string TVARNIXS_Downloader::GetSerialNumber(uint8_t) {
    return numberText(Driver.Get_Serial_Number);
}

std::string TVARNIXS_Downloader::GetProductCode(uint8_t) {
    return numberText(Driver.Get_Product_Code);
}

std::string TVARNIXS_Downloader::GetDeviceType(uint8_t) {
    return numberText(Driver.Get_Device_Type);
}

std::string TVARNIXS_Downloader::GetRevision(uint8_t) {
    uint32_t a = 0, b = 0;
    if (!GetFirmwareVersion(&a, &b))
        a = b = 0;
    return decimal(a) + "." + decimal(b);
}

std::string TVARNIXS_Downloader::GetVendor(uint8_t) {
    return "QVX, LLC.";
}

std::string TVARNIXS_Downloader::GetProductName(uint8_t) {
    char name[256] = {};
    if (!Driver.Get_Product_Name || !Driver.Get_Product_Name(driverHandle, name))
        return {};
    return std::string(name, strnlen(name, sizeof name));
}

int32_t TVARNIXS_Downloader::GoOnline() {
    int32_t opened = OpenInterface(&Config);
    if (opened)
        markModuleOnline();
    return opened;
}

int32_t TVARNIXS_Downloader::GoOffline() {
    int32_t result = Driver.CloseCard ? Driver.CloseCard(driverHandle) : 0;
    NodesOnline = 0;
    Online[0] = 0;
    NodesOnlinePrevious = 0;
    return result;
}

int32_t TVARNIXS_Downloader::StartBrowse() {
    return GoOnline();
}

int32_t TVARNIXS_Downloader::StopBrowse() {
    return 0;
}

int32_t TVARNIXS_Downloader::VersionInformationWindow() {
    return 0;
}

int32_t TVARNIXS_Downloader::ConfigurationWindow() {
    return Driver.HardwareConfigurationWindow ? Driver.HardwareConfigurationWindow(&Config) : 0;
}

int32_t TVARNIXS_Downloader::ReadConfiguration(const char* keyPath) {
    return Driver.ReadConfiguration ? Driver.ReadConfiguration(keyPath, &Config) : 0;
}

int32_t TVARNIXS_Downloader::SaveConfiguration(const char* keyPath) {
    return Driver.SaveConfiguration ? Driver.SaveConfiguration(keyPath, &Config) : 0;
}

int32_t TVARNIXS_Downloader::GetMaxNodes(uint16_t* count) {
    if (!count)
        return 0;
    *count = 8;
    return 1;
}

int32_t TVARNIXS_Downloader::GetInterfaceConfig(InterfaceConfigRecord* config) {
    if (!config)
        return 0;
    std::memcpy(config, &Config, sizeof Config);
    return 1;
}

// Settles at most one node per call: the count first, then the first node whose entries
// differ from their copies.
int32_t TVARNIXS_Downloader::UpdateNodesOnline(uint32_t* changed) {
    uint32_t change = 0;
    if (NodesOnline != NodesOnlinePrevious) {
        change = 1;
        NodesOnlinePrevious = NodesOnline.load();
    }
    for (int node = 0; node < 8; ++node) {
        if (Online[node] != OnlinePrevious[node] || NodeId[node] != NodeIdPrevious[node]) {
            change = 1;
            OnlinePrevious[node] = Online[node].load();
            NodeIdPrevious[node] = NodeId[node].load();
            break;
        }
    }
    if (changed)
        *changed = change;
    return 1;
}

int32_t TVARNIXS_Downloader::GetBrowseTime(uint32_t* milliseconds) {
    if (!milliseconds)
        return 0;
    *milliseconds = 5000;
    return 1;
}

int32_t TVARNIXS_Downloader::ChecksumOk(uint8_t sector, uint32_t* ok) {
    return Driver.Checksum_Ok ? Driver.Checksum_Ok(driverHandle, sector, ok) : 0;
}

int32_t TVARNIXS_Downloader::Reset() {
    if (!Driver.Reset || !Driver.Reset(driverHandle))
        return 0;
    return reopen();
}

int32_t TVARNIXS_Downloader::GetInterfaceName(char* text) {
    if (!text)
        return 0;
    std::strcpy(text, onSerialLink() ? "RS-232" : "USB");
    return 1;
}
