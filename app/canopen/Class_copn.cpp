#include "Class_copn.h"

#include "Application.h"
#include "BlockRecord.h"
#include "LastError.h"
#include "MessageBox.h"
#include "Sleep.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

using std::int32_t;
using std::uint16_t;
using std::uint32_t;
using std::uint8_t;

namespace {

constexpr const char* GoOnlineQuestion =
    "!!!Warning!!!\r\nThis Network Search will cause all nodes to be Reset using the Reset "
    "Communication command.\r\n Is it safe to issue this command?";
constexpr const char* BrowseQuestion =
    "!!!Warning!!!\r\nThis Network Search will cause all nodes not listed to be Reset using the "
    "Reset Communication command.\r\n Is it safe to issue this command?";

// Node addresses the network search and the poll go through; 0 is no node.
constexpr uint8_t FirstNode = 1;
constexpr uint8_t LastNode = 127;

// The SDO abort code of a transfer the node left unanswered.
constexpr uint32_t SdoTimeoutAbort = 0x05040000;

// The device type (0x1000), which every CANopen node has.
constexpr uint16_t DeviceTypeIndex = 0x1000;
// The identity object's product code, which the node's loader reports as 0.
constexpr uint16_t IdentityIndex = 0x1018;
constexpr uint8_t ProductCodeSubIndex = 2;

// Reset Communication to node-ID 0 reaches every node.
constexpr uint8_t AllNodes = 0;

bool askCaution(const char* question) {
    return Application->MessageBox(question, "CAUTION", MB_YESNOCANCEL) == IDYES;
}

void showError(const char* text, const char* caption) {
    Application->MessageBox(text, caption, MB_OK);
}

} // namespace

TCOPN_Downloader::TCOPN_Downloader()
    : copnInterface(std::make_unique<TQVX_COPN_Interface>()), imageMirror(ImageMirrorSize) {
    NoAnswerError = SdoTimeoutAbort;
}

TCOPN_Downloader::~TCOPN_Downloader() {
    GoOffline();
}

int32_t TCOPN_Downloader::selectSector(uint8_t sector) {
    return copnInterface->SDO_Download_UNSIGNED8(handle(), node(), SelectSector, 0, sector);
}

void TCOPN_Downloader::forgetNode() {
    const uint8_t n = node();
    if (n < MaxNodeAddresses) {
        Online[n] = 0;
        OnlinePrevious[n] = 0;
    }
}

const NodeIdentity* TCOPN_Downloader::identity(uint8_t node) const {
    if (!copnInterface || node >= TQVX_COPN_Interface::MaxNodes)
        return nullptr;
    return &copnInterface->Identity[node];
}

void TCOPN_Downloader::clearNodeTables() {
    for (int n = 0; n < MaxNodeAddresses; ++n) {
        Online[n] = 0;
        OnlinePrevious[n] = 0;
        NodeId[n] = 0;
        NodeIdPrevious[n] = 0;
    }
    NodesOnline = 0;
    NodesOnlinePrevious = 0;
}

// Sector operations.

int32_t TCOPN_Downloader::DownloadFirmware(uint8_t sector, uint32_t address, uint8_t length,
                                           const uint8_t* data) {
    if (!copnInterface || (length && !data))
        return 0;
    const BlockRecord record(WriteBlockCommand, sector, address, length, data);

    imageMirror.put(address, data, length);

    int32_t result = 0;
    for (int attempt = 0; attempt < BlockAttempts && !result; ++attempt)
        result = copnInterface->SDO_Download(handle(), node(), FirmwareCommand, 0, record.size(),
                                             record.data());
    return result;
}

int32_t TCOPN_Downloader::SetBootSector(uint8_t sector) {
    if (!copnInterface)
        return 0;
    return copnInterface->SDO_Download_UNSIGNED8(handle(), node(), BootSector, 0, sector);
}

int32_t TCOPN_Downloader::GetBootSector(uint8_t* sector) {
    if (!copnInterface || !sector)
        return 0;
    uint8_t value = 0;
    const int32_t result =
        copnInterface->SDO_Upload_UNSIGNED8(handle(), node(), BootSector, 0, &value);
    if (result)
        *sector = value;
    return result;
}

int32_t TCOPN_Downloader::EraseSector(uint8_t sector) {
    if (!copnInterface)
        return 0;
    uint8_t record[EraseRecordSize] = {EraseSectorCommand, sector}; // the rest carries nothing
    const int32_t result =
        copnInterface->SDO_Download(handle(), node(), FirmwareCommand, 0, EraseRecordSize, record);
    if (!result)
        return result;
    // The sector is blank now, and so is the mirror: an image shorter than the one before
    // sums to 0xFF past its end, as the erased sector holds it.
    imageMirror.clear();
    Sleep(ErasePause);
    return result;
}

int32_t TCOPN_Downloader::ExecuteSector(uint8_t) {
    // The node restarts and starts its boot sector, whichever sector was named.
    return Reset();
}

int32_t TCOPN_Downloader::uploadText(uint16_t index, char* field, std::size_t fieldSize) {
    uint8_t buffer[QVX_COPN_UPLOAD_CAPACITY];
    uint32_t length = sizeof buffer;
    const int32_t result = copnInterface->SDO_Upload(handle(), node(), index, 0, &length, buffer);
    if (!result)
        return 0;
    const std::size_t n = std::min<std::size_t>({length, sizeof buffer, fieldSize - 1});
    std::memcpy(field, buffer, n);
    field[n] = '\0';
    return result;
}

int32_t TCOPN_Downloader::GetSectorDescription(uint8_t sector, SectorDescription* description) {
    if (!copnInterface || !description)
        return 0;
    if (!selectSector(sector))
        return 0;
    uint32_t revision = 0;
    int32_t result =
        copnInterface->SDO_Upload_UNSIGNED32(handle(), node(), SectorRevision, 0, &revision);
    if (!result)
        return 0;
    description->Revision = revision;
    SectorDescription& d = *description;
    struct Text {
        uint16_t index;
        char* field;
        std::size_t size;
    };
    for (const Text& text : {Text{SectorBuildDate, d.BuildDate, sizeof d.BuildDate},
                             Text{SectorBuildTime, d.BuildTime, sizeof d.BuildTime},
                             Text{SectorName, d.Name, sizeof d.Name},
                             Text{SectorDescriptionText, d.Description, sizeof d.Description}}) {
        result = uploadText(text.index, text.field, text.size);
        if (!result)
            return 0;
    }
    return result;
}

int32_t TCOPN_Downloader::GetSectorCount(uint8_t* count) {
    if (!copnInterface || !count)
        return 0;
    uint8_t value = 0;
    const int32_t result =
        copnInterface->SDO_Upload_UNSIGNED8(handle(), node(), SectorCount, 0, &value);
    *count = result ? value : 0;
    return result;
}

int32_t TCOPN_Downloader::GetSectorSize(uint8_t sector, uint32_t* size) {
    if (!copnInterface || !size)
        return 0;
    if (!selectSector(sector))
        return 0;
    uint32_t value = 0;
    const int32_t result =
        copnInterface->SDO_Upload_UNSIGNED32(handle(), node(), SectorSize, 0, &value);
    *size = result ? value : 0;
    return result;
}

// The node's identity tells: a node that runs its boot loader reports product code 0.
int32_t TCOPN_Downloader::IsInDownloadMode(uint32_t* inDownloadMode) {
    const NodeIdentity* id = identity(node());
    if (!id || !inDownloadMode)
        return 0;
    *inDownloadMode = id->productCode == 0 ? 1 : 0;
    return 1;
}

// The product code read from the node again: its loader reports 0.
int32_t TCOPN_Downloader::ConfirmDownloadMode(uint32_t* inDownloadMode) {
    const uint8_t n = node();
    if (!copnInterface || !inDownloadMode || n >= TQVX_COPN_Interface::MaxNodes)
        return 0;
    uint32_t productCode = 0;
    if (!copnInterface->SDO_Upload_UNSIGNED32(handle(), n, IdentityIndex, ProductCodeSubIndex,
                                              &productCode))
        return 0;
    copnInterface->Identity[n].productCode = productCode;
    return IsInDownloadMode(inDownloadMode);
}

int32_t TCOPN_Downloader::EnterDownloadMode(uint32_t password) {
    if (!copnInterface)
        return 0;
    if (!copnInterface->SDO_Download_UNSIGNED32(handle(), node(), DownloadModePassword, 0,
                                                password))
        return 0;
    const int32_t result = copnInterface->NMT_ResetNode(handle(), node());
    if (result) {
        forgetNode();
        Sleep(DownloadModePause);
    }
    return result;
}

int32_t TCOPN_Downloader::SetSectorChecksum(uint8_t sector) {
    if (!copnInterface)
        return 0;
    if (!selectSector(sector))
        return 0;
    // Older nodes lack the size and width entries, and the defaults are theirs. A node that
    // has them but did not answer (a time-out, a bus fault, another refusal) gets no checksum:
    // a guessed one could pass as valid for content the node does not hold.
    uint32_t size = 0;
    SetLastError(0);
    if (!copnInterface->SDO_Upload_UNSIGNED32(handle(), node(), SectorSize, 0, &size)) {
        if (GetLastError() != NoSuchObject)
            return 0;
        size = DefaultChecksumSize;
    }
    uint8_t width = 0;
    SetLastError(0);
    if (!copnInterface->SDO_Upload_UNSIGNED8(handle(), node(), ChecksumWidth, 0, &width)) {
        if (GetLastError() != NoSuchObject)
            return 0;
        width = DefaultChecksumWidth;
    }

    // An unsigned 32-bit sum that wraps, never past the end of the mirror.
    uint32_t sum = 0;
    if (width == 8)
        sum = imageMirror.byteSum(size);
    else if (width == 16)
        sum = imageMirror.wordSum(size);
    return copnInterface->SDO_Download_UNSIGNED32(handle(), node(), SectorChecksum, 0, sum);
}

int32_t TCOPN_Downloader::ChecksumOk(uint8_t sector, uint32_t* ok) {
    if (!copnInterface || !ok)
        return 0;
    if (!selectSector(sector))
        return 0;
    uint8_t state = 0;
    const int32_t result =
        copnInterface->SDO_Upload_UNSIGNED8(handle(), node(), SectorChecksumState, 0, &state);
    if (result)
        *ok = state;
    return result;
}

int32_t TCOPN_Downloader::Reset() {
    if (!copnInterface)
        return 0;
    const int32_t result = copnInterface->NMT_ResetNode(handle(), node());
    forgetNode();
    return result;
}

// Identity texts, from what the last poll read.

std::string TCOPN_Downloader::GetNodeString(uint8_t node) {
    return copnInterface ? std::to_string(node) : std::string();
}

std::string TCOPN_Downloader::GetSerialNumber(uint8_t node) {
    const NodeIdentity* id = identity(node);
    if (!id)
        return {};
    char text[24];
    std::snprintf(text, sizeof text, "%lu", static_cast<unsigned long>(id->serialNumber));
    return text;
}

std::string TCOPN_Downloader::GetProductCode(uint8_t node) {
    const NodeIdentity* id = identity(node);
    return id ? std::to_string(id->productCode) : std::string();
}

std::string TCOPN_Downloader::GetDeviceType(uint8_t node) {
    const NodeIdentity* id = identity(node);
    if (!id)
        return {};
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(id->deviceType));
    return text;
}

std::string TCOPN_Downloader::GetRevision(uint8_t node) {
    const NodeIdentity* id = identity(node);
    return id ? id->softwareVersion.Text() : std::string();
}

std::string TCOPN_Downloader::GetVendor(uint8_t node) {
    const NodeIdentity* id = identity(node);
    return id ? std::to_string(id->vendorId) : std::string();
}

std::string TCOPN_Downloader::GetProductName(uint8_t node) {
    const NodeIdentity* id = identity(node);
    return id ? id->deviceName.Text() : std::string();
}

std::string TCOPN_Downloader::GetBaudRateString() {
    if (!copnInterface)
        return {};
    return std::to_string(copnInterface->networkSettings.BitRate / 1000) + "k";
}

std::string TCOPN_Downloader::GetNodeIdString() {
    return copnInterface ? std::to_string(copnInterface->networkSettings.NodeId) : std::string();
}

// Network access.

int32_t TCOPN_Downloader::GoOnline() {
    if (!copnInterface)
        return 0;
    if (!askCaution(GoOnlineQuestion))
        return 0;
    std::vector<uint8_t> every;
    for (unsigned n = FirstNode; n <= LastNode; ++n)
        every.push_back(static_cast<uint8_t>(n));
    if (!openAndGoOnline(every))
        return 0;
    return copnInterface->NMT_ResetCommunication(handle(), AllNodes);
}

int32_t TCOPN_Downloader::GoOnlineToNodes(const std::vector<uint8_t>& nodes,
                                          std::vector<uint8_t>* answered) {
    if (!copnInterface)
        return 0;
    if (!openAndGoOnline(nodes))
        return 0;
    copnInterface->SetSDOTimeout(handle(), copnInterface->SdoTimeout());
    // A node that sends nothing of its own is seen once it answers: a read of its device
    // type, which changes nothing on it.
    for (uint8_t n : nodes) {
        uint32_t deviceType = 0;
        if (n >= FirstNode && n <= LastNode &&
            copnInterface->SDO_Upload_UNSIGNED32(handle(), n, DeviceTypeIndex, 0, &deviceType) &&
            answered)
            answered->push_back(n);
    }
    return 1;
}

int32_t TCOPN_Downloader::openAndGoOnline(const std::vector<uint8_t>& nodes) {
    TQVX_COPN_Interface& copn = *copnInterface;

    int32_t opened;
    DWORD error;
    {
        HourGlassCursor hourglass;
        uint32_t h = copn.driverHandle;
        SetLastError(ERROR_SUCCESS); // what the driver leaves is about this call alone
        opened = copn.OpenInterface(&h, &copn.interfaceConfig);
        error = GetLastError();
        copn.driverHandle = h;
    }
    if (!opened) {
        showError(error == InterfaceNotInModeError ? "Interface is not in correct mode!"
                                                   : "Cannot Open Interface",
                  "Error");
        return 0;
    }

    int32_t accepted;
    {
        HourGlassCursor hourglass;
        accepted = copn.SetNodeID(handle(), static_cast<uint8_t>(copn.networkSettings.NodeId));
    }
    if (!accepted) {
        showError("Cannot Set Node ID", "ERROR");
        return 0;
    }
    {
        HourGlassCursor hourglass;
        copn.SetBaud(handle(), copn.networkSettings.BitRate);
    }
    for (uint8_t n : nodes)
        if (n >= FirstNode && n <= LastNode)
            copn.AddNode(handle(), n);

    int32_t online;
    {
        HourGlassCursor hourglass;
        online = copn.SetOnline(handle(), 1);
    }
    if (!online) {
        showError("Cannot Go Online", "ERROR");
        return 0;
    }
    return 1;
}

int32_t TCOPN_Downloader::GoOffline() {
    if (!copnInterface)
        return 0;
    copnInterface->SetOnline(handle(), 0);
    const int32_t result = copnInterface->CloseCard(handle());
    clearNodeTables();
    return result;
}

// Resets the communication of every address not listed online, one at a time; the nodes
// already listed are left alone. With every address listed nothing is sent, and the search
// has nothing left to do.
int32_t TCOPN_Downloader::StartBrowse() {
    if (!copnInterface)
        return 0;
    if (!askCaution(BrowseQuestion))
        return 0;
    int32_t result = 1;
    for (unsigned n = FirstNode; n <= LastNode; ++n)
        if (Online[n] == 0)
            result = copnInterface->NMT_ResetCommunication(handle(), static_cast<uint8_t>(n));
    return result;
}

int32_t TCOPN_Downloader::StopBrowse() {
    return 0;
}

int32_t TCOPN_Downloader::VersionInformationWindow() {
    return 0;
}

int32_t TCOPN_Downloader::UpdateNodesOnline(uint32_t* changed) {
    if (!copnInterface)
        return 0;
    TQVX_COPN_Interface& copn = *copnInterface;
    uint32_t change = 0;
    uint32_t count = 0;
    Online[0] = 0;
    NodeId[0] = 0;
    for (unsigned n = FirstNode; n <= LastNode; ++n) {
        uint32_t online = 0;
        if (!copn.GetNodeOnline(handle(), static_cast<uint8_t>(n), &online))
            online = 0;
        NodeId[n] = n;
        Online[n] = online;
        if (online)
            ++count;
    }
    for (unsigned n = FirstNode; n <= LastNode; ++n) {
        if (Online[n] == OnlinePrevious[n] && NodeId[n] == NodeIdPrevious[n])
            continue;
        if (Online[n]) {
            // Just came online: its identity, and guarding from now on.
            copn.ReadNodeIdentity(static_cast<uint8_t>(n));
            copn.NMT_StartGuarding(handle(), static_cast<uint8_t>(n), GuardLifeTimeFactor,
                                   GuardTime);
        }
        change = 1;
        OnlinePrevious[n] = Online[n].load();
        NodeIdPrevious[n] = NodeId[n].load();
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

int32_t TCOPN_Downloader::ConfigurationWindow() {
    if (!copnInterface)
        return 0;
    const int32_t accepted = copnInterface->CANopenConfigurationWindow(
        &copnInterface->interfaceConfig, &copnInterface->networkSettings);
    if (accepted)
        copnInterface->SetSdoTimeoutChoice(copnInterface->networkSettings.SdoTimeout);
    return accepted;
}

int32_t TCOPN_Downloader::HardwareConfigurationWindow(uint32_t value) {
    return copnInterface ? copnInterface->HardwareConfigurationWindow(value) : 0;
}

int32_t TCOPN_Downloader::ReadConfiguration(const char* keyPath) {
    if (!copnInterface)
        return 0;
    const int32_t read = copnInterface->ReadConfiguration(keyPath, &copnInterface->interfaceConfig,
                                                          &copnInterface->networkSettings);
    if (read)
        copnInterface->SetSdoTimeoutChoice(copnInterface->networkSettings.SdoTimeout);
    return read;
}

int32_t TCOPN_Downloader::SaveConfiguration(const char* keyPath) {
    if (!copnInterface)
        return 0;
    return copnInterface->SaveConfiguration(keyPath, &copnInterface->interfaceConfig,
                                            &copnInterface->networkSettings);
}

int32_t TCOPN_Downloader::GetMaxNodes(uint16_t* count) {
    if (!count)
        return 0;
    *count = TQVX_COPN_Interface::MaxNodes;
    return 1;
}

int32_t TCOPN_Downloader::GetInterfaceConfig(InterfaceConfigRecord* config) {
    if (!copnInterface || !config)
        return 0;
    std::memcpy(config, &copnInterface->interfaceConfig, sizeof *config);
    return 1;
}

// The main window then uses its own browse time.
int32_t TCOPN_Downloader::GetBrowseTime(uint32_t*) {
    return 0;
}

int32_t TCOPN_Downloader::GetInterfaceName(char* text) {
    if (!copnInterface || !text)
        return 0;
    return copnInterface->GetInterfaceName(copnInterface->interfaceConfig.InterfaceType, text);
}
