// The exports that work on an open interface: the interface itself, explicit messaging,
// connections and the scanner. Each finds the handle's interface and hands the call to its
// master.

#include "DnetExports.h"

#include "DnetDriver.h"
#include "DnetErrors.h"
#include "LittleEndian.h"
#include "ProgramLastError.h"
#include "Qvx_dnet_exports.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

using bus::devicenet::ExplicitFailure;
using bus::devicenet::ExplicitResult;
using bus::devicenet::ExplicitStatus;
using dnet::Library;
using dnet::Master;
using drivercore::FromLittleEndian;
using drivercore::ToLittleEndian;
using std::int32_t;
using std::uint16_t;
using std::uint32_t;
using std::uint8_t;

namespace {

template <typename F> int32_t onMaster(uint32_t h, F&& f) {
    return Library().OnMaster<Master>(h, std::forward<F>(f));
}

// Whether the node answered with success; a request the node left unanswered leaves
// QVX_DNET_ERROR_NO_ANSWER in the caller's last-error value, so that it can be told from a
// refusal.
bool done(const ExplicitResult& result) {
    if (result.status == ExplicitStatus::Failed && result.failure == ExplicitFailure::Timeout)
        SetProgramLastError(QVX_DNET_ERROR_NO_ANSWER);
    return result.status == ExplicitStatus::Done;
}

// Copies what a node answered into a caller's buffer of *length bytes; *length becomes the
// number of bytes written. An answer longer than the buffer is not cut to fit: false, and
// the buffer and *length stay as they were.
bool deliver(const std::vector<uint8_t>& data, uint16_t* length, uint8_t* out) {
    if (data.size() > *length)
        return false;
    if (!data.empty())
        std::memcpy(out, data.data(), data.size());
    *length = static_cast<uint16_t>(data.size());
    return true;
}

int32_t setAttribute(uint32_t h, uint8_t mac, uint16_t classId, uint16_t instance,
                     uint16_t attribute, std::vector<uint8_t> value) {
    if (attribute > 0xFF)
        return 0;
    return onMaster(h, [&](Master& master) {
        return done(
            master.SetAttribute(mac, classId, instance, static_cast<uint8_t>(attribute), value));
    });
}

template <typename T>
int32_t setValue(uint32_t h, uint8_t mac, uint16_t classId, uint16_t instance, uint16_t attribute,
                 T value) {
    return setAttribute(h, mac, classId, instance, attribute, ToLittleEndian(value));
}

template <typename T>
int32_t getValue(uint32_t h, uint8_t mac, uint16_t classId, uint16_t instance, uint16_t attribute,
                 T* value) {
    if (!value || attribute > 0xFF)
        return 0;
    return onMaster(h, [&](Master& master) {
        const ExplicitResult result =
            master.GetAttribute(mac, classId, instance, static_cast<uint8_t>(attribute));
        if (!done(result) || result.data.size() != sizeof(T))
            return false;
        *value = FromLittleEndian<T>(result.data);
        return true;
    });
}

int32_t allocate(uint32_t h, uint8_t mac, uint8_t flags) {
    if (flags != dnet::ExplicitConnection)
        return 0;
    return onMaster(h, [&](Master& master) { return done(master.Allocate(mac)); });
}

int32_t release(uint32_t h, uint8_t mac, uint8_t flags) {
    if (flags != dnet::ExplicitConnection)
        return 0;
    return onMaster(h, [&](Master& master) { return done(master.Release(mac)); });
}

} // namespace

// --- The interface ------------------------------------------------------------------------

DNET_EXPORT int32_t SetMacID(uint32_t h, uint8_t mac) {
    return onMaster(h, [&](Master& master) { return master.SetOwnMac(mac); });
}

DNET_EXPORT int32_t GetMacID(uint32_t h, uint8_t* mac) {
    if (!mac)
        return 0;
    return onMaster(h, [&](Master& master) { return *mac = master.OwnMac(), true; });
}

// --- Explicit messaging -------------------------------------------------------------------

DNET_EXPORT int32_t GetAttribute(uint32_t h, uint8_t mac, uint16_t classId, uint16_t instance,
                                 uint16_t attribute, uint16_t* length, uint8_t* data) {
    if (!length || (!data && *length != 0) || attribute > 0xFF)
        return 0;
    return onMaster(h, [&](Master& master) {
        const ExplicitResult result =
            master.GetAttribute(mac, classId, instance, static_cast<uint8_t>(attribute));
        return done(result) && deliver(result.data, length, data);
    });
}

DNET_EXPORT int32_t GetAttribute_USINT(uint32_t h, uint8_t mac, uint16_t classId, uint16_t instance,
                                       uint16_t attribute, uint8_t* value) {
    return getValue(h, mac, classId, instance, attribute, value);
}

DNET_EXPORT int32_t GetAttribute_SINT(uint32_t h, uint8_t mac, uint16_t classId, uint16_t instance,
                                      uint16_t attribute, std::int8_t* value) {
    return getValue(h, mac, classId, instance, attribute, value);
}

DNET_EXPORT int32_t GetAttribute_UINT(uint32_t h, uint8_t mac, uint16_t classId, uint16_t instance,
                                      uint16_t attribute, uint16_t* value) {
    return getValue(h, mac, classId, instance, attribute, value);
}

DNET_EXPORT int32_t GetAttribute_INT(uint32_t h, uint8_t mac, uint16_t classId, uint16_t instance,
                                     uint16_t attribute, std::int16_t* value) {
    return getValue(h, mac, classId, instance, attribute, value);
}

DNET_EXPORT int32_t GetAttribute_UDINT(uint32_t h, uint8_t mac, uint16_t classId, uint16_t instance,
                                       uint16_t attribute, uint32_t* value) {
    return getValue(h, mac, classId, instance, attribute, value);
}

DNET_EXPORT int32_t GetAttribute_DINT(uint32_t h, uint8_t mac, uint16_t classId, uint16_t instance,
                                      uint16_t attribute, int32_t* value) {
    return getValue(h, mac, classId, instance, attribute, value);
}

DNET_EXPORT int32_t GetAttribute_REAL(uint32_t h, uint8_t mac, uint16_t classId, uint16_t instance,
                                      uint16_t attribute, float* value) {
    return getValue(h, mac, classId, instance, attribute, value);
}

DNET_EXPORT int32_t GetAttribute_DOUBLE(uint32_t h, uint8_t mac, uint16_t classId,
                                        uint16_t instance, uint16_t attribute, double* value) {
    return getValue(h, mac, classId, instance, attribute, value);
}

DNET_EXPORT int32_t SetAttribute(uint32_t h, uint8_t mac, uint16_t classId, uint16_t instance,
                                 uint16_t attribute, uint16_t length, const uint8_t* data) {
    if (!data && length != 0)
        return 0;
    return setAttribute(h, mac, classId, instance, attribute,
                        length ? std::vector<uint8_t>(data, data + length)
                               : std::vector<uint8_t>{});
}

DNET_EXPORT int32_t SetAttribute_USINT(uint32_t h, uint8_t mac, uint16_t classId, uint16_t instance,
                                       uint16_t attribute, uint8_t value) {
    return setValue(h, mac, classId, instance, attribute, value);
}

DNET_EXPORT int32_t SetAttribute_SINT(uint32_t h, uint8_t mac, uint16_t classId, uint16_t instance,
                                      uint16_t attribute, std::int8_t value) {
    return setValue(h, mac, classId, instance, attribute, value);
}

DNET_EXPORT int32_t SetAttribute_UINT(uint32_t h, uint8_t mac, uint16_t classId, uint16_t instance,
                                      uint16_t attribute, uint16_t value) {
    return setValue(h, mac, classId, instance, attribute, value);
}

DNET_EXPORT int32_t SetAttribute_INT(uint32_t h, uint8_t mac, uint16_t classId, uint16_t instance,
                                     uint16_t attribute, std::int16_t value) {
    return setValue(h, mac, classId, instance, attribute, value);
}

DNET_EXPORT int32_t SetAttribute_UDINT(uint32_t h, uint8_t mac, uint16_t classId, uint16_t instance,
                                       uint16_t attribute, uint32_t value) {
    return setValue(h, mac, classId, instance, attribute, value);
}

DNET_EXPORT int32_t SetAttribute_DINT(uint32_t h, uint8_t mac, uint16_t classId, uint16_t instance,
                                      uint16_t attribute, int32_t value) {
    return setValue(h, mac, classId, instance, attribute, value);
}

DNET_EXPORT int32_t SetAttribute_REAL(uint32_t h, uint8_t mac, uint16_t classId, uint16_t instance,
                                      uint16_t attribute, float value) {
    return setValue(h, mac, classId, instance, attribute, value);
}

DNET_EXPORT int32_t SetAttribute_DOUBLE(uint32_t h, uint8_t mac, uint16_t classId,
                                        uint16_t instance, uint16_t attribute, double value) {
    return setValue(h, mac, classId, instance, attribute, value);
}

DNET_EXPORT int32_t ExplicitService(uint32_t h, uint8_t mac, uint8_t service, uint16_t classId,
                                    uint16_t instance, uint16_t requestLength,
                                    const uint8_t* request, uint16_t* responseLength,
                                    uint8_t* response) {
    if ((!request && requestLength != 0) || !responseLength || (!response && *responseLength != 0))
        return 0;
    return onMaster(h, [&](Master& master) {
        std::vector<uint8_t> data;
        if (requestLength)
            data.assign(request, request + requestLength);
        const ExplicitResult result =
            master.Request(mac, service, classId, instance, std::move(data));
        return done(result) && deliver(result.data, responseLength, response);
    });
}

// --- Connections --------------------------------------------------------------------------

DNET_EXPORT int32_t Allocate(uint32_t h, uint8_t mac, uint8_t flags) {
    return allocate(h, mac, flags);
}

DNET_EXPORT int32_t Release(uint32_t h, uint8_t mac, uint8_t flags) {
    return release(h, mac, flags);
}

DNET_EXPORT int32_t Allocate_MS_Connection_Set(uint32_t h, uint8_t mac, uint8_t flags) {
    return allocate(h, mac, flags);
}

DNET_EXPORT int32_t Release_MS_Connection_Set(uint32_t h, uint8_t mac, uint8_t flags) {
    return release(h, mac, flags);
}

DNET_EXPORT int32_t ReleaseAll(uint32_t h) {
    return onMaster(h, [](Master& master) { return master.ReleaseAll(); });
}

DNET_EXPORT int32_t SetExplicitActive(uint32_t h, uint8_t mac, uint32_t active) {
    return active ? allocate(h, mac, dnet::ExplicitConnection)
                  : release(h, mac, dnet::ExplicitConnection);
}

DNET_EXPORT int32_t Allocate_UCMM(uint32_t, uint8_t, uint8_t) {
    return 0;
}

DNET_EXPORT int32_t UCMM_CloseConnection(uint32_t, uint8_t) {
    return 0;
}

// --- Scanner ------------------------------------------------------------------------------

DNET_EXPORT int32_t AddToScanlist(uint32_t h, uint8_t mac, uint8_t flags, void* params) {
    std::array<uint16_t, 4> values{};
    if (params)
        std::memcpy(values.data(), params, sizeof values);
    return onMaster(h, [&](Master& master) { return master.AddToScanlist(mac, flags, values); });
}

DNET_EXPORT int32_t RemoveFromScanlist(uint32_t h, uint8_t mac, uint8_t flags) {
    return onMaster(h, [&](Master& master) { return master.RemoveFromScanlist(mac, flags); });
}

DNET_EXPORT int32_t StartScan(uint32_t h) {
    return onMaster(h, [](Master& master) { return master.StartScan(), true; });
}

DNET_EXPORT int32_t StopScan(uint32_t h) {
    return onMaster(h, [](Master& master) { return master.StopScan(), true; });
}

DNET_EXPORT int32_t NodeOnline(uint32_t h, uint8_t mac, uint32_t* present) {
    if (!present)
        return 0;
    return onMaster(h, [&](Master& master) {
        const auto now = master.NodePresent(mac);
        return now && (*present = *now ? 1 : 0, true);
    });
}

// --- I/O connections ----------------------------------------------------------------------

DNET_EXPORT int32_t SetPollActive(uint32_t, uint8_t, uint32_t) {
    return 0;
}

DNET_EXPORT int32_t SetStrobeActive(uint32_t, uint8_t, uint32_t) {
    return 0;
}

DNET_EXPORT int32_t SetCOSCyclicActive(uint32_t, uint8_t, uint32_t) {
    return 0;
}

DNET_EXPORT int32_t GetPollActive(uint32_t, uint8_t, uint32_t*) {
    return 0;
}

DNET_EXPORT int32_t GetStrobeActive(uint32_t, uint8_t, uint32_t*) {
    return 0;
}

DNET_EXPORT int32_t GetCOSCyclicActive(uint32_t, uint8_t, uint32_t*) {
    return 0;
}

DNET_EXPORT int32_t SetPollInterval(uint32_t, uint16_t) {
    return 0;
}

DNET_EXPORT int32_t SetStrobeInterval(uint32_t, uint16_t) {
    return 0;
}

DNET_EXPORT int32_t GetPollInterval(uint32_t, uint16_t*) {
    return 0;
}

DNET_EXPORT int32_t GetStrobeInterval(uint32_t, uint16_t*) {
    return 0;
}

DNET_EXPORT int32_t SetIOConsumeData(uint32_t, uint8_t, uint16_t, const uint8_t*) {
    return 0;
}

DNET_EXPORT int32_t GetIOConsumeData(uint32_t, uint8_t, uint16_t*, uint8_t*) {
    return 0;
}

DNET_EXPORT int32_t GetIOProduceData(uint32_t, uint8_t, uint16_t*, uint8_t*) {
    return 0;
}

DNET_EXPORT int32_t GetConnectionSize(uint32_t, uint8_t, uint8_t, uint16_t*, uint16_t*) {
    return 0;
}

DNET_EXPORT int32_t CalculateResponseMaxMinAvg(uint32_t, uint8_t, uint32_t*, uint32_t*, uint32_t*) {
    return 0;
}

DNET_EXPORT int32_t ResetConnectionCounters(uint32_t, uint8_t) {
    return 0;
}

DNET_EXPORT int32_t Reset_NodeConnectionTimers(uint32_t, uint8_t) {
    return 0;
}
