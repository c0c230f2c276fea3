// The exports that need no handle: the library itself, its configuration and its window.

#include "CopnConfigDialog.h"
#include "CopnErrors.h"
#include "CopnExports.h"
#include "CopnInterface.h"
#include "CopnSettings.h"
#include "InterfaceRegistry.h"

#include <cstring>
#include <mutex>
#include <string>

using std::int32_t;
using std::uint32_t;

namespace {

constexpr uint32_t VersionMajor = 2;
constexpr uint32_t VersionMinor = 4;

// A text into a caller's buffer of 256 bytes, cut to fit.
void copyText(const char* text, char* out) {
    const std::size_t n = std::min<std::size_t>(std::strlen(text), 255);
    std::memcpy(out, text, n);
    out[n] = '\0';
}

// The key path SetRegistryPath gave, for calls that name none.
std::mutex registryPathMutex;
std::string registryPath;

std::string keyPathOr(const char* keyPath) {
    if (keyPath)
        return keyPath;
    std::lock_guard lock(registryPathMutex);
    return registryPath;
}

} // namespace

COPN_EXPORT int32_t UnloadDriver(void) {
    copn::InterfaceRegistry::Instance().CloseAll();
    return 1;
}

COPN_EXPORT int32_t LoadDriver(void) {
    return 1;
}

COPN_EXPORT int32_t DLL_Version(uint32_t, uint32_t* major, uint32_t* minor) {
    if (!major || !minor)
        return 0;
    *major = VersionMajor;
    *minor = VersionMinor;
    return 1;
}

COPN_EXPORT int32_t DLL_Name(uint32_t, char* text) {
    if (!text)
        return 0;
    copyText("QVX_COPN", text);
    return 1;
}

COPN_EXPORT int32_t GetErrorString(uint32_t code, char* text) {
    const char* known = copn::ErrorText(code);
    if (!text || !known)
        return 0;
    copyText(known, text);
    return 1;
}

COPN_EXPORT int32_t ReadConfiguration(const char* keyPath, void* config, void* networkSettings) {
    if (!config || !networkSettings)
        return 0;
    const std::string path = keyPathOr(keyPath);
    InterfaceRecord record;
    copn::NetworkSettings network;
    if (path.empty() || !copn::ReadSettings(path.c_str(), &record, &network))
        return 0;
    std::memcpy(config, &record, sizeof record);
    std::memcpy(networkSettings, &network, sizeof network);
    return 1;
}

COPN_EXPORT int32_t SaveConfiguration(const char* keyPath, void* config, void* networkSettings) {
    if (!config || !networkSettings)
        return 0;
    const std::string path = keyPathOr(keyPath);
    InterfaceRecord record;
    copn::NetworkSettings network;
    std::memcpy(&record, config, sizeof record);
    std::memcpy(&network, networkSettings, sizeof network);
    return !path.empty() && copn::SaveSettings(path.c_str(), record, network) ? 1 : 0;
}

COPN_EXPORT int32_t SetRegistryPath(const char* keyPath) {
    if (!keyPath || !*keyPath)
        return 0;
    std::lock_guard lock(registryPathMutex);
    registryPath = keyPath;
    return 1;
}

COPN_EXPORT int32_t CANopenConfigurationWindow(void* config, void* networkSettings) {
    if (!config || !networkSettings)
        return 0;
    InterfaceRecord record;
    copn::NetworkSettings network;
    std::memcpy(&record, config, sizeof record);
    std::memcpy(&network, networkSettings, sizeof network);
    if (!copn::ShowConfigDialog(&record, &network))
        return 0;
    std::memcpy(config, &record, sizeof record);
    std::memcpy(networkSettings, &network, sizeof network);
    return 1;
}

COPN_EXPORT int32_t DisplayConfigurationWindow(void* config, void* networkSettings) {
    return CANopenConfigurationWindow(config, networkSettings);
}

COPN_EXPORT int32_t HardwareConfigurationWindow(uint32_t) {
    return 0;
}

COPN_EXPORT int32_t VersionInformationWindow(void) {
    return 0;
}

COPN_EXPORT int32_t GetInterfaceName(uint32_t interfaceType, char* text) {
    const char* name = copn::InterfaceTypeName(interfaceType);
    if (!text || !name)
        return 0;
    copyText(name, text);
    return 1;
}
