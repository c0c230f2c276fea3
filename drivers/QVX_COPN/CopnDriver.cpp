#include "CopnDriver.h"

#include "CanopenSimulation.h"

#include <string>
#include <utility>

namespace copn {

namespace {

constexpr std::uint32_t OfferedBitRates[] = {10000,  20000,  50000,  125000,
                                             250000, 500000, 800000, 1000000};

std::unique_ptr<drivercore::CanMaster> makeMaster(std::shared_ptr<bus::CanPort> port,
                                                  MasterClock clock) {
    return std::make_unique<Master>(std::move(port), std::move(clock));
}

std::shared_ptr<void> startNodes(std::unique_ptr<bus::CanPort> port, const std::string& folder,
                                 std::string* error) {
    return sim::CanopenSimulation::Start(std::move(port), folder, error);
}

const drivercore::DriverTraits CopnTraits = {
    .libraryName = "QVX_COPN",
    .busName = "CANopen",
    .versionMajor = 2,
    .versionMinor = 4,
    .addressName = "NodeId",
    .addressLabel = "Node ID:",
    .minAddress = 1,
    .maxAddress = 127,
    .defaultAddress = DefaultOwnNodeId,
    .bitRates = OfferedBitRates,
    .defaultBitRate = DefaultBitRate,
    .validBitRate = ValidBitRate,
    .windowPrefix = "Copn",
    .makeMaster = makeMaster,
    .simulatedNetworkFolder = sim::DefaultCanopenNetworkFolder,
    .startSimulatedNodes = startNodes,
};

} // namespace

const drivercore::DriverTraits& Traits() {
    return CopnTraits;
}

drivercore::DriverLibrary& Library() {
    static drivercore::DriverLibrary library(CopnTraits);
    return library;
}

drivercore::Opened OpenOnPort(std::shared_ptr<bus::CanPort> port, MasterClock clock) {
    return drivercore::OpenOnPort(CopnTraits, std::move(port), std::move(clock));
}

} // namespace copn
