// The exports that need no handle: the library itself, its configuration and its windows.

#include "CopnDriver.h"
#include "CopnErrors.h"
#include "CopnExports.h"

using copn::Library;
using std::int32_t;
using std::uint32_t;

COPN_EXPORT int32_t UnloadDriver(void) {
    return Library().Unload();
}

COPN_EXPORT int32_t LoadDriver(void) {
    return 1;
}

COPN_EXPORT int32_t DLL_Version(uint32_t, uint32_t* major, uint32_t* minor) {
    return Library().Version(major, minor);
}

COPN_EXPORT int32_t DLL_Name(uint32_t, char* text) {
    return Library().Name(text);
}

COPN_EXPORT int32_t GetErrorString(uint32_t code, char* text) {
    const char* known = copn::ErrorText(code);
    if (!text || !known)
        return 0;
    drivercore::CopyText(known, text);
    return 1;
}

COPN_EXPORT int32_t ReadConfiguration(const char* keyPath, void* config, void* networkSettings) {
    return Library().ReadConfiguration(keyPath, config, networkSettings);
}

COPN_EXPORT int32_t SaveConfiguration(const char* keyPath, void* config, void* networkSettings) {
    return Library().SaveConfiguration(keyPath, config, networkSettings);
}

COPN_EXPORT int32_t SetRegistryPath(const char* keyPath) {
    return Library().SetRegistryPath(keyPath);
}

COPN_EXPORT int32_t CANopenConfigurationWindow(void* config, void* networkSettings) {
    return Library().ConfigurationWindow(config, networkSettings);
}

COPN_EXPORT int32_t DisplayConfigurationWindow(void* config, void* networkSettings) {
    return CANopenConfigurationWindow(config, networkSettings);
}

COPN_EXPORT int32_t HardwareConfigurationWindow(uint32_t) {
    return 0;
}

// This driver shows no version window.
COPN_EXPORT int32_t VersionInformationWindow(void) {
    return 0;
}

COPN_EXPORT int32_t GetInterfaceName(uint32_t interfaceType, char* text) {
    return Library().InterfaceName(interfaceType, text);
}
