// The exports that need no handle: the library itself, its configuration and its windows.

#include "CopnDriver.h"
#include "CopnErrors.h"
#include "CopnExports.h"

using copn::Library;
using std::int32_t;
using std::uint32_t;

DRIVERCORE_DEFINE_SHARED_EXPORTS(copn::Library)

COPN_EXPORT int32_t GetErrorString(uint32_t code, char* text) {
    const char* known = copn::ErrorText(code);
    if (!text || !known)
        return 0;
    drivercore::CopyText(known, text);
    return 1;
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

// This driver shows no version window.
COPN_EXPORT int32_t VersionInformationWindow(void) {
    return 0;
}
