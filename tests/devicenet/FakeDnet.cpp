// A stand-in for libQVX_DNET.so that records every call with its arguments and answers from
// a script: a result per export (1 unless set) and results queued for the next calls of an
// export (FakeDriverLibrary.h), attribute values per node, and a presence per node (with
// answers queued for the next polls). Tests reach its controls (Fake_*) through the same
// library the program loaded. Built twice: whole, and without NodeOnline
// (FAKE_DNET_WITHOUT_NODE_ONLINE).
//
// Each export is written out from the driver's documented signature and checked against the
// program's types, so the two cannot drift apart unnoticed.

#include "FakeDriverLibrary.h"
#include "Qvx_dnet_exports.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
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

using AttributeKey = std::tuple<uint8_t, uint16_t, uint16_t, uint16_t>; // mac, class, inst, attr

std::mutex mutex;
std::map<AttributeKey, std::vector<uint8_t>> attributes;
uint32_t present[256];
std::deque<uint32_t> queuedPresence[256];
uint8_t storedConfig[QVX_DNET_CONFIG_SIZE];
QVX_DNET_NetworkSettings storedSettings;

// The attribute's bytes, when the node has it.
bool attribute(uint8_t mac, uint16_t cls, uint16_t inst, uint16_t attr, std::vector<uint8_t>& out) {
    std::lock_guard lock(mutex);
    auto it = attributes.find({mac, cls, inst, attr});
    if (it == attributes.end())
        return false;
    out = it->second;
    return true;
}

template <typename T>
int32_t getValue(int32_t result, uint8_t mac, uint16_t cls, uint16_t inst, uint16_t attr,
                 T* value) {
    std::vector<uint8_t> data;
    if (!result || !attribute(mac, cls, inst, attr, data))
        return 0;
    T v = 0;
    for (std::size_t i = 0; i < sizeof(T) && i < data.size(); ++i)
        v = static_cast<T>(v | static_cast<T>(data[i]) << (8 * i));
    *value = v;
    return result;
}

std::string settingsText(const void* config, const void* settings) {
    uint32_t type = 0;
    if (config)
        std::memcpy(&type, config, sizeof type);
    QVX_DNET_NetworkSettings s{};
    if (settings)
        std::memcpy(&s, settings, sizeof s);
    return std::to_string(type) + "," + std::to_string(s.MacId) + "," + std::to_string(s.BaudRate);
}

} // namespace

// Controls.

EXPORT void Fake_Reset() {
    fake::ResetScript();
    std::lock_guard lock(mutex);
    attributes.clear();
    std::memset(present, 0, sizeof present);
    for (auto& queue : queuedPresence)
        queue.clear();
    std::memset(storedConfig, 0, sizeof storedConfig);
    storedSettings = {};
}
// An attribute of a node's object; reads of an attribute the node lacks fail.
EXPORT void Fake_SetAttribute(uint8_t mac, uint16_t cls, uint16_t inst, uint16_t attr,
                              const uint8_t* data, uint32_t length) {
    std::lock_guard lock(mutex);
    attributes[{mac, cls, inst, attr}] = std::vector<uint8_t>(data, data + length);
}
// The node's presence from now on.
EXPORT void Fake_SetPresent(uint8_t mac, uint32_t value) {
    std::lock_guard lock(mutex);
    present[mac] = value;
}
// The presence the next polls of the node give, in turn, before its own applies again.
EXPORT void Fake_QueuePresence(uint8_t mac, const uint32_t* values, uint32_t count) {
    std::lock_guard lock(mutex);
    queuedPresence[mac].insert(queuedPresence[mac].end(), values, values + count);
}
// What ReadConfiguration and an accepted configuration window write into the records.
EXPORT void Fake_SetSettings(const void* config, const QVX_DNET_NetworkSettings* settings) {
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
    if (result)
        *handle = FakeHandle;
    return result;
}
EXPORT int32_t CloseCard(uint32_t handle) {
    return CALL(CloseCard, handle);
}
// Records the room offered; gives as much of the attribute as fits.
EXPORT int32_t GetAttribute(uint32_t handle, uint8_t mac, uint16_t cls, uint16_t inst,
                            uint16_t attr, uint16_t* length, uint8_t* data) {
    int32_t result = CALL(GetAttribute, handle, mac, fake::Hex(cls, 2), inst, attr, *length);
    std::vector<uint8_t> value;
    if (result && !attribute(mac, cls, inst, attr, value))
        result = 0;
    if (result) {
        const uint16_t n = static_cast<uint16_t>(std::min<std::size_t>(*length, value.size()));
        if (n)
            std::memcpy(data, value.data(), n);
        *length = n;
    }
    return result;
}
EXPORT int32_t GetAttribute_USINT(uint32_t handle, uint8_t mac, uint16_t cls, uint16_t inst,
                                  uint16_t attr, uint8_t* value) {
    return getValue(CALL(GetAttribute_USINT, handle, mac, fake::Hex(cls, 2), inst, attr), mac, cls,
                    inst, attr, value);
}
EXPORT int32_t GetAttribute_UINT(uint32_t handle, uint8_t mac, uint16_t cls, uint16_t inst,
                                 uint16_t attr, uint16_t* value) {
    return getValue(CALL(GetAttribute_UINT, handle, mac, fake::Hex(cls, 2), inst, attr), mac, cls,
                    inst, attr, value);
}
EXPORT int32_t GetAttribute_UDINT(uint32_t handle, uint8_t mac, uint16_t cls, uint16_t inst,
                                  uint16_t attr, uint32_t* value) {
    return getValue(CALL(GetAttribute_UDINT, handle, mac, fake::Hex(cls, 2), inst, attr), mac, cls,
                    inst, attr, value);
}
EXPORT int32_t SetAttribute(uint32_t handle, uint8_t mac, uint16_t cls, uint16_t inst,
                            uint16_t attr, uint16_t length, const uint8_t* data) {
    return CALL(SetAttribute, handle, mac, fake::Hex(cls, 2), inst, attr, length,
                fake::Bytes(data, length));
}
EXPORT int32_t SetAttribute_USINT(uint32_t handle, uint8_t mac, uint16_t cls, uint16_t inst,
                                  uint16_t attr, uint8_t value) {
    return CALL(SetAttribute_USINT, handle, mac, fake::Hex(cls, 2), inst, attr, value);
}
EXPORT int32_t SetAttribute_UDINT(uint32_t handle, uint8_t mac, uint16_t cls, uint16_t inst,
                                  uint16_t attr, uint32_t value) {
    return CALL(SetAttribute_UDINT, handle, mac, fake::Hex(cls, 2), inst, attr, value);
}
// Records the request and the room offered for the response; answers with no bytes.
EXPORT int32_t ExplicitService(uint32_t handle, uint8_t mac, uint8_t service, uint16_t cls,
                               uint16_t inst, uint16_t requestLength, const uint8_t* request,
                               uint16_t* responseLength, uint8_t* response) {
    (void)response;
    const int32_t result =
        CALL(ExplicitService, handle, mac, fake::Hex(service, 2), fake::Hex(cls, 2), inst,
             requestLength, fake::Bytes(request, requestLength), *responseLength);
    if (result)
        *responseLength = 0;
    return result;
}
EXPORT int32_t SetBaud(uint32_t handle, uint32_t baud) {
    return CALL(SetBaud, handle, baud);
}
EXPORT int32_t SetMacID(uint32_t handle, uint8_t mac) {
    return CALL(SetMacID, handle, mac);
}
EXPORT int32_t SetOnline(uint32_t handle, uint32_t on) {
    return CALL(SetOnline, handle, on);
}
#ifndef FAKE_DNET_WITHOUT_NODE_ONLINE
EXPORT int32_t NodeOnline(uint32_t handle, uint8_t mac, uint32_t* isPresent) {
    const int32_t result = CALL(NodeOnline, handle, mac);
    if (result) {
        std::lock_guard lock(mutex);
        auto& queue = queuedPresence[mac];
        if (!queue.empty()) {
            *isPresent = queue.front();
            queue.pop_front();
        } else {
            *isPresent = present[mac];
        }
    }
    return result;
}
static_assert(std::is_same_v<decltype(&NodeOnline), PFN_DNET_NodeOnline>);
#endif
EXPORT int32_t AddToScanlist(uint32_t handle, uint8_t mac, uint8_t flags, void* params) {
    const auto* p = static_cast<const ScanlistEntryParams*>(params);
    return CALL(AddToScanlist, handle, mac, flags, p->Values[0], p->Values[1], p->Values[2],
                p->Values[3]);
}
EXPORT int32_t RemoveFromScanlist(uint32_t handle, uint8_t mac, uint8_t flags) {
    return CALL(RemoveFromScanlist, handle, mac, flags);
}
EXPORT int32_t StartScan(uint32_t handle) {
    return CALL(StartScan, handle);
}
EXPORT int32_t StopScan(uint32_t handle) {
    return CALL(StopScan, handle);
}
EXPORT int32_t DeviceNetConfigurationWindow(void* config, void* settings) {
    const int32_t result =
        fake::Answer("DeviceNetConfigurationWindow",
                     "DeviceNetConfigurationWindow(" + settingsText(config, settings) + ")");
    if (result) {
        std::lock_guard lock(mutex);
        std::memcpy(config, storedConfig, sizeof storedConfig);
        std::memcpy(settings, &storedSettings, sizeof storedSettings);
    }
    return result;
}
EXPORT int32_t HardwareConfigurationWindow(uint32_t value) {
    return CALL(HardwareConfigurationWindow, value);
}
EXPORT int32_t ReadConfiguration(const char* keyPath, void* config, void* settings) {
    const int32_t result =
        fake::Answer("ReadConfiguration", std::string("ReadConfiguration(") + keyPath + ")");
    if (result) {
        std::lock_guard lock(mutex);
        std::memcpy(config, storedConfig, sizeof storedConfig);
        std::memcpy(settings, &storedSettings, sizeof storedSettings);
    }
    return result;
}
EXPORT int32_t SaveConfiguration(const char* keyPath, void* config, void* settings) {
    return fake::Answer("SaveConfiguration", std::string("SaveConfiguration(") + keyPath + "," +
                                                 settingsText(config, settings) + ")");
}
EXPORT int32_t GetInterfaceName(uint32_t interfaceType, char* text) {
    const int32_t result = CALL(GetInterfaceName, interfaceType);
    if (result)
        std::snprintf(text, QVX_DNET_INTERFACE_NAME_SIZE, "Fake DeviceNet %u", interfaceType);
    return result;
}
EXPORT int32_t VersionInformationWindow(uint32_t handle) {
    return CALL(VersionInformationWindow, handle);
}

#define CHECK_TYPE(name)                                                                           \
    static_assert(std::is_same_v<decltype(&name), PFN_DNET_##name>,                                \
                  #name " differs from the program's type");
CHECK_TYPE(UnloadDriver)
CHECK_TYPE(OpenInterface)
CHECK_TYPE(CloseCard)
CHECK_TYPE(GetAttribute)
CHECK_TYPE(GetAttribute_USINT)
CHECK_TYPE(GetAttribute_UINT)
CHECK_TYPE(GetAttribute_UDINT)
CHECK_TYPE(SetAttribute)
CHECK_TYPE(SetAttribute_USINT)
CHECK_TYPE(SetAttribute_UDINT)
CHECK_TYPE(ExplicitService)
CHECK_TYPE(SetBaud)
CHECK_TYPE(SetMacID)
CHECK_TYPE(SetOnline)
CHECK_TYPE(AddToScanlist)
CHECK_TYPE(RemoveFromScanlist)
CHECK_TYPE(StartScan)
CHECK_TYPE(StopScan)
CHECK_TYPE(DeviceNetConfigurationWindow)
CHECK_TYPE(HardwareConfigurationWindow)
CHECK_TYPE(ReadConfiguration)
CHECK_TYPE(SaveConfiguration)
CHECK_TYPE(GetInterfaceName)
CHECK_TYPE(VersionInformationWindow)

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
LOOKED_UP_ONLY(GetAttribute_SINT)
LOOKED_UP_ONLY(GetAttribute_INT)
LOOKED_UP_ONLY(GetAttribute_DINT)
LOOKED_UP_ONLY(GetAttribute_REAL)
LOOKED_UP_ONLY(GetAttribute_DOUBLE)
LOOKED_UP_ONLY(SetAttribute_SINT)
LOOKED_UP_ONLY(SetAttribute_UINT)
LOOKED_UP_ONLY(SetAttribute_INT)
LOOKED_UP_ONLY(SetAttribute_DINT)
LOOKED_UP_ONLY(SetAttribute_REAL)
LOOKED_UP_ONLY(SetAttribute_DOUBLE)
LOOKED_UP_ONLY(GetBaud)
LOOKED_UP_ONLY(GetOnline)
LOOKED_UP_ONLY(GetMacID)
LOOKED_UP_ONLY(ReleaseAll)
LOOKED_UP_ONLY(Allocate)
LOOKED_UP_ONLY(Allocate_UCMM)
LOOKED_UP_ONLY(Release)
LOOKED_UP_ONLY(SetExplicitActive)
LOOKED_UP_ONLY(SetPollActive)
LOOKED_UP_ONLY(SetStrobeActive)
LOOKED_UP_ONLY(SetCOSCyclicActive)
LOOKED_UP_ONLY(GetPollActive)
LOOKED_UP_ONLY(GetStrobeActive)
LOOKED_UP_ONLY(GetCOSCyclicActive)
LOOKED_UP_ONLY(SetPollInterval)
LOOKED_UP_ONLY(SetStrobeInterval)
LOOKED_UP_ONLY(GetPollInterval)
LOOKED_UP_ONLY(GetStrobeInterval)
LOOKED_UP_ONLY(SetIOConsumeData)
LOOKED_UP_ONLY(GetIOConsumeData)
LOOKED_UP_ONLY(GetIOProduceData)
LOOKED_UP_ONLY(CalculateResponseMaxMinAvg)
LOOKED_UP_ONLY(ResetConnectionCounters)
LOOKED_UP_ONLY(Reset_NodeConnectionTimers)
LOOKED_UP_ONLY(GetConnectionSize)
LOOKED_UP_ONLY(Allocate_MS_Connection_Set)
LOOKED_UP_ONLY(Release_MS_Connection_Set)
LOOKED_UP_ONLY(UCMM_CloseConnection)
