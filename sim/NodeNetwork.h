#pragma once

#include "FlashNode.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace sim {

// The simulated nodes of one network. Each node keeps its flash in a folder of its own
// below the network's folder (<network folder>/node-<address>), opened the first time the
// node is used: a network of 127 nodes costs nothing until a node is spoken to, and then
// one small folder per node.
class NodeNetwork {
public:
    using Factory = std::function<void(FlashNode&)>;

    explicit NodeNetwork(std::string folder, NodeClock clock = SteadyNodeClock());

    // A node at an address: its settings, and what it holds when it leaves the factory.
    // Throws std::invalid_argument for settings that describe no node, and for an address
    // taken already.
    void Add(std::uint8_t address, FlashNodeSettings settings, Factory leaveFactory = {});

    const std::string& Folder() const { return folder_; }
    std::vector<std::uint8_t> Addresses() const;
    bool Has(std::uint8_t address) const { return nodes_.count(address) > 0; }
    bool Loaded(std::uint8_t address) const;
    const FlashNodeSettings* SettingsOf(std::uint8_t address) const;

    // The node, served from its folder from the first call on. Null, with the reason in
    // *error, when there is no node at the address or its folder cannot be served (another
    // process has it, it cannot be made or written); a later call tries again.
    FlashNode* Node(std::uint8_t address, std::string* error = nullptr);

    std::string NodeFolder(std::uint8_t address) const;

private:
    struct Entry {
        FlashNodeSettings settings;
        Factory leaveFactory;
        std::unique_ptr<FlashNode> node;
    };
    std::string folder_;
    NodeClock clock_;
    std::map<std::uint8_t, Entry> nodes_;
};

} // namespace sim
