#include "NodeNetwork.h"

#include <stdexcept>

namespace sim {

NodeNetwork::NodeNetwork(std::string folder, NodeClock clock)
    : folder_(std::move(folder)), clock_(std::move(clock)) {}

void NodeNetwork::Add(std::uint8_t address, FlashNodeSettings settings, Factory leaveFactory) {
    if (const std::string problem = settings.Problem(); !problem.empty())
        throw std::invalid_argument("node " + std::to_string(address) + ": " + problem);
    if (!nodes_.emplace(address, Entry{std::move(settings), std::move(leaveFactory), nullptr})
             .second)
        throw std::invalid_argument("node " + std::to_string(address) + " is given twice");
}

std::vector<std::uint8_t> NodeNetwork::Addresses() const {
    std::vector<std::uint8_t> addresses;
    for (const auto& [address, entry] : nodes_)
        addresses.push_back(address);
    return addresses;
}

bool NodeNetwork::Loaded(std::uint8_t address) const {
    auto it = nodes_.find(address);
    return it != nodes_.end() && it->second.node != nullptr;
}

const FlashNodeSettings* NodeNetwork::SettingsOf(std::uint8_t address) const {
    auto it = nodes_.find(address);
    return it == nodes_.end() ? nullptr : &it->second.settings;
}

std::string NodeNetwork::NodeFolder(std::uint8_t address) const {
    return folder_ + "/node-" + std::to_string(address);
}

FlashNode* NodeNetwork::Node(std::uint8_t address, std::string* error) {
    auto it = nodes_.find(address);
    if (it == nodes_.end()) {
        if (error)
            *error = "no node " + std::to_string(address);
        return nullptr;
    }
    Entry& entry = it->second;
    if (!entry.node) {
        auto node = std::make_unique<FlashNode>(entry.settings, clock_);
        if (entry.leaveFactory)
            entry.leaveFactory(*node);
        if (!node->AttachStateFolder(NodeFolder(address), error))
            return nullptr;
        entry.node = std::move(node);
    }
    return entry.node.get();
}

} // namespace sim
