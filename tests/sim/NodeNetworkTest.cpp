#include "NodeNetwork.h"

#include "DataFolder.h"
#include "FirmwareImage.h"

#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>
#include <gtest/gtest.h>

namespace {

sim::FlashNodeSettings nodeSettings(std::uint32_t serial) {
    sim::FlashNodeSettings s;
    s.sectorSizes = {0xFFFF, 0x2FFFF, 0x2FFFF, 0xFFFF};
    s.restartMilliseconds = 0;
    s.identity.serialNumber = serial;
    return s;
}

// 127 nodes cost nothing until one is spoken to; then that one has a folder of its own, and
// what it was told survives the network.
TEST(NodeNetwork, NodesAreOpenedInFoldersOfTheirOwnWhenFirstUsed) {
    QTemporaryDir root;
    const std::string folder = root.path().toStdString() + "/canopen-sim";
    {
        sim::NodeNetwork network(folder);
        for (std::uint8_t address = 1; address <= 127; ++address)
            network.Add(address, nodeSettings(1000u + address), [](sim::FlashNode& node) {
                node.SetSector(0, sim::MakeFirmwareImage({"Loader", "", "", "", 0x10000}, 512),
                               true);
            });
        EXPECT_FALSE(QDir(QString::fromStdString(folder)).exists());
        EXPECT_EQ(network.Node(0), nullptr);
        EXPECT_EQ(network.Node(128), nullptr);

        sim::FlashNode* node = network.Node(9);
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(network.Node(9), node);
        EXPECT_TRUE(network.Loaded(9));
        EXPECT_FALSE(network.Loaded(10));
        EXPECT_EQ(node->SerialNumber(), 1009u);
        EXPECT_EQ(QDir(QString::fromStdString(folder)).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
                  QStringList{"node-9"});
        ASSERT_TRUE(node->EnterDownloadMode(0x1A2B));
        ASSERT_TRUE(node->SetBootSector(3));
    }
    sim::NodeNetwork again(folder);
    again.Add(9, nodeSettings(1009));
    ASSERT_NE(again.Node(9), nullptr);
    EXPECT_EQ(again.Node(9)->BootSector(), 3);
    EXPECT_THROW(again.Add(9, nodeSettings(1)), std::invalid_argument);
}

TEST(NodeNetwork, ANodeWhoseFolderCannotBeServedIsNotOnline) {
    QTemporaryDir root;
    sim::NodeNetwork network(root.path().toStdString() + "/net");
    network.Add(3, nodeSettings(1));
    std::string error;
    auto held = std::make_unique<sim::FlashNode>(nodeSettings(1));
    ASSERT_TRUE(held->AttachStateFolder(network.NodeFolder(3)));
    EXPECT_EQ(network.Node(3, &error), nullptr);
    EXPECT_NE(error.find(network.NodeFolder(3) + " is in use in this process"), std::string::npos)
        << error;
    held.reset();
    EXPECT_NE(network.Node(3, &error), nullptr) << error;
}

// Flash never goes to a folder that everyone may write.
TEST(DataFolder, ComesFromTheUsersOwnFoldersOnly) {
    const char* savedData = std::getenv("XDG_DATA_HOME");
    const char* savedHome = std::getenv("HOME");
    const std::string data = savedData ? savedData : "", home = savedHome ? savedHome : "";
    setenv("XDG_DATA_HOME", "/srv/data", 1);
    EXPECT_EQ(sim::ZandrelDataFolder(), "/srv/data/zandrel");
    unsetenv("XDG_DATA_HOME");
    setenv("HOME", "/home/user", 1);
    EXPECT_EQ(sim::ZandrelDataFolder(), "/home/user/.local/share/zandrel");
    setenv("XDG_DATA_HOME", "relative", 1); // not an absolute path: ignored
    EXPECT_EQ(sim::ZandrelDataFolder(), "/home/user/.local/share/zandrel");
    unsetenv("XDG_DATA_HOME");
    unsetenv("HOME");
    const std::string fallback = sim::ZandrelDataFolder(); // the user database's home, or none
    EXPECT_EQ(fallback.rfind("/tmp", 0), std::string::npos) << fallback;
    savedData ? setenv("XDG_DATA_HOME", data.c_str(), 1) : unsetenv("XDG_DATA_HOME");
    savedHome ? setenv("HOME", home.c_str(), 1) : unsetenv("HOME");
}

} // namespace
