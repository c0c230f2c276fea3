// The network file's keys of CiA 302-3 nodes.

#include "CanopenNetworkFile.h"
#include "ProgramStore.h"

#include <gtest/gtest.h>

namespace {

using sim::CanopenNodeSettings;
using sim::CanopenProfile;

struct Parsed {
    bool ok = false;
    std::string error;
    std::vector<CanopenNodeSettings> nodes;
};

Parsed parse(const std::string& text) {
    Parsed p;
    p.ok = sim::ParseCanopenNetwork(text, "network.ini", &p.nodes, &p.error);
    return p;
}

TEST(ProgramNetworkFileTest, NodeTwentyOfTheDefaultNetworkHasOneProgramOf256Kib) {
    const Parsed p = parse(sim::DefaultCanopenNetwork);
    ASSERT_TRUE(p.ok) << p.error;
    ASSERT_EQ(p.nodes.size(), 4u);
    for (const CanopenNodeSettings& node : p.nodes)
        EXPECT_EQ(node.profile == CanopenProfile::ProgramDownload, node.nodeId == 20)
            << int(node.nodeId);
    const CanopenNodeSettings& twenty = p.nodes.back();
    EXPECT_EQ(twenty.programs.count, 1);
    EXPECT_EQ(twenty.programs.size, 262144u);
    EXPECT_EQ(twenty.flash.sectorSizes, std::vector<std::uint32_t>{262144});
    EXPECT_EQ(twenty.flash.identity.deviceName, "Simulated Standard Node");
    EXPECT_EQ(twenty.flash.identity.productCode, 4020u);
    EXPECT_EQ(twenty.flash.identity.serialNumber, 3000020u);
    const std::string header =
        std::string(sim::DefaultCanopenNetwork)
            .substr(0, std::string(sim::DefaultCanopenNetwork).find("\n[node"));
    for (const char* key : {"profile", "programs", "program_size", "flash_ms_per_kib",
                            "program_fault", "block_transfer", "block_size"})
        EXPECT_NE(header.find(key), std::string::npos) << key;
}

TEST(ProgramNetworkFileTest, GoodValuesShapeTheProgramsAndTheFlash) {
    const Parsed p =
        parse("[node 5]\nprofile=302-3\nprograms=8\nprogram_size=0x100000\n"
              "flash_ms_per_kib=1000\nprogram_fault=flash_secured\n"
              "block_transfer=no\nblock_size=1\n[node 6]\nprofile=firmware\nsector_sizes=100\n"
              "[node 7]\nprofile=302-3\nprogram_size=1\nflash_ms_per_kib=0\n");
    ASSERT_TRUE(p.ok) << p.error;
    const auto& five = p.nodes.at(0);
    EXPECT_EQ(five.profile, CanopenProfile::ProgramDownload);
    EXPECT_EQ(five.programs.count, 8);
    EXPECT_EQ(five.programs.size, 1u << 20);
    EXPECT_EQ(five.flash.sectorSizes, std::vector<std::uint32_t>(8, 1u << 20));
    EXPECT_EQ(five.programs.flashMillisecondsPerKib, 1000u);
    EXPECT_EQ(five.programs.fault, sim::FlashStatusError::FlashSecured);
    EXPECT_FALSE(five.programs.blockTransfer);
    EXPECT_EQ(five.programs.blockSize, 1);
    EXPECT_EQ(p.nodes.at(1).profile, CanopenProfile::Firmware);
    EXPECT_EQ(p.nodes.at(1).flash.sectorSizes, std::vector<std::uint32_t>{100});
    const auto& seven = p.nodes.at(2);
    EXPECT_EQ(seven.programs.count, 1);
    EXPECT_EQ(seven.flash.sectorSizes, std::vector<std::uint32_t>{1});
    EXPECT_EQ(seven.programs.flashMillisecondsPerKib, 0u);
    EXPECT_EQ(seven.programs.fault, sim::FlashStatusError::None);
    EXPECT_TRUE(seven.programs.blockTransfer);
    EXPECT_EQ(seven.programs.blockSize, 127);
}

TEST(ProgramNetworkFileTest, BadValuesAreNamedWithTheirLine) {
    const std::pair<const char*, const char*> cases[] = {
        {"[node 5]\nprofile=302-2\n", "network.ini:2: profile=302-2 is not firmware or 302-3"},
        {"[node 5]\nprofile=302-3\nprograms=0\n",
         "network.ini:3: programs=0 is not a number from 1 to 8"},
        {"[node 5]\nprofile=302-3\nprograms=9\n",
         "network.ini:3: programs=9 is not a number from 1 to 8"},
        {"[node 5]\nprofile=302-3\nprogram_size=0\n",
         "network.ini:3: program_size=0 is not a number from 1 to 1048576"},
        {"[node 5]\nprofile=302-3\nprogram_size=1048577\n",
         "network.ini:3: program_size=1048577 is not a number from 1 to 1048576"},
        {"[node 5]\nprofile=302-3\nflash_ms_per_kib=1001\n",
         "network.ini:3: flash_ms_per_kib=1001 is not a number from 0 to 1000"},
        {"[node 5]\nprofile=302-3\nprogram_fault=flash_not_cleared\n",
         "network.ini:3: program_fault=flash_not_cleared is not one of none, "
         "data_format_unknown, data_format_error, flash_write_error, general_address_error, "
         "flash_secured, unspecified"},
        {"[node 5]\nprofile=302-3\nblock_transfer=maybe\n",
         "network.ini:3: block_transfer=maybe is not yes or no"},
        {"[node 5]\nprofile=302-3\nblock_size=0\n",
         "network.ini:3: block_size=0 is not a number from 1 to 127"},
        {"[node 5]\nprofile=302-3\nblock_size=128\n",
         "network.ini:3: block_size=128 is not a number from 1 to 127"},
        {"[node 5]\nprograms=2\n",
         "network.ini:2: programs is a key of a profile=302-3 node, which comes before it"},
        {"[node 5]\nprofile=firmware\nblock_transfer=no\n",
         "network.ini:3: block_transfer is a key of a profile=302-3 node, which comes before "
         "it"},
        {"[node 5]\nprofile=302-3\nsector_sizes=100\n",
         "network.ini:3: sector_sizes is no key of a profile=302-3 node"},
        {"[node 5]\nprofile=302-3\npassword=1234\n",
         "network.ini:3: password is no key of a profile=302-3 node"},
        {"[node 5]\nchecksum_width=8\nprofile=302-3\n",
         "network.ini:3: profile=302-3 comes before the keys of a node's flash: a 302-3 node "
         "takes no sector_sizes, checksum_width, checksum_window or password"},
        {"[node 5]\nprofile=302-3\nprofile=firmware\n",
         "network.ini:3: profile=firmware after profile=302-3"},
    };
    for (const auto& [text, error] : cases) {
        SCOPED_TRACE(text);
        testing::internal::CaptureStderr(); // a key given twice is named there
        const Parsed p = parse(text);
        testing::internal::GetCapturedStderr();
        EXPECT_FALSE(p.ok);
        EXPECT_EQ(p.error, error);
    }
}

} // namespace
