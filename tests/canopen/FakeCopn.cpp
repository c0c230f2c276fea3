// A stand-in for libQVX_COPN.so that records every call with its arguments and answers from a
// script: a result per export (1 unless set) and results queued for the next calls of an
// export (FakeDriverLibrary.h), an object dictionary per node for the uploads, and an online
// flag per node. Tests reach its controls (Fake_*) through the same library the program
// loaded. Built twice: whole, and without NMT_StartGuarding (FAKE_COPN_WITHOUT_GUARDING).
//
// Each export is written out from the driver's documented signature and checked against the
// program's types, so the two cannot drift apart unnoticed.

#include "FakeDriverLibrary.h"
#include "Qvx_copn_exports.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <map>
#include <mutex>
#include <string>
#include <tuple>
#include <type_traits>
#include <vector>

using std::int32_t;
using std::uint16_t;
using std::uint32_t;
using std::uint8_t;

namespace {

constexpr uint32_t FakeHandle = 0x100;

using ObjectKey = std::tuple<uint8_t, uint16_t, uint8_t>; // node, index, sub-index

std::mutex mutex;
std::map<ObjectKey, std::vector<uint8_t>> objects;
uint32_t nodeOnline[256];
uint32_t openError = 0;
uint8_t storedConfig[QVX_COPN_CONFIG_SIZE];
QVX_COPN_NetworkSettings storedSettings;

void setProgramLastError(uint32_t value);

// The entry's bytes, when the node has it. Like the real driver, a failed upload leaves its
// SDO abort code in the program's last-error value: "object does not exist" for an entry the
// node lacks, and the time-out for an upload the test made fail.
bool object(int32_t result, uint8_t node, uint16_t index, uint8_t sub, std::vector<uint8_t>& out) {
    if (!result) {
        setProgramLastError(0x05040000);
        return false;
    }
    std::lock_guard lock(mutex);
    auto it = objects.find({node, index, sub});
    if (it == objects.end()) {
        setProgramLastError(0x06020000);
        return false;
    }
    out = it->second;
    return true;
}

uint32_t littleEndian(const std::vector<uint8_t>& data, std::size_t width) {
    uint32_t value = 0;
    for (std::size_t i = 0; i < width && i < data.size(); ++i)
        value |= static_cast<uint32_t>(data[i]) << (8 * i);
    return value;
}

void setProgramLastError(uint32_t value) {
    using Setter = void (*)(uint32_t);
    if (auto set = reinterpret_cast<Setter>(dlsym(RTLD_DEFAULT, "ZandrelSetLastError")))
        set(value);
}

std::string settingsText(const void* config, const QVX_COPN_NetworkSettings* settings) {
    uint32_t type = 0;
    if (config)
        std::memcpy(&type, config, sizeof type);
    return std::to_string(type) + "," + std::to_string(settings ? settings->NodeId : 0u) + "," +
           std::to_string(settings ? settings->BitRate : 0u);
}

} // namespace

// Controls.

EXPORT void Fake_Reset() {
    fake::ResetScript();
    std::lock_guard lock(mutex);
    objects.clear();
    std::memset(nodeOnline, 0, sizeof nodeOnline);
    openError = 0;
    std::memset(storedConfig, 0, sizeof storedConfig);
    storedSettings = {};
}
// An entry of a node's object dictionary; uploads of an entry the node lacks fail.
EXPORT void Fake_SetObject(uint8_t node, uint16_t index, uint8_t sub, const uint8_t* data,
                           uint32_t length) {
    std::lock_guard lock(mutex);
    objects[{node, index, sub}] = std::vector<uint8_t>(data, data + length);
}
EXPORT void Fake_SetNodeOnline(uint8_t node, uint32_t value) {
    std::lock_guard lock(mutex);
    nodeOnline[node] = value;
}
// The last-error value a failing OpenInterface leaves in the program (0: none).
EXPORT void Fake_SetOpenError(uint32_t value) {
    std::lock_guard lock(mutex);
    openError = value;
}
// What ReadConfiguration and an accepted configuration window write into the records.
EXPORT void Fake_SetSettings(const void* config, const QVX_COPN_NetworkSettings* settings) {
    std::lock_guard lock(mutex);
    std::memcpy(storedConfig, config, sizeof storedConfig);
    storedSettings = *settings;
}

// The exports the program calls.

EXPORT int32_t UnloadDriver() {
    return CALL(UnloadDriver);
}
EXPORT int32_t OpenInterface(uint32_t* handle, void* config) {
    uint32_t type = 0;
    std::memcpy(&type, config, sizeof type);
    const int32_t result = CALL(OpenInterface, type);
    if (result) {
        *handle = FakeHandle;
    } else {
        uint32_t error;
        {
            std::lock_guard lock(mutex);
            error = openError;
        }
        if (error)
            setProgramLastError(error);
    }
    return result;
}
EXPORT int32_t CloseCard(uint32_t handle) {
    return CALL(CloseCard, handle);
}
EXPORT int32_t SetOnline(uint32_t handle, uint32_t online) {
    return CALL(SetOnline, handle, online);
}
EXPORT int32_t SetBaud(uint32_t handle, uint32_t bitRate) {
    return CALL(SetBaud, handle, bitRate);
}
EXPORT int32_t SetNodeID(uint32_t handle, uint8_t nodeId) {
    return CALL(SetNodeID, handle, nodeId);
}
EXPORT int32_t AddNode(uint32_t handle, uint8_t node) {
    return CALL(AddNode, handle, node);
}
EXPORT int32_t SDO_Download_UNSIGNED8(uint32_t handle, uint8_t node, uint16_t index, uint8_t sub,
                                      uint8_t value) {
    return CALL(SDO_Download_UNSIGNED8, handle, node, fake::Hex(index, 4), sub, value);
}
EXPORT int32_t SDO_Download_UNSIGNED32(uint32_t handle, uint8_t node, uint16_t index, uint8_t sub,
                                       uint32_t value) {
    return CALL(SDO_Download_UNSIGNED32, handle, node, fake::Hex(index, 4), sub, value);
}
EXPORT int32_t SDO_Download(uint32_t handle, uint8_t node, uint16_t index, uint8_t sub,
                            uint32_t length, const uint8_t* data) {
    return CALL(SDO_Download, handle, node, fake::Hex(index, 4), sub, length,
                fake::Bytes(data, length));
}
EXPORT int32_t SDO_Upload_UNSIGNED8(uint32_t handle, uint8_t node, uint16_t index, uint8_t sub,
                                    uint8_t* value) {
    int32_t result = CALL(SDO_Upload_UNSIGNED8, handle, node, fake::Hex(index, 4), sub);
    std::vector<uint8_t> data;
    if (!object(result, node, index, sub, data))
        result = 0;
    if (result)
        *value = static_cast<uint8_t>(littleEndian(data, 1));
    return result;
}
EXPORT int32_t SDO_Upload_UNSIGNED32(uint32_t handle, uint8_t node, uint16_t index, uint8_t sub,
                                     uint32_t* value) {
    int32_t result = CALL(SDO_Upload_UNSIGNED32, handle, node, fake::Hex(index, 4), sub);
    std::vector<uint8_t> data;
    if (!object(result, node, index, sub, data))
        result = 0;
    if (result)
        *value = littleEndian(data, 4);
    return result;
}
// Records the room offered; gives as much of the entry as fits.
EXPORT int32_t SDO_Upload(uint32_t handle, uint8_t node, uint16_t index, uint8_t sub,
                          uint32_t* length, uint8_t* data) {
    int32_t result = CALL(SDO_Upload, handle, node, fake::Hex(index, 4), sub, *length);
    std::vector<uint8_t> entry;
    if (!object(result, node, index, sub, entry))
        result = 0;
    if (result) {
        const uint32_t n = std::min<uint32_t>(*length, static_cast<uint32_t>(entry.size()));
        std::memcpy(data, entry.data(), n);
        *length = n;
    }
    return result;
}
EXPORT int32_t NMT_ResetNode(uint32_t handle, uint8_t node) {
    return CALL(NMT_ResetNode, handle, node);
}
EXPORT int32_t NMT_ResetCommunication(uint32_t handle, uint8_t node) {
    return CALL(NMT_ResetCommunication, handle, node);
}
#ifndef FAKE_COPN_WITHOUT_GUARDING
EXPORT int32_t NMT_StartGuarding(uint32_t handle, uint8_t node, uint8_t lifeTimeFactor,
                                 uint16_t guardTimeMs) {
    return CALL(NMT_StartGuarding, handle, node, lifeTimeFactor, guardTimeMs);
}
static_assert(std::is_same_v<decltype(&NMT_StartGuarding), PFN_COPN_NMT_StartGuarding>);
#endif
EXPORT int32_t GetNodeOnline(uint32_t handle, uint8_t node, uint32_t* online) {
    const int32_t result = CALL(GetNodeOnline, handle, node);
    if (result) {
        std::lock_guard lock(mutex);
        *online = nodeOnline[node];
    }
    return result;
}
EXPORT int32_t SetSDOTimeout(uint32_t handle, uint16_t timeoutMs) {
    return CALL(SetSDOTimeout, handle, timeoutMs);
}
EXPORT int32_t HardwareConfigurationWindow(uint32_t value) {
    return CALL(HardwareConfigurationWindow, value);
}
EXPORT int32_t CANopenConfigurationWindow(void* config, void* networkSettings) {
    auto* settings = static_cast<QVX_COPN_NetworkSettings*>(networkSettings);
    const int32_t result =
        fake::Answer("CANopenConfigurationWindow",
                     "CANopenConfigurationWindow(" + settingsText(config, settings) + ")");
    if (result) {
        std::lock_guard lock(mutex);
        std::memcpy(config, storedConfig, sizeof storedConfig);
        *settings = storedSettings;
    }
    return result;
}
EXPORT int32_t SaveConfiguration(const char* keyPath, void* config, void* networkSettings) {
    const auto* settings = static_cast<const QVX_COPN_NetworkSettings*>(networkSettings);
    return fake::Answer("SaveConfiguration", std::string("SaveConfiguration(") + keyPath + "," +
                                                 settingsText(config, settings) + ")");
}
EXPORT int32_t ReadConfiguration(const char* keyPath, void* config, void* networkSettings) {
    auto* settings = static_cast<QVX_COPN_NetworkSettings*>(networkSettings);
    const int32_t result =
        fake::Answer("ReadConfiguration", std::string("ReadConfiguration(") + keyPath + ")");
    if (result) {
        std::lock_guard lock(mutex);
        std::memcpy(config, storedConfig, sizeof storedConfig);
        *settings = storedSettings;
    }
    return result;
}
EXPORT int32_t GetInterfaceName(uint32_t interfaceType, char* text) {
    const int32_t result = CALL(GetInterfaceName, interfaceType);
    if (result)
        std::snprintf(text, QVX_COPN_INTERFACE_NAME_SIZE, "Fake CAN %u", interfaceType);
    return result;
}

#define CHECK_TYPE(name, type)                                                                     \
    static_assert(std::is_same_v<decltype(&name), type>, #name " differs from the program's "      \
                                                               "type");
CHECK_TYPE(UnloadDriver, PFN_COPN_UnloadDriver)
CHECK_TYPE(OpenInterface, PFN_COPN_OpenInterface)
CHECK_TYPE(CloseCard, PFN_COPN_CloseCard)
CHECK_TYPE(SetOnline, PFN_COPN_SetOnline)
CHECK_TYPE(SetBaud, PFN_COPN_SetBaud)
CHECK_TYPE(SetNodeID, PFN_COPN_SetNodeID)
CHECK_TYPE(AddNode, PFN_COPN_AddNode)
CHECK_TYPE(SDO_Download_UNSIGNED8, PFN_COPN_SDO_Download_UNSIGNED8)
CHECK_TYPE(SDO_Download_UNSIGNED32, PFN_COPN_SDO_Download_UNSIGNED32)
CHECK_TYPE(SDO_Download, PFN_COPN_SDO_Download)
CHECK_TYPE(SDO_Upload_UNSIGNED8, PFN_COPN_SDO_Upload_UNSIGNED8)
CHECK_TYPE(SDO_Upload_UNSIGNED32, PFN_COPN_SDO_Upload_UNSIGNED32)
CHECK_TYPE(SDO_Upload, PFN_COPN_SDO_Upload)
CHECK_TYPE(NMT_ResetNode, PFN_COPN_NMT_ResetNode)
CHECK_TYPE(NMT_ResetCommunication, PFN_COPN_NMT_ResetCommunication)
CHECK_TYPE(GetNodeOnline, PFN_COPN_GetNodeOnline)
CHECK_TYPE(SetSDOTimeout, PFN_COPN_SetSDOTimeout)
CHECK_TYPE(HardwareConfigurationWindow, PFN_COPN_HardwareConfigurationWindow)
CHECK_TYPE(CANopenConfigurationWindow, PFN_COPN_CANopenConfigurationWindow)
CHECK_TYPE(SaveConfiguration, PFN_COPN_SaveConfiguration)
CHECK_TYPE(ReadConfiguration, PFN_COPN_ReadConfiguration)
CHECK_TYPE(GetInterfaceName, PFN_COPN_GetInterfaceName)

// The exports the program looks up and never calls: recorded all the same.
#define LOOKED_UP_ONLY(name)                                                                       \
    EXPORT int32_t name() {                                                                        \
        return CALL(name);                                                                         \
    }
LOOKED_UP_ONLY(LoadDriver)
LOOKED_UP_ONLY(OpenCard)
LOOKED_UP_ONLY(CloseInterface)
LOOKED_UP_ONLY(Hardware_Version)
LOOKED_UP_ONLY(Firmware_Version)
LOOKED_UP_ONLY(DLL_Version)
LOOKED_UP_ONLY(DLL_Name)
LOOKED_UP_ONLY(GetErrorString)
LOOKED_UP_ONLY(GetOnline)
LOOKED_UP_ONLY(GetBaud)
LOOKED_UP_ONLY(DisplayConfigurationWindow)
LOOKED_UP_ONLY(SetRegistryPath)
LOOKED_UP_ONLY(GetNodeID)
LOOKED_UP_ONLY(NodeOnline)
LOOKED_UP_ONLY(SDO_Download_UNSIGNED16)
LOOKED_UP_ONLY(SDO_Block_Download)
LOOKED_UP_ONLY(SDO_Upload_UNSIGNED16)
LOOKED_UP_ONLY(SDO_Upload_REAL32)
LOOKED_UP_ONLY(SDO_Block_Upload)
LOOKED_UP_ONLY(NMT_StartRemoteNode)
LOOKED_UP_ONLY(NMT_StopRemoteNode)
LOOKED_UP_ONLY(NMT_EnterPreOperational)
LOOKED_UP_ONLY(NMT_NodeGuard)
LOOKED_UP_ONLY(CheckEmergency)
LOOKED_UP_ONLY(Sync)
LOOKED_UP_ONLY(TimeStamp)
LOOKED_UP_ONLY(PDO_Write)
LOOKED_UP_ONLY(PDO_Read)
LOOKED_UP_ONLY(SDO_Upload_INTEGER8)
LOOKED_UP_ONLY(SDO_Upload_INTEGER16)
LOOKED_UP_ONLY(SDO_Upload_INTEGER32)
LOOKED_UP_ONLY(SDO_Download_INTEGER8)
LOOKED_UP_ONLY(SDO_Download_INTEGER16)
LOOKED_UP_ONLY(SDO_Download_INTEGER32)
LOOKED_UP_ONLY(NMT_StopGuarding)
LOOKED_UP_ONLY(GetNodeBootUpDetected)
LOOKED_UP_ONLY(ClearNodeBootUpDetected)
LOOKED_UP_ONLY(GetNodeState)
LOOKED_UP_ONLY(SetPDOTimeout)
LOOKED_UP_ONLY(RemoveNode)
LOOKED_UP_ONLY(AddPDO)
LOOKED_UP_ONLY(COP_PDO_Read_Data)
LOOKED_UP_ONLY(COP_PDO_Read_Data_wTime)
LOOKED_UP_ONLY(COP_PDO_Write_Data)
LOOKED_UP_ONLY(VersionInformationWindow)
LOOKED_UP_ONLY(PDO_Read_Receive_Count)
LOOKED_UP_ONLY(COP_PDO_Get_Event)
