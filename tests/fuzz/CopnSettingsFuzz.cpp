// The CANopen driver's stored configuration, with the driver's own traits: an INI file of any
// bytes.

#include "CopnDriver.h"
#include "DriverSettingsCheck.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    PrepareDriverSettingsCheck();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return CheckDriverSettings(copn::Library().Traits(), data, size);
}
