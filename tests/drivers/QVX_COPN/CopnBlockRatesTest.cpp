// Block transfers on the embedded simulated network with its wire model on, at every bit rate
// the master offers and with nodes that take sub-blocks of 127, 16 and 1 segments. A sub-block
// of 127 segments takes 1.5 s on the wire at 10 kbit/s, three times the master's answer
// time-out and more than the node's: each side's time-out counts from when its sub-block has
// gone out. Also what a block transfer leaves behind: a cancelled one, a room too small.

#include "CanSettings.h"
#include "CopnExports.h"
#include "Crc32.h"
#include "HangGuards.h"
#include "InterfaceRecord.h"
#include "LastError.h"
#include "ScopedEnvironment.h"

#include <QDir>
#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

constexpr std::uint16_t ProgramData = 0x1F50;
constexpr std::uint16_t ProgramControl = 0x1F51;
constexpr std::uint16_t ProgramIdentification = 0x1F56;

// More than one full sub-block of 127 segments, small enough for 10 kbit/s.
std::vector<std::uint8_t> programBytes(std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(1000);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 29 + seed + i / 256);
    return bytes;
}

// Three program nodes, one per block size.
struct NodeOfBlockSize {
    std::uint8_t node;
    int blockSize;
};
constexpr NodeOfBlockSize Nodes[] = {{20, 127}, {21, 16}, {22, 1}};

// A device name of more than one full sub-block, for a block upload the other way.
std::string longName() {
    std::string name;
    for (int i = 0; name.size() < 1000; ++i)
        name += "Node of block sizes, part " + std::to_string(i) + ";";
    return name;
}

std::string network() {
    std::string text;
    for (const NodeOfBlockSize& n : Nodes)
        text += "[node " + std::to_string(n.node) + "]\nprofile=302-3\nprogram_size=4096\n" +
                "block_size=" + std::to_string(n.blockSize) + "\ndevice_name=" + longName() + "\n";
    return text;
}

// The node's block upload of its device name too: its sub-block of 127 segments takes longer
// on the wire at 10 kbit/s than the node's own time-out for the acknowledgement.
TEST(CopnBlockRates, BlockTransfersSucceedAtEveryBitRateAndBlockSize) {
    QTemporaryDir data;
    ScopedEnvironment folder("XDG_DATA_HOME", data.path().toLocal8Bit().constData());
    ScopedEnvironment wire("ZANDREL_SIM_WIRE", nullptr); // frames take their wire time
    const std::string networkFolder = data.path().toStdString() + "/zandrel/canopen-network";
    QDir().mkpath(QString::fromStdString(networkFolder));
    std::ofstream(networkFolder + "/network.ini") << network();

    std::uint32_t seed = 0;
    for (const std::uint32_t bitRate :
         {10000u, 20000u, 50000u, 125000u, 250000u, 500000u, 1000000u}) {
        SCOPED_TRACE(std::to_string(bitRate) + " bit/s");
        std::uint32_t h = 0;
        const InterfaceRecord record = drivercore::DefaultRecord();
        ASSERT_EQ(OpenInterface(&h, const_cast<InterfaceRecord*>(&record)), 1);
        ASSERT_EQ(SetNodeID(h, 127), 1);
        ASSERT_EQ(SetBaud(h, bitRate), 1);
        for (const NodeOfBlockSize& n : Nodes)
            ASSERT_EQ(AddNode(h, n.node), 1);
        ASSERT_EQ(SetOnline(h, 1), 1);
        for (const NodeOfBlockSize& n : Nodes) {
            SCOPED_TRACE("block size " + std::to_string(n.blockSize));
            // Stopped and cleared, the program takes a new one.
            ASSERT_TRUE(eventually(
                [&] { return SDO_Download_UNSIGNED8(h, n.node, ProgramControl, 1, 0); }));
            ASSERT_EQ(SDO_Download_UNSIGNED8(h, n.node, ProgramControl, 1, 3), 1);
            std::vector<std::uint8_t> program = programBytes(++seed);
            std::uint32_t length = static_cast<std::uint32_t>(program.size());
            std::uint32_t went = 0;
            ASSERT_EQ(SDO_Block_Transfer(h, n.node, ProgramData, 1, 0, &length, program.data(),
                                         nullptr, nullptr, &went),
                      1);
            EXPECT_EQ(went, QVX_COPN_WENT_BLOCK);
            // The node identifies the program by the CRC-32 of its bytes once it has flashed.
            const std::uint32_t crc = sim::Crc32(program.data(), program.size());
            std::uint32_t identification = 0;
            EXPECT_TRUE(eventually([&] {
                return SDO_Upload_UNSIGNED32(h, n.node, ProgramIdentification, 1,
                                             &identification) == 1 &&
                       identification == crc;
            })) << std::hex
                << identification << " for " << crc;
        }
        std::vector<std::uint8_t> name(2000);
        std::uint32_t length = static_cast<std::uint32_t>(name.size());
        std::uint32_t went = 0;
        ASSERT_EQ(SDO_Block_Transfer(h, 20, 0x1008, 0, QVX_COPN_BLOCK_UPLOAD, &length, name.data(),
                                     nullptr, nullptr, &went),
                  1);
        EXPECT_EQ(went, QVX_COPN_WENT_BLOCK);
        EXPECT_EQ(std::string(name.begin(), name.begin() + length), longName());
        EXPECT_EQ(CloseCard(h), 1);
    }
}

// A block download cancelled after a sub-block or more leaves frames of its own on their way
// (the node acknowledges the sub-block that went out before the abort): the next transfer on
// the channel drops them and gets its own answer.
TEST(CopnBlockRates, ACancelledBlockDownloadLeavesTheChannelCleanForTheNextTransfer) {
    QTemporaryDir data;
    ScopedEnvironment folder("XDG_DATA_HOME", data.path().toLocal8Bit().constData());
    ScopedEnvironment wire("ZANDREL_SIM_WIRE", nullptr);
    const std::string networkFolder = data.path().toStdString() + "/zandrel/canopen-network";
    QDir().mkpath(QString::fromStdString(networkFolder));
    std::ofstream(networkFolder + "/network.ini") << network();
    std::uint32_t h = 0;
    const InterfaceRecord record = drivercore::DefaultRecord();
    ASSERT_EQ(OpenInterface(&h, const_cast<InterfaceRecord*>(&record)), 1);
    ASSERT_EQ(SetNodeID(h, 127), 1);
    ASSERT_EQ(SetBaud(h, 500000), 1);
    for (const NodeOfBlockSize& n : Nodes)
        ASSERT_EQ(AddNode(h, n.node), 1);
    ASSERT_EQ(SetOnline(h, 1), 1);
    for (const NodeOfBlockSize& n : Nodes) {
        for (int reports : {1, 2, 3}) {
            SCOPED_TRACE("block size " + std::to_string(n.blockSize) + ", cancelled at report " +
                         std::to_string(reports));
            ASSERT_TRUE(eventually(
                [&] { return SDO_Download_UNSIGNED8(h, n.node, ProgramControl, 1, 0); }));
            ASSERT_EQ(SDO_Download_UNSIGNED8(h, n.node, ProgramControl, 1, 3), 1);
            std::vector<std::uint8_t> program(4000, 0x5A);
            std::uint32_t length = static_cast<std::uint32_t>(program.size());
            int told = 0;
            struct Cancel {
                int* told;
                int at;
            } cancel{&told, reports};
            const QVX_COPN_TransferProgress progress = [](void* context, std::uint32_t,
                                                          std::uint32_t) -> std::int32_t {
                auto* c = static_cast<Cancel*>(context);
                return ++*c->told < c->at ? 1 : 0;
            };
            EXPECT_EQ(SDO_Block_Transfer(h, n.node, ProgramData, 1, 0, &length, program.data(),
                                         progress, &cancel, nullptr),
                      0);
            // At once the next transfers: a read, and a write the node answers.
            std::uint8_t state = 9;
            EXPECT_EQ(SDO_Upload_UNSIGNED8(h, n.node, ProgramControl, 1, &state), 1);
            EXPECT_EQ(state, 0);
            EXPECT_EQ(SDO_Download_UNSIGNED8(h, n.node, ProgramControl, 1, 3), 1);
        }
    }
    EXPECT_EQ(CloseCard(h), 1);
}

// A block upload into a room smaller than the entry fails with 0x05040005 (out of memory) and
// leaves the room as it was; a room that fits takes the whole entry.
TEST(CopnBlockRates, ABlockUploadLargerThanItsRoomFailsAndLeavesTheRoomAlone) {
    QTemporaryDir data;
    ScopedEnvironment folder("XDG_DATA_HOME", data.path().toLocal8Bit().constData());
    ScopedEnvironment wire("ZANDREL_SIM_WIRE", "off");
    const std::string networkFolder = data.path().toStdString() + "/zandrel/canopen-network";
    QDir().mkpath(QString::fromStdString(networkFolder));
    std::ofstream(networkFolder + "/network.ini") << "[node 20]\nprofile=302-3\n"
                                                  << "device_name=Simulated Standard Node\n";
    std::uint32_t h = 0;
    const InterfaceRecord record = drivercore::DefaultRecord();
    ASSERT_EQ(OpenInterface(&h, const_cast<InterfaceRecord*>(&record)), 1);
    ASSERT_EQ(SetNodeID(h, 127), 1);
    ASSERT_EQ(AddNode(h, 20), 1);
    ASSERT_EQ(SetOnline(h, 1), 1);
    const std::string name = "Simulated Standard Node";
    for (const std::uint32_t room : {4u, 22u, 23u, 64u}) {
        SCOPED_TRACE(room);
        std::vector<std::uint8_t> buffer(room, 0xA5);
        std::uint32_t length = room;
        SetLastError(0);
        const std::int32_t done =
            SDO_Block_Transfer(h, 20, 0x1008, 0, QVX_COPN_BLOCK_UPLOAD, &length, buffer.data(),
                               nullptr, nullptr, nullptr);
        if (room < name.size()) {
            EXPECT_EQ(done, 0);
            EXPECT_EQ(GetLastError(), 0x05040005u);
            EXPECT_EQ(length, room);
            EXPECT_EQ(buffer, std::vector<std::uint8_t>(room, 0xA5));
        } else {
            EXPECT_EQ(done, 1);
            EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + length), name);
        }
    }
    EXPECT_EQ(CloseCard(h), 1);
}

} // namespace
