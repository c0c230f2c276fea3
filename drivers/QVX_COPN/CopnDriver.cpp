#include "CopnDriver.h"

#include "CanopenSimulation.h"

namespace copn {

namespace {

constexpr std::uint32_t OfferedBitRates[] = {10000,  20000,  50000,  125000,
                                             250000, 500000, 800000, 1000000};

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
    .defaultSdoTimeout = static_cast<std::uint16_t>(Master::DefaultSdoTimeout.count()),
    .windowPrefix = "Copn",
    .makeMaster = drivercore::MakeMaster<Master>,
    .simulatedNetworkFolder = sim::DefaultCanopenNetworkFolder,
    .startSimulatedNodes = drivercore::StartNodes<sim::CanopenSimulation>,
};

} // namespace

drivercore::DriverLibrary& Library() {
    static drivercore::DriverLibrary library(CopnTraits);
    return library;
}

} // namespace copn
