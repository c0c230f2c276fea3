#include "DevicenetSimulation.h"

#include "DataFolder.h"
#include "DevicenetNetworkFile.h"
#include "NetworkFile.h"
#include "NodeHost.h"
#include "NodeNetwork.h"

#include <map>

namespace sim {

using bus::devicenet::TimePoint;

// The simulated DeviceNet network: its nodes served on one port.
class DevicenetSimulationImpl : public NodeHost<DevicenetNode> {
public:
    using NodeHost::NodeHost;

    void AddNode(std::uint8_t mac, std::unique_ptr<DevicenetNode> node) {
        nodes_[mac] = node.get();
        Add(mac, std::move(node));
    }
    // Set before the host starts, read only afterwards.
    const DevicenetNode* Find(std::uint8_t mac) const {
        const auto it = nodes_.find(mac);
        return it == nodes_.end() ? nullptr : it->second;
    }

private:
    std::map<std::uint8_t, const DevicenetNode*> nodes_;
};

std::unique_ptr<DevicenetSimulation> DevicenetSimulation::Start(std::unique_ptr<bus::CanPort> port,
                                                                const std::string& networkFolder,
                                                                std::string* error,
                                                                NodeClock clock) {
    std::unique_ptr<FolderLock> lock;
    std::string text, path;
    if (!TakeNetworkFolder(networkFolder, DefaultDevicenetNetwork, &lock, &text, &path, error))
        return nullptr;
    std::vector<DevicenetNodeSettings> nodes;
    NetworkBehaviour behaviour;
    if (!ParseDevicenetNetwork(text, path, &nodes, &behaviour, error))
        return nullptr;
    // Every Group 2 frame carries the MAC ID of one node: the one it is for, or the one that
    // sent it (whose namesake here then hears of a duplicate).
    auto route = [](const bus::CanFrame& frame) -> std::optional<std::uint8_t> {
        const auto address = bus::devicenet::ParseGroup2Id(frame.id);
        if (!address)
            return std::nullopt;
        return address->mac;
    };
    auto impl = std::make_unique<DevicenetSimulationImpl>(std::move(lock), std::move(port),
                                                          networkFolder, clock, route, behaviour);
    for (const DevicenetNodeSettings& settings : nodes) {
        const std::uint8_t mac = settings.macId;
        const NodeMode mode = settings.factoryMode;
        NodeNetwork& network = impl->Network();
        network.Add(mac, settings.flash,
                    [mode](FlashNode& node) { LeaveDevicenetFactory(node, mode); });
        impl->AddNode(
            mac, std::make_unique<DevicenetNode>(settings, [&network, mac](std::string* error) {
                return network.Node(mac, error);
            }));
    }
    impl->Start([](DevicenetNode& node, TimePoint now) { return node.PowerOn(now); });
    return std::unique_ptr<DevicenetSimulation>(new DevicenetSimulation(std::move(impl)));
}

DevicenetSimulation::DevicenetSimulation(std::unique_ptr<DevicenetSimulationImpl> impl)
    : impl_(std::move(impl)) {}

DevicenetSimulation::~DevicenetSimulation() = default;

std::vector<std::uint8_t> DevicenetSimulation::MacIds() const {
    return impl_->Addresses();
}

bool DevicenetSimulation::ConnectionHeld(std::uint8_t mac) const {
    const DevicenetNode* node = impl_->Find(mac);
    return node && node->ConnectionHeld();
}

void DevicenetSimulation::Poke() {
    impl_->Poke();
}

std::string DefaultDevicenetNetworkFolder() {
    const std::string base = ZandrelDataFolder();
    return base.empty() ? "" : base + "/devicenet-network";
}

} // namespace sim
