#include "Class_fw_dnld_dnet.h"

#include "Application.h"
#include "BlockRecord.h"
#include "MessageBox.h"
#include "RepeatWhileUnanswered.h"
#include "Sleep.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

using std::int32_t;
using std::uint16_t;
using std::uint32_t;
using std::uint8_t;

namespace {

constexpr const char* ScanlistWarning =
    "This step will add all nodes on the network\r\nto the explicit scanlist.\r\nThis can cause "
    "serious network interruption!\r\nMake sure the network and all nodes are in a safe "
    "state!\r\n\r\n                         Continue?";

constexpr uint16_t IdentityClass = TQVX_DNET_Interface::IdentityClass;
constexpr uint16_t IdentityInstance = TQVX_DNET_Interface::IdentityInstance;

void showError(const char* text) {
    Application->MessageBox(text, "ERROR", MB_OK);
}

template <typename... Args> std::string format(const char* pattern, Args... args) {
    char text[32];
    std::snprintf(text, sizeof text, pattern, args...);
    return text;
}

} // namespace

TDNet_Downloader::TDNet_Downloader()
    : dnetInterface(std::make_unique<TQVX_DNET_Interface>()), imageMirror(ImageMirrorSize) {
    NoAnswerError = QVX_DNET_ERROR_NO_ANSWER;
}

TDNet_Downloader::~TDNet_Downloader() {
    GoOffline();
}

// Selecting a sector again changes nothing: a selection the node left unanswered is made
// again, as the interface asks a read again.
int32_t TDNet_Downloader::selectSector(uint8_t sector) {
    return RepeatWhileUnanswered(BlockAttempts, QVX_DNET_ERROR_NO_ANSWER, [&] {
        return dnetInterface->SetAttribute_USINT(node(), FirmwareClass, FirmwareInstance,
                                                 SelectedSectorAttribute, sector);
    });
}

int32_t TDNet_Downloader::resetNode() {
    uint8_t response[QVX_DNET_ATTRIBUTE_CAPACITY];
    uint16_t length = sizeof response;
    return dnetInterface->ExplicitService(node(), ResetService, IdentityClass, IdentityInstance, 0,
                                          nullptr, &length, response);
}

void TDNet_Downloader::forgetNode() {
    const uint8_t n = node();
    if (n < MaxNodeAddresses) {
        Online[n] = 0;
        OnlinePrevious[n] = 0;
    }
}

const DnetNodeIdentity* TDNet_Downloader::identity(uint8_t node) const {
    if (!dnetInterface || node >= MaxMacIds)
        return nullptr;
    return &dnetInterface->Identity[node];
}

void TDNet_Downloader::clearNodeTables() {
    for (int n = 0; n < MaxMacIds; ++n) {
        Online[n] = 0;
        OnlinePrevious[n] = 0;
        NodeId[n] = 0;
        NodeIdPrevious[n] = 0;
    }
    NodesOnline = 0;
    NodesOnlinePrevious = 0;
}

// Sector operations.

// The revision attribute of the Identity object: major in the first byte, minor in the
// second.
int32_t TDNet_Downloader::GetFirmwareVersion(uint32_t* major, uint32_t* minor) {
    if (!dnetInterface || !major || !minor)
        return 0;
    uint16_t revision = 0;
    const int32_t result = dnetInterface->GetAttribute_UINT(
        node(), IdentityClass, IdentityInstance, TQVX_DNET_Interface::RevisionAttribute, &revision);
    if (!result)
        return 0;
    *major = revision & 0xFF;
    *minor = revision >> 8;
    return result;
}

int32_t TDNet_Downloader::DownloadFirmware(uint8_t sector, uint32_t address, uint8_t length,
                                           const uint8_t* data) {
    if (!dnetInterface || (length && !data))
        return 0;
    const BlockRecord command(DownloadBlockCommand, sector, address, length, data);

    imageMirror.put(address, data, length);

    int32_t result = 0;
    for (int attempt = 0; attempt < BlockAttempts && !result; ++attempt)
        result = dnetInterface->SetAttribute(node(), FirmwareClass, FirmwareInstance,
                                             CommandAttribute, command.size(), command.data());
    return result;
}

int32_t TDNet_Downloader::SetBootSector(uint8_t sector) {
    if (!dnetInterface)
        return 0;
    return dnetInterface->SetAttribute_USINT(node(), FirmwareClass, FirmwareInstance,
                                             BootSectorAttribute, sector);
}

int32_t TDNet_Downloader::GetBootSector(uint8_t* sector) {
    if (!dnetInterface || !sector)
        return 0;
    uint8_t value = 0;
    const int32_t result = dnetInterface->GetAttribute_USINT(
        node(), FirmwareClass, FirmwareInstance, BootSectorAttribute, &value);
    if (result)
        *sector = value;
    return result;
}

int32_t TDNet_Downloader::EraseSector(uint8_t sector) {
    if (!dnetInterface)
        return 0;
    const uint8_t command[2] = {EraseSectorCommand, sector};
    const int32_t result = dnetInterface->SetAttribute(node(), FirmwareClass, FirmwareInstance,
                                                       CommandAttribute, sizeof command, command);
    if (!result)
        return result;
    // The sector is blank now, and so is the mirror: an image shorter than the one before
    // sums to 0xFF past its end, as the erased sector holds it.
    imageMirror.clear();
    Sleep(ErasePause);
    return result;
}

// The node restarts and starts its boot sector, whichever sector was named; it leaves the
// scanlist meanwhile and is put back.
int32_t TDNet_Downloader::ExecuteSector(uint8_t) {
    if (!dnetInterface)
        return 0;
    if (!resetNode())
        return 0;
    Sleep(RestartStep);
    if (!dnetInterface->RemoveFromScanlist(node(), ExplicitConnection))
        return 0;
    forgetNode();
    Sleep(RestartStep);
    ScanlistEntryParams params = ExecuteEntry;
    return dnetInterface->AddToScanlist(node(), ExplicitConnection, &params);
}

int32_t TDNet_Downloader::readText(uint16_t attribute, char* field, std::size_t fieldSize) {
    uint8_t buffer[QVX_DNET_ATTRIBUTE_CAPACITY];
    uint16_t length = sizeof buffer;
    const int32_t result = dnetInterface->GetAttribute(node(), FirmwareClass, FirmwareInstance,
                                                       attribute, &length, buffer);
    if (!result)
        return 0;
    // A SHORT_STRING: the length byte, then the characters received.
    const std::size_t received = std::min<std::size_t>(length, sizeof buffer);
    const std::size_t characters = received > 0 ? received - 1 : 0;
    std::memset(field, 0, fieldSize);
    std::memcpy(field, buffer + 1, std::min(characters, fieldSize - 1));
    return result;
}

int32_t TDNet_Downloader::GetSectorDescription(uint8_t sector, SectorDescription* description) {
    if (!dnetInterface || !description)
        return 0;
    if (!selectSector(sector))
        return 0;
    SectorDescription& d = *description;
    struct Text {
        uint16_t attribute;
        char* field;
        std::size_t size;
    };
    for (const Text& text : {Text{SectorNameAttribute, d.Name, sizeof d.Name},
                             Text{SectorDescriptionAttribute, d.Description, sizeof d.Description},
                             Text{SectorBuildDateAttribute, d.BuildDate, sizeof d.BuildDate},
                             Text{SectorBuildTimeAttribute, d.BuildTime, sizeof d.BuildTime}})
        if (!readText(text.attribute, text.field, text.size))
            return 0;
    uint32_t revision = 0;
    const int32_t result = dnetInterface->GetAttribute_UDINT(
        node(), FirmwareClass, FirmwareInstance, SectorRevisionAttribute, &revision);
    if (result)
        d.Revision = revision;
    return result;
}

int32_t TDNet_Downloader::GetSectorCount(uint8_t* count) {
    if (!dnetInterface || !count)
        return 0;
    uint8_t value = 0;
    const int32_t result = dnetInterface->GetAttribute_USINT(
        node(), FirmwareClass, FirmwareInstance, SectorCountAttribute, &value);
    if (result)
        *count = value;
    return result;
}

// The size of the sector selected last: the sector table reads it right after the sector's
// description, which selects it.
int32_t TDNet_Downloader::GetSectorSize(uint8_t sector, uint32_t* size) {
    if (!dnetInterface || !size)
        return 0;
    const DnetNodeIdentity* id = identity(node());
    if (id && id->vendorId == FixedSizesVendorId && id->productCode == FixedSizesProductCode) {
        static constexpr uint32_t fixedSizes[] = {0xFFFF, 0x2FFFF, 0x2FFFF, 0xFFFF};
        if (sector >= std::size(fixedSizes))
            return 0;
        *size = fixedSizes[sector];
        return 1;
    }
    uint32_t value = 0;
    const int32_t result = dnetInterface->GetAttribute_UDINT(
        node(), FirmwareClass, FirmwareInstance, SectorSizeAttribute, &value);
    *size = result ? value : 0;
    return result;
}

int32_t TDNet_Downloader::IsInDownloadMode(uint32_t* inDownloadMode) {
    if (!dnetInterface || !inDownloadMode)
        return 0;
    uint16_t productCode = 0;
    const int32_t result =
        dnetInterface->GetAttribute_UINT(node(), IdentityClass, IdentityInstance,
                                         TQVX_DNET_Interface::ProductCodeAttribute, &productCode);
    *inDownloadMode = result && (productCode & DownloadModeBit) ? 1 : 0;
    return result;
}

int32_t TDNet_Downloader::waitForPresence(bool wanted) {
    int32_t result = 0;
    for (int poll = 0; poll < RestartPolls; ++poll) {
        uint32_t present = 0;
        result = dnetInterface->NodeOnline(node(), &present);
        const bool isPresent = result ? present != 0 : !wanted;
        if (isPresent == wanted)
            break;
        Sleep(RestartStep);
    }
    return result;
}

// A refused password is the node's refusal of the write; nothing else is sent then. Once
// the node has restarted, neither a node slow to go nor one slow to come back makes this
// fail: the driver's answer to the last presence poll is the result.
int32_t TDNet_Downloader::EnterDownloadMode(uint32_t password) {
    if (!dnetInterface)
        return 0;
    if (!dnetInterface->SetAttribute_UDINT(node(), FirmwareClass, FirmwareInstance,
                                           PasswordAttribute, password))
        return 0;
    resetNode();
    Sleep(RestartStep);
    if (!dnetInterface->RemoveFromScanlist(node(), ExplicitConnection))
        return 0;
    waitForPresence(false);
    forgetNode();
    ScanlistEntryParams params = BrowseEntry;
    if (!dnetInterface->AddToScanlist(node(), ExplicitConnection, &params))
        return 0;
    return waitForPresence(true);
}

int32_t TDNet_Downloader::SetSectorChecksum(uint8_t sector) {
    if (!dnetInterface)
        return 0;
    if (!selectSector(sector))
        return 0;
    // Little-endian 16-bit words into an unsigned 32-bit sum that wraps.
    const uint32_t sum = imageMirror.wordSum(2 * std::size_t{ChecksumWords});
    const int32_t result = dnetInterface->SetAttribute_UDINT(
        node(), FirmwareClass, FirmwareInstance, SectorChecksumAttribute, sum);
    if (result)
        return result;
    // A node that refuses the write may hold the same sum already.
    uint32_t stored = 0;
    if (!dnetInterface->GetAttribute_UDINT(node(), FirmwareClass, FirmwareInstance,
                                           SectorChecksumAttribute, &stored))
        return 0;
    return stored == sum ? 1 : 0;
}

// The firmware object has no attribute that compares a sector's checksum with its content;
// what it does tell is whether a checksum was written at all. A sector erased and written
// without one (a download that failed, say) holds the unset value, and the node would not
// start it: that is reported as not matching.
int32_t TDNet_Downloader::ChecksumOk(uint8_t sector, uint32_t* ok) {
    if (!dnetInterface || !selectSector(sector))
        return 0;
    uint32_t stored = 0;
    const int32_t result = dnetInterface->GetAttribute_UDINT(
        node(), FirmwareClass, FirmwareInstance, SectorChecksumAttribute, &stored);
    if (result)
        *ok = stored != UnsetChecksum ? 1u : 0u;
    return result;
}

int32_t TDNet_Downloader::Reset() {
    if (!dnetInterface)
        return 0;
    const int32_t result = resetNode();
    forgetNode();
    return result;
}

// Identity texts, from what the last poll read.

std::string TDNet_Downloader::GetNodeString(uint8_t node) {
    return dnetInterface ? format("%lu", static_cast<unsigned long>(node)) : std::string();
}

std::string TDNet_Downloader::GetSerialNumber(uint8_t node) {
    const DnetNodeIdentity* id = identity(node);
    return id ? format("%lu", static_cast<unsigned long>(id->serialNumber)) : std::string();
}

std::string TDNet_Downloader::GetProductCode(uint8_t node) {
    const DnetNodeIdentity* id = identity(node);
    return id ? format("%hu", static_cast<unsigned short>(id->productCode)) : std::string();
}

std::string TDNet_Downloader::GetDeviceType(uint8_t node) {
    const DnetNodeIdentity* id = identity(node);
    return id ? format("%hu", static_cast<unsigned short>(id->deviceType)) : std::string();
}

std::string TDNet_Downloader::GetRevision(uint8_t node) {
    const DnetNodeIdentity* id = identity(node);
    if (!id)
        return {};
    const uint16_t revision = id->revision;
    return format("%i.%i", revision >> 8, revision & 0xFF);
}

std::string TDNet_Downloader::GetVendor(uint8_t node) {
    const DnetNodeIdentity* id = identity(node);
    return id ? format("%hu", static_cast<unsigned short>(id->vendorId)) : std::string();
}

std::string TDNet_Downloader::GetProductName(uint8_t node) {
    const DnetNodeIdentity* id = identity(node);
    return id ? id->ProductNameText() : std::string();
}

std::string TDNet_Downloader::GetBaudRateString() {
    if (!dnetInterface)
        return {};
    return format("%luk",
                  static_cast<unsigned long>(dnetInterface->networkSettings.BaudRate / 1000));
}

std::string TDNet_Downloader::GetNodeIdString() {
    if (!dnetInterface)
        return {};
    return format("%lu", static_cast<unsigned long>(dnetInterface->networkSettings.MacId));
}

// Network access.

// Every MAC ID goes into the scanlist, which disturbs the network: the user confirms first.
// Each failed step is reported once; the interface then stays open until GoOffline.
int32_t TDNet_Downloader::GoOnline() {
    if (!dnetInterface)
        return 0;
    if (MessageBoxA(nullptr, ScanlistWarning, "Warning", MB_YESNOCANCEL | MB_ICONEXCLAMATION) !=
        IDYES)
        return 0;
    TQVX_DNET_Interface& dnet = *dnetInterface;

    int32_t opened;
    {
        HourGlassCursor hourglass;
        opened = dnet.OpenInterface();
    }
    if (!opened) {
        showError("Cannot Open Interface");
        return 0;
    }

    const char* failure = nullptr;
    {
        HourGlassCursor hourglass;
        if (!dnet.SetMacID())
            failure = "Cannot Set MacID";
        else if (!dnet.SetBaud())
            failure = "Cannot Set Baud";
        else if (!dnet.SetOnline(1))
            failure = "Cannot Go Online";
    }
    if (failure) {
        showError(failure);
        return 0;
    }

    const int32_t scanning = dnet.StartScan();
    StartBrowse();
    return scanning;
}

int32_t TDNet_Downloader::GoOffline() {
    int32_t result = 0;
    if (dnetInterface) {
        dnetInterface->StopScan();
        dnetInterface->SetOnline(0);
        result = dnetInterface->CloseCard();
    }
    clearNodeTables();
    return result;
}

int32_t TDNet_Downloader::StartBrowse() {
    if (!dnetInterface)
        return 0;
    for (int mac = 0; mac < MaxMacIds; ++mac) {
        ScanlistEntryParams params = BrowseEntry;
        dnetInterface->AddToScanlist(static_cast<uint8_t>(mac), ExplicitConnection, &params);
        scanlistFlags[mac] |= ExplicitConnection;
    }
    return 1;
}

// The nodes present now keep their scanlist entry; every other MAC ID leaves the scanlist.
int32_t TDNet_Downloader::StopBrowse() {
    if (!dnetInterface)
        return 0;
    for (int mac = 0; mac < MaxMacIds; ++mac) {
        if (Online[mac] != 0)
            continue;
        dnetInterface->RemoveFromScanlist(static_cast<uint8_t>(mac), scanlistFlags[mac]);
        scanlistFlags[mac] = 0;
    }
    return 1;
}

int32_t TDNet_Downloader::VersionInformationWindow() {
    return dnetInterface ? dnetInterface->VersionInformationWindow() : 0;
}

// One presence poll of every MAC ID; only a node that has just appeared has its identity
// read. A MAC ID whose poll fails keeps its entries.
int32_t TDNet_Downloader::UpdateNodesOnline(uint32_t* changed) {
    if (!dnetInterface)
        return 0;
    TQVX_DNET_Interface& dnet = *dnetInterface;
    uint32_t change = 0;
    uint32_t count = 0;
    for (int mac = 0; mac < MaxMacIds; ++mac) {
        const uint8_t n = static_cast<uint8_t>(mac);
        uint32_t present = 0;
        if (!dnet.NodeOnline(n, &present))
            continue;
        if (present)
            ++count;
        if (present == OnlinePrevious[mac])
            continue;
        change = 1;
        Online[mac] = present;
        if (present)
            dnet.ReadNodeIdentity(n);
        OnlinePrevious[mac] = Online[mac].load();
        NodeIdPrevious[mac] = NodeId[mac].load();
    }
    NodesOnline = count;
    if (count != NodesOnlinePrevious) {
        change = 1;
        NodesOnlinePrevious = count;
    }
    if (changed)
        *changed = change;
    return 1;
}

// Configuration.

int32_t TDNet_Downloader::ConfigurationWindow() {
    return dnetInterface ? dnetInterface->DeviceNetConfigurationWindow() : 0;
}

int32_t TDNet_Downloader::HardwareConfigurationWindow(uint32_t value) {
    return dnetInterface ? dnetInterface->HardwareConfigurationWindow(value) : 0;
}

int32_t TDNet_Downloader::ReadConfiguration(const char* keyPath) {
    return dnetInterface ? dnetInterface->ReadConfiguration(keyPath) : 0;
}

int32_t TDNet_Downloader::SaveConfiguration(const char* keyPath) {
    return dnetInterface ? dnetInterface->SaveConfiguration(keyPath) : 0;
}

// The size of the base tables; MAC IDs past 63 never become present.
int32_t TDNet_Downloader::GetMaxNodes(uint16_t* count) {
    if (!count)
        return 0;
    *count = MaxNodeAddresses;
    return 1;
}

int32_t TDNet_Downloader::GetInterfaceConfig(InterfaceConfigRecord* config) {
    if (!dnetInterface || !config)
        return 0;
    std::memcpy(config, &dnetInterface->interfaceConfig, sizeof *config);
    return 1;
}

int32_t TDNet_Downloader::GetInterfaceName(char* text) {
    if (!dnetInterface || !text)
        return 0;
    return dnetInterface->GetInterfaceName(text);
}
