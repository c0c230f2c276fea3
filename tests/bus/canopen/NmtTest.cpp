#include "canopen/Nmt.h"

#include "BusPrinters.h"

#include <gtest/gtest.h>

namespace {

using namespace bus::canopen;
using bus::CanFrame;
using bus::ParseCandump;
using bus::ToCandump;

TEST(Nmt, CommandFrames) {
    struct Case {
        NmtCommand command;
        std::uint8_t node;
        const char* frame;
    };
    const Case cases[] = {
        {NmtCommand::Start, 0x05, "000#0105"},
        {NmtCommand::Stop, 0x7F, "000#027F"},
        {NmtCommand::EnterPreOperational, 0x01, "000#8001"},
        {NmtCommand::ResetNode, 0x03, "000#8103"},
        {NmtCommand::ResetCommunication, 0x00, "000#8200"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ToCandump(EncodeNmt(c.command, c.node)), c.frame);
        const auto decoded = DecodeNmt(*ParseCandump(c.frame));
        ASSERT_TRUE(decoded) << c.frame;
        EXPECT_EQ(decoded->command, c.command);
        EXPECT_EQ(decoded->node, c.node);
    }
}

TEST(Nmt, DecodeRefusesWhatIsNoCommand) {
    for (const char* text :
         {"000#0305", "000#01", "000#010500", "001#8103", "000#8180", "000#R2", "000#"})
        EXPECT_FALSE(DecodeNmt(*ParseCandump(text))) << text;
}

TEST(Nmt, NodeZeroAddressesEveryNode) {
    const NmtMessage all{NmtCommand::ResetCommunication, 0};
    const NmtMessage three{NmtCommand::ResetNode, 3};
    EXPECT_TRUE(all.AddressesNode(1));
    EXPECT_TRUE(all.AddressesNode(127));
    EXPECT_TRUE(three.AddressesNode(3));
    EXPECT_FALSE(three.AddressesNode(4));
}

TEST(Nmt, StatesAfterCommandsAndTheBootUpMessage) {
    EXPECT_EQ(StateAfter(NmtCommand::Start), NmtState::Operational);
    EXPECT_EQ(StateAfter(NmtCommand::Stop), NmtState::Stopped);
    EXPECT_EQ(StateAfter(NmtCommand::EnterPreOperational), NmtState::PreOperational);
    EXPECT_FALSE(StateAfter(NmtCommand::ResetNode));
    EXPECT_FALSE(StateAfter(NmtCommand::ResetCommunication));

    EXPECT_EQ(ToCandump(EncodeBootUp(3)), "703#00");
    EXPECT_TRUE(IsBootUp(*ParseCandump("703#00"), 3));
    for (const char* other : {"704#00", "703#05", "703#R1", "703#0000", "703#"})
        EXPECT_FALSE(IsBootUp(*ParseCandump(other), 3)) << other;
}

TEST(CobIds, PredefinedConnectionSet) {
    EXPECT_EQ(NmtCobId, 0x000);
    EXPECT_EQ(SdoTxCobId(3), 0x583);
    EXPECT_EQ(SdoRxCobId(3), 0x603);
    EXPECT_EQ(ErrorControlCobId(127), 0x77F);
    EXPECT_FALSE(ValidNodeId(0));
    EXPECT_TRUE(ValidNodeId(1));
    EXPECT_TRUE(ValidNodeId(127));
    EXPECT_FALSE(ValidNodeId(128));
}

} // namespace
