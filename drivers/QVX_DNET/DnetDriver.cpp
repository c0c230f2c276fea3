#include "DnetDriver.h"

#include "DevicenetSimulation.h"

namespace dnet {

namespace {

const drivercore::DriverTraits DnetTraits = {
    .libraryName = "QVX_DNET",
    .busName = "DeviceNet",
    .versionMajor = 1,
    .versionMinor = 0,
    .addressName = "MacId",
    .addressLabel = "MAC ID:",
    .minAddress = 0,
    .maxAddress = 63,
    .defaultAddress = DefaultOwnMac,
    .bitRates = BitRates,
    .defaultBitRate = DefaultBitRate,
    .validBitRate = ValidBitRate,
    .defaultSdoTimeout = 0, // DeviceNet has no SDO
    .windowPrefix = "Dnet",
    .makeMaster = drivercore::MakeMaster<Master>,
    .simulatedNetworkFolder = sim::DefaultDevicenetNetworkFolder,
    .startSimulatedNodes = drivercore::StartNodes<sim::DevicenetSimulation>,
};

} // namespace

drivercore::DriverLibrary& Library() {
    static drivercore::DriverLibrary library(DnetTraits);
    return library;
}

} // namespace dnet
