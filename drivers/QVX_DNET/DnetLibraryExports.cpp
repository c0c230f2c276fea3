// The exports that need no open handle: the library itself, its configuration and its
// windows.

#include "DnetDriver.h"
#include "DnetExports.h"

using dnet::Library;
using std::int32_t;
using std::uint32_t;

// ReadConfiguration and SaveConfiguration need a key path: this driver offers no
// SetRegistryPath.
DRIVERCORE_DEFINE_SHARED_EXPORTS(dnet::Library)

DNET_EXPORT int32_t DeviceNetConfigurationWindow(void* config, void* networkSettings) {
    return Library().ConfigurationWindow(config, networkSettings);
}

DNET_EXPORT int32_t VersionInformationWindow(uint32_t h) {
    return Library().VersionWindow(h);
}
