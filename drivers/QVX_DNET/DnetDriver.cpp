#include "DnetDriver.h"

#include "DevicenetSimulation.h"

#include <string>
#include <utility>

namespace dnet {

namespace {

std::unique_ptr<drivercore::CanMaster> makeMaster(std::shared_ptr<bus::CanPort> port,
                                                  MasterClock clock) {
    return std::make_unique<Master>(std::move(port), std::move(clock));
}

std::shared_ptr<void> startNodes(std::unique_ptr<bus::CanPort> port, const std::string& folder,
                                 std::string* error) {
    return sim::DevicenetSimulation::Start(std::move(port), folder, error);
}

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
    .windowPrefix = "Dnet",
    .makeMaster = makeMaster,
    .simulatedNetworkFolder = sim::DefaultDevicenetNetworkFolder,
    .startSimulatedNodes = startNodes,
};

} // namespace

const drivercore::DriverTraits& Traits() {
    return DnetTraits;
}

drivercore::DriverLibrary& Library() {
    static drivercore::DriverLibrary library(DnetTraits);
    return library;
}

drivercore::Opened OpenOnPort(std::shared_ptr<bus::CanPort> port, MasterClock clock) {
    return drivercore::OpenOnPort(DnetTraits, std::move(port), std::move(clock));
}

} // namespace dnet
