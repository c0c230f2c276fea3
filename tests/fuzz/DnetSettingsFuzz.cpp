// The DeviceNet driver's stored configuration, with the driver's own traits: an INI file of any
// bytes.

#include "DnetDriver.h"
#include "DriverSettingsCheck.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    PrepareDriverSettingsCheck();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return CheckDriverSettings(dnet::Library().Traits(), data, size);
}
