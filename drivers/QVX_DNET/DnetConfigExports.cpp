// The exports that need no open handle: the library itself, its configuration and its
// windows.

#include "DnetDialogs.h"
#include "DnetExports.h"
#include "DnetInterface.h"
#include "DnetRegistry.h"
#include "DnetSettings.h"

#include <algorithm>
#include <cstring>
#include <string>

using std::int32_t;
using std::uint32_t;

namespace {

constexpr uint32_t VersionMajor = 1;
constexpr uint32_t VersionMinor = 0;

// A text into a caller's buffer of 256 bytes, cut to fit.
void copyText(const char* text, char* out) {
    const std::size_t n = std::min<std::size_t>(std::strlen(text), 255);
    std::memcpy(out, text, n);
    out[n] = '\0';
}

} // namespace

DNET_EXPORT int32_t UnloadDriver(void) {
    dnet::InterfaceRegistry::Instance().CloseAll();
    return 1;
}

DNET_EXPORT int32_t LoadDriver(void) {
    return 1;
}

DNET_EXPORT int32_t DLL_Version(uint32_t, uint32_t* major, uint32_t* minor) {
    if (!major || !minor)
        return 0;
    *major = VersionMajor;
    *minor = VersionMinor;
    return 1;
}

DNET_EXPORT int32_t DLL_Name(uint32_t, char* text) {
    if (!text)
        return 0;
    copyText("QVX_DNET", text);
    return 1;
}

DNET_EXPORT int32_t ReadConfiguration(const char* keyPath, void* config, void* networkSettings) {
    if (!keyPath || !config || !networkSettings)
        return 0;
    InterfaceRecord record;
    dnet::NetworkSettings network;
    if (!dnet::ReadSettings(keyPath, &record, &network))
        return 0;
    std::memcpy(config, &record, sizeof record);
    std::memcpy(networkSettings, &network, sizeof network);
    return 1;
}

DNET_EXPORT int32_t SaveConfiguration(const char* keyPath, void* config, void* networkSettings) {
    if (!keyPath || !config || !networkSettings)
        return 0;
    InterfaceRecord record;
    dnet::NetworkSettings network;
    std::memcpy(&record, config, sizeof record);
    std::memcpy(&network, networkSettings, sizeof network);
    return dnet::SaveSettings(keyPath, record, network) ? 1 : 0;
}

DNET_EXPORT int32_t DeviceNetConfigurationWindow(void* config, void* networkSettings) {
    if (!config || !networkSettings)
        return 0;
    InterfaceRecord record;
    dnet::NetworkSettings network;
    std::memcpy(&record, config, sizeof record);
    std::memcpy(&network, networkSettings, sizeof network);
    if (!dnet::ShowConfigDialog(&record, &network))
        return 0;
    std::memcpy(config, &record, sizeof record);
    std::memcpy(networkSettings, &network, sizeof network);
    return 1;
}

DNET_EXPORT int32_t HardwareConfigurationWindow(uint32_t) {
    return 0;
}

DNET_EXPORT int32_t VersionInformationWindow(uint32_t h) {
    dnet::VersionFacts facts;
    facts.major = VersionMajor;
    facts.minor = VersionMinor;
    if (const auto interface = dnet::InterfaceRegistry::Instance().Find(h)) {
        facts.interfaceOpen = true;
        facts.interfaceType = interface->Type();
        facts.bitRate = interface->BitRate().value_or(0);
        facts.macId = interface->GetMaster().OwnMac();
        facts.online = interface->GetMaster().Online();
    }
    return dnet::ShowVersionWindow(facts) ? 1 : 0;
}

DNET_EXPORT int32_t GetInterfaceName(uint32_t interfaceType, char* text) {
    const char* name = dnet::InterfaceTypeName(interfaceType);
    if (!text || !name)
        return 0;
    copyText(name, text);
    return 1;
}
