// The exports that need no open handle: the library itself, its configuration and its
// windows.

#include "DnetDriver.h"
#include "DnetExports.h"

using dnet::Library;
using std::int32_t;
using std::uint32_t;

DNET_EXPORT int32_t UnloadDriver(void) {
    return Library().Unload();
}

DNET_EXPORT int32_t LoadDriver(void) {
    return 1;
}

DNET_EXPORT int32_t DLL_Version(uint32_t, uint32_t* major, uint32_t* minor) {
    return Library().Version(major, minor);
}

DNET_EXPORT int32_t DLL_Name(uint32_t, char* text) {
    return Library().Name(text);
}

// A key path is needed: this driver offers no SetRegistryPath.
DNET_EXPORT int32_t ReadConfiguration(const char* keyPath, void* config, void* networkSettings) {
    return Library().ReadConfiguration(keyPath, config, networkSettings);
}

DNET_EXPORT int32_t SaveConfiguration(const char* keyPath, void* config, void* networkSettings) {
    return Library().SaveConfiguration(keyPath, config, networkSettings);
}

DNET_EXPORT int32_t DeviceNetConfigurationWindow(void* config, void* networkSettings) {
    return Library().ConfigurationWindow(config, networkSettings);
}

DNET_EXPORT int32_t HardwareConfigurationWindow(uint32_t) {
    return 0;
}

DNET_EXPORT int32_t VersionInformationWindow(uint32_t h) {
    return Library().VersionWindow(h);
}

DNET_EXPORT int32_t GetInterfaceName(uint32_t interfaceType, char* text) {
    return Library().InterfaceName(interfaceType, text);
}
