#include "CanopenSimulation.h"

#include "CanopenNetworkFile.h"
#include "DataFolder.h"
#include "NetworkFile.h"
#include "NodeHost.h"
#include "NodeNetwork.h"
#include "ProgramNode.h"

namespace sim {

using bus::canopen::TimePoint;

// The simulated CANopen network: its nodes served on one port.
class CanopenSimulationImpl : public NodeHost<Cia301Node> {
public:
    using NodeHost::NodeHost;
};

std::unique_ptr<CanopenSimulation> CanopenSimulation::Start(std::unique_ptr<bus::CanPort> port,
                                                            const std::string& networkFolder,
                                                            std::string* error, NodeClock clock) {
    std::unique_ptr<FolderLock> lock;
    std::string text, path;
    if (!TakeNetworkFolder(networkFolder, DefaultCanopenNetwork, &lock, &text, &path, error))
        return nullptr;
    std::vector<CanopenNodeSettings> nodes;
    NetworkBehaviour behaviour;
    if (!ParseCanopenNetwork(text, path, &nodes, &behaviour, error))
        return nullptr;
    // NMT commands are for every node; the other frames carry the node-ID they are for.
    auto route = [](const bus::CanFrame& frame) -> std::optional<std::uint8_t> {
        if (frame.id == bus::canopen::NmtCobId)
            return CanopenSimulationImpl::EveryNode;
        return static_cast<std::uint8_t>(frame.id & 0x7F);
    };
    auto impl = std::make_unique<CanopenSimulationImpl>(std::move(lock), std::move(port),
                                                        networkFolder, clock, route, behaviour);
    for (const CanopenNodeSettings& settings : nodes) {
        const std::uint8_t id = settings.nodeId;
        NodeNetwork& network = impl->Network();
        const CanopenProfile profile = settings.profile;
        network.Add(id, settings.flash,
                    [profile](FlashNode& node) { LeaveFactoryAs(profile, node); });
        auto flash = [&network, id](std::string* error) {
            return network.Node(id, error);
        };
        if (profile == CanopenProfile::ProgramDownload)
            impl->Add(id, std::make_unique<ProgramNode>(settings, flash));
        else
            impl->Add(id, std::make_unique<CanopenNode>(settings, flash));
    }
    impl->Start([](Cia301Node& node, TimePoint now) { return node.PowerOn(now); });
    return std::unique_ptr<CanopenSimulation>(new CanopenSimulation(std::move(impl)));
}

CanopenSimulation::CanopenSimulation(std::unique_ptr<CanopenSimulationImpl> impl)
    : impl_(std::move(impl)) {}

CanopenSimulation::~CanopenSimulation() = default;

std::vector<std::uint8_t> CanopenSimulation::NodeIds() const {
    return impl_->Addresses();
}

void CanopenSimulation::Poke() {
    impl_->Poke();
}

std::string DefaultCanopenNetworkFolder() {
    const std::string base = ZandrelDataFolder();
    return base.empty() ? "" : base + "/canopen-network";
}

} // namespace sim
