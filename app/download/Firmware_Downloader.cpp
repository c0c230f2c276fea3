#include "Firmware_Downloader.h"

using std::int32_t;
using std::uint16_t;
using std::uint32_t;
using std::uint8_t;

TFirmware_Downloader::TFirmware_Downloader() : BlockSize(32) {}

// The concrete class's destructor has run by now; these are the base's own stubs.
TFirmware_Downloader::~TFirmware_Downloader() {
    TFirmware_Downloader::CloseInterface();
    TFirmware_Downloader::UnloadDriver();
}

int32_t TFirmware_Downloader::OpenInterface(InterfaceConfigRecord*) {
    return 0;
}
int32_t TFirmware_Downloader::CloseInterface() {
    return 0;
}
int32_t TFirmware_Downloader::GetErrorString(uint32_t, uint32_t) {
    return 0;
}
int32_t TFirmware_Downloader::UnloadDriver() {
    return 0;
}
int32_t TFirmware_Downloader::LoadDriver() {
    return 0;
}
int32_t TFirmware_Downloader::GetHardwareVersion(uint32_t*, uint32_t*) {
    return 0;
}
int32_t TFirmware_Downloader::GetFirmwareVersion(uint32_t*, uint32_t*) {
    return 0;
}
int32_t TFirmware_Downloader::DownloadFirmware(uint8_t, uint32_t, uint8_t, const uint8_t*) {
    return 0;
}
int32_t TFirmware_Downloader::UploadFirmware(uint8_t, uint32_t, uint8_t, uint8_t*) {
    return 0;
}
int32_t TFirmware_Downloader::SetActiveSector(uint8_t) {
    return 0;
}
int32_t TFirmware_Downloader::GetActiveSector(uint8_t*) {
    return 0;
}
int32_t TFirmware_Downloader::SetBootSector(uint8_t) {
    return 0;
}
int32_t TFirmware_Downloader::GetBootSector(uint8_t*) {
    return 0;
}
int32_t TFirmware_Downloader::EraseSector(uint8_t) {
    return 0;
}
int32_t TFirmware_Downloader::ExecuteSector(uint8_t) {
    return 0;
}
int32_t TFirmware_Downloader::GetSectorDescription(uint8_t, SectorDescription*) {
    return 0;
}
int32_t TFirmware_Downloader::GetMode(uint8_t*) {
    return 0;
}
int32_t TFirmware_Downloader::GetSectorCount(uint8_t*) {
    return 0;
}
int32_t TFirmware_Downloader::GetSectorSize(uint8_t, uint32_t*) {
    return 0;
}
int32_t TFirmware_Downloader::IsInDownloadMode(uint32_t*) {
    return 0;
}
int32_t TFirmware_Downloader::ConfirmDownloadMode(uint32_t* inDownloadMode) {
    return IsInDownloadMode(inDownloadMode);
}
int32_t TFirmware_Downloader::EnterDownloadMode(uint32_t) {
    return 0;
}
int32_t TFirmware_Downloader::SetSectorChecksum(uint8_t) {
    return 0;
}
std::string TFirmware_Downloader::GetNodeString(uint8_t) {
    return {};
}
std::string TFirmware_Downloader::GetSerialNumber(uint8_t) {
    return {};
}
std::string TFirmware_Downloader::GetProductCode(uint8_t) {
    return {};
}
std::string TFirmware_Downloader::GetDeviceType(uint8_t) {
    return {};
}
std::string TFirmware_Downloader::GetRevision(uint8_t) {
    return {};
}
std::string TFirmware_Downloader::GetVendor(uint8_t) {
    return {};
}
std::string TFirmware_Downloader::GetProductName(uint8_t) {
    return {};
}
std::string TFirmware_Downloader::GetBaudRateString() {
    return {};
}
std::string TFirmware_Downloader::GetNodeIdString() {
    return {};
}
int32_t TFirmware_Downloader::GoOnline() {
    return 0;
}
int32_t TFirmware_Downloader::GoOffline() {
    return 0;
}
int32_t TFirmware_Downloader::StartBrowse() {
    return 0;
}
int32_t TFirmware_Downloader::StopBrowse() {
    return 0;
}
int32_t TFirmware_Downloader::VersionInformationWindow() {
    return 0;
}
int32_t TFirmware_Downloader::ConfigurationWindow() {
    return 0;
}
int32_t TFirmware_Downloader::HardwareConfigurationWindow(uint32_t) {
    return 0;
}
int32_t TFirmware_Downloader::ReadConfiguration(const char*) {
    return 0;
}
int32_t TFirmware_Downloader::SaveConfiguration(const char*) {
    return 0;
}

int32_t TFirmware_Downloader::GetMaxNodes(uint16_t* count) {
    if (count)
        *count = 0;
    return 0;
}

int32_t TFirmware_Downloader::GetInterfaceConfig(InterfaceConfigRecord*) {
    return 0;
}
int32_t TFirmware_Downloader::UpdateNodesOnline(uint32_t*) {
    return 0;
}
int32_t TFirmware_Downloader::GetBrowseTime(uint32_t*) {
    return 0;
}
int32_t TFirmware_Downloader::ChecksumOk(uint8_t, uint32_t*) {
    return 0;
}
int32_t TFirmware_Downloader::Reset() {
    return 0;
}
int32_t TFirmware_Downloader::GetInterfaceName(char*) {
    return 0;
}
