#pragma once

// Node 3 of a simulated network as its folder keeps it, read with the node model once the
// driver has let the network go: what a field test checks an update against.

#include "CanopenNetworkFile.h"
#include "DevicenetNetworkFile.h"
#include "NodeNetwork.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace fieldnode {

enum class Bus { Canopen, Devicenet };

// What node 3 holds in a sector: its bytes, whether the stored checksum matches them by the
// node's own rule, and the node's boot sector.
struct SectorContent {
    std::vector<std::uint8_t> bytes;
    bool checksumMatches = false;
    std::uint8_t bootSector = 0;
};

// A network of node 3 alone (a CANopen or a DeviceNet one), with more keys of the node and a
// [bus] section when given.
inline std::string NetworkText(Bus bus, const std::string& nodeKeys,
                               const std::string& busSection) {
    std::string text =
        bus == Bus::Canopen ? "[node 3]\nproduct_code=4003\n" : "[node 3]\nproduct_code=3003\n";
    text += nodeKeys + "\n";
    if (!busSection.empty())
        text += "[bus]\n" + busSection + "\n";
    return text;
}

inline SectorContent ReadSector(Bus bus, const std::string& networkText,
                                const std::string& networkFolder, std::uint8_t sector) {
    constexpr std::uint8_t Node = 3;
    SectorContent content;
    const std::string path = networkFolder + "/network.ini";
    std::string error;
    sim::NodeNetwork network(networkFolder);
    if (bus == Bus::Canopen) {
        std::vector<sim::CanopenNodeSettings> nodes;
        EXPECT_TRUE(sim::ParseCanopenNetwork(networkText, path, &nodes, &error)) << error;
        for (const auto& node : nodes)
            if (node.nodeId == Node)
                network.Add(Node, node.flash);
    } else {
        std::vector<sim::DevicenetNodeSettings> nodes;
        EXPECT_TRUE(sim::ParseDevicenetNetwork(networkText, path, &nodes, &error)) << error;
        for (const auto& node : nodes)
            if (node.macId == Node)
                network.Add(Node, node.flash);
    }
    sim::FlashNode* node = network.Node(Node, &error);
    if (!node) {
        ADD_FAILURE() << "the node's folder cannot be read: " << error;
        return content;
    }
    std::uint32_t size = 0;
    EXPECT_EQ(node->SectorSize(sector, &size).error, sim::NodeError::None);
    content.bytes.resize(size);
    EXPECT_EQ(node->Read(sector, node->Settings().imageBase, content.bytes.data(), size).error,
              sim::NodeError::None);
    EXPECT_EQ(node->ChecksumMatches(sector, &content.checksumMatches).error, sim::NodeError::None);
    content.bootSector = node->BootSector();
    return content;
}

} // namespace fieldnode
