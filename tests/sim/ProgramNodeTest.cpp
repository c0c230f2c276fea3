// A simulated CiA 302-3 node: frame by frame where the bytes matter (written out by hand
// from CiA 301 and CiA 302-3: command specifiers, sub-indices, abort codes low byte first),
// and through an SDO client for whole programs.

#include "ProgramNode.h"

#include "CanopenNetworkFile.h"
#include "CanopenNode.h"
#include "ManualClock.h"
#include "NodeConversation.h"

#include <functional>
#include <gtest/gtest.h>
#include <optional>

namespace {

using simtest::Step;

constexpr std::uint8_t Node = 20;

sim::CanopenNodeSettings nodeTwenty() {
    std::vector<sim::CanopenNodeSettings> nodes;
    std::string error;
    EXPECT_TRUE(sim::ParseCanopenNetwork(sim::DefaultCanopenNetwork, "network.ini", &nodes, &error))
        << error;
    for (const auto& node : nodes)
        if (node.nodeId == Node) {
            auto twenty = node;
            twenty.flash.restartMilliseconds = 500;
            return twenty;
        }
    ADD_FAILURE() << "no node 20 in the default network";
    return {};
}

// "123456789", whose CRC-32 is the check value every description of the CRC gives.
const std::vector<std::uint8_t> Program = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
const std::string ProgramCrc = "0xCBF43926";

class ProgramNodeTest : public testing::Test {
public:
    ProgramNodeTest() {
        Reshape([](sim::CanopenNodeSettings&) {});
    }

    // Node 20 of the default network, fresh from the factory, with the changes asked for.
    void Reshape(const std::function<void(sim::CanopenNodeSettings&)>& change) {
        settings = nodeTwenty();
        change(settings);
        settings.flash.sectorSizes = sim::ProgramStore::SectorSizes(settings.programs);
        sdo.reset();
        node.reset();
        flash.emplace(settings.flash, clock.Clock());
        sim::LeaveProgramFactory(*flash);
        node.emplace(settings, [this](std::string*) { return &*flash; });
        sdo.emplace(*node, clock, Node);
    }

    void Run(const std::vector<Step>& steps) { simtest::Converse(*node, clock, steps); }

    // Stops and clears the program, as every download begins.
    void StopAndClear(std::uint8_t program = 1) {
        ASSERT_EQ(sdo->Write(0x1F51, program, {0}), "done");
        ASSERT_EQ(sdo->Write(0x1F51, program, {3}), "done");
    }

    ManualClock clock;
    sim::CanopenNodeSettings settings;
    std::optional<sim::FlashNode> flash;
    std::optional<sim::ProgramNode> node;
    std::optional<simtest::DirectSdo<sim::ProgramNode>> sdo;
};

TEST_F(ProgramNodeTest, TheFactoryProgramRunsAndTheObjectsAnswerAsCiA3023Has) {
    Run({
        {"boot-up", "power on", "714#00"},
        {"program control: one program", "614#40511F0000000000", "594#4F511F0001000000"},
        {"program 1 started", "614#40511F0100000000", "594#4F511F0101000000"},
        {"flash status: no error, not busy", "614#40571F0100000000", "594#43571F0100000000"},
        {"program data: one program", "614#40501F0000000000", "594#4F501F0001000000"},
        {"program data is write-only", "614#40501F0100000000", "594#80501F0101000106"},
        {"no program 2", "614#40511F0200000000", "594#80511F0211000906"},
        {"identification: one program", "614#40561F0000000000", "594#4F561F0001000000"},
        {"flash status: one program", "614#40571F0000000000", "594#4F571F0001000000"},
        {"the count is read-only", "614#2F511F0002000000", "594#80511F0002000106"},
        {"a domain for the count: refused at the initiate", "614#21501F0009000000",
         "594#80501F0002000106"},
        {"a domain for program 2: refused at the initiate", "614#21501F0209000000",
         "594#80501F0211000906"},
        {"the identification is read-only", "614#23561F0100000000", "594#80561F0102000106"},
        {"product code 4020", "614#4018100200000000", "594#43181002B40F0000"},
        {"serial number 3000020", "614#4018100400000000", "594#43181004D4C62D00"},
        {"no firmware loader command", "614#4000360000000000", "594#8000360000000206"},
        {"no sector count", "614#400D360000000000", "594#800D360000000206"},
        {"no software version", "614#400A100000000000", "594#800A100000000206"},
        {"a program's control takes one byte, not two", "614#2B511F0100000000",
         "594#80511F0112000706"},
    });
}

// Program control, expedited, byte by byte, with the flash status it leaves.
TEST_F(ProgramNodeTest, ProgramControlStopsClearsAndStartsAsTheStateAllows) {
    Run({
        {"boot-up", "power on", "714#00"},
        {"a clear while running", "614#2F511F0103000000", "594#80511F0122000008"},
        {"a write while running: refused at the initiate", "614#21501F0109000000",
         "594#80501F0122000008"},
        {"5 is no command", "614#2F511F0105000000", "594#80511F0130000906"},
        {"stop", "614#2F511F0100000000", "594#60511F0100000000"},
        {"stopped", "614#40511F0100000000", "594#4F511F0100000000"},
        {"a write of an uncleared program", "614#21501F0109000000", "594#80501F0122000008"},
        {"status: flash not cleared (4 << 1)", "614#40571F0100000000", "594#43571F0108000000"},
        {"reset: stop and start again", "614#2F511F0102000000", "594#60511F0100000000"},
        {"started", "614#40511F0100000000", "594#4F511F0101000000"},
        {"stop", "614#2F511F0100000000", "594#60511F0100000000"},
        {"clear", "614#2F511F0103000000", "594#60511F0100000000"},
        {"status: no valid program (1 << 1)", "614#40571F0100000000", "594#43571F0102000000"},
        {"identification: none", "614#40561F0100000000", "594#43561F0100000000"},
        {"a start without a program", "614#2F511F0101000000", "594#80511F0122000008"},
        {"a reset without a program", "614#2F511F0102000000", "594#80511F0122000008"},
        {"a clear area is cleared again", "614#2F511F0103000000", "594#60511F0100000000"},
        {"more than the room (262144 bytes)", "614#21501F0101000400", "594#80501F0112000706"},
        {"nothing to write", "614#21501F0100000000", "594#80501F0113000706"},
    });
}

TEST_F(ProgramNodeTest, AProgramWrittenIsIdentifiedByItsCrcAndStarts) {
    node->PowerOn(clock.Now());
    StopAndClear();
    EXPECT_EQ(sdo->Write(0x1F50, 1, Program), "done");
    clock.Advance(std::chrono::milliseconds(1));
    EXPECT_EQ(sdo->Read(0x1F57, 1), "0x00000000");
    EXPECT_EQ(sdo->Read(0x1F56, 1), ProgramCrc);
    EXPECT_EQ(sdo->Write(0x1F51, 1, {1}), "done");
    EXPECT_EQ(sdo->Read(0x1F51, 1), "0x00000001");
    // Replaced: the next program has its own CRC.
    StopAndClear();
    EXPECT_EQ(sdo->Write(0x1F50, 1, {'a'}), "done");
    clock.Advance(std::chrono::milliseconds(1));
    EXPECT_EQ(sdo->Read(0x1F56, 1), "0xE8B7BE43");
}

// While the node flashes (flash_ms_per_kib × KiB of its own time) the status says so, and the
// program may be neither written nor started nor identified.
TEST_F(ProgramNodeTest, TheNodeIsBusyFlashingForItsTimePerKib) {
    Reshape([](sim::CanopenNodeSettings& s) { s.programs.flashMillisecondsPerKib = 100; });
    node->PowerOn(clock.Now());
    StopAndClear();
    ASSERT_EQ(sdo->Write(0x1F50, 1, std::vector<std::uint8_t>(2048, 0x5A)), "done");
    Run({
        {"busy", "614#40571F0100000000", "594#43571F0101000000"},
        {"a start while busy", "614#2F511F0101000000", "594#80511F0122000008"},
        {"a write while busy", "614#21501F0109000000", "594#80501F0122000008"},
        {"a clear while busy", "614#2F511F0103000000", "594#80511F0122000008"},
        {"no identification yet", "614#40561F0100000000", "594#43561F0100000000"},
        {"199 ms on", "advance 199", ""},
        {"still busy", "614#40571F0100000000", "594#43571F0101000000"},
        {"200 ms on", "advance 1", ""},
        {"done, no error", "614#40571F0100000000", "594#43571F0100000000"},
        {"start", "614#2F511F0101000000", "594#60511F0100000000"},
    });
}

TEST_F(ProgramNodeTest, EachProgramOfSeveralIsItsOwn) {
    Reshape([](sim::CanopenNodeSettings& s) {
        s.programs.count = 3;
        s.programs.size = 64;
    });
    node->PowerOn(clock.Now());
    EXPECT_EQ(sdo->Read(0x1F51, 0), "0x00000003");
    EXPECT_EQ(sdo->Read(0x1F57, 3), "0x00000002");
    EXPECT_EQ(sdo->Read(0x1F51, 4), "abort 0x06090011");
    // Program 1 runs; program 3 is written and started beside it.
    EXPECT_EQ(sdo->Write(0x1F50, 3, Program), "done");
    clock.Advance(std::chrono::milliseconds(1));
    EXPECT_EQ(sdo->Read(0x1F56, 3), ProgramCrc);
    EXPECT_EQ(sdo->Write(0x1F51, 3, {1}), "done");
    EXPECT_EQ(sdo->Read(0x1F51, 1), "0x00000001");
    EXPECT_EQ(sdo->Read(0x1F51, 3), "0x00000001");
    EXPECT_EQ(sdo->Write(0x1F50, 2, std::vector<std::uint8_t>(65, 1)), "abort 0x06070012");
    EXPECT_EQ(sdo->Read(0x1F56, 2), "0x00000000");
}

// Reset Node restarts the node: program 1 starts again when it holds a program.
TEST_F(ProgramNodeTest, ARestartStartsProgramOneOnlyWhenItHoldsAProgram) {
    Run({
        {"boot-up", "power on", "714#00"},
        {"stop", "614#2F511F0100000000", "594#60511F0100000000"},
        {"reset node 20", "000#8114", ""},
        {"back", "advance 500", "714#00"},
        {"program 1 started again", "614#40511F0100000000", "594#4F511F0101000000"},
        {"the node is pre-operational", "714#R1", "714#7F"},
        {"stop", "614#2F511F0100000000", "594#60511F0100000000"},
        {"clear", "614#2F511F0103000000", "594#60511F0100000000"},
        {"reset node 20", "000#8114", ""},
        {"back", "advance 500", "714#00"},
        {"program 1 stays stopped", "614#40511F0100000000", "594#4F511F0100000000"},
        {"no valid program", "614#40571F0100000000", "594#43571F0102000000"},
        {"pre-operational all the same", "714#R1", "714#7F"},
    });
}

// Each fault the network file may ask for is reported by its code once the program is
// flashed; the program is not valid, and the fault comes once.
TEST_F(ProgramNodeTest, AFaultAskedForIsReportedByItsCodeForTheNextWrite) {
    struct Case {
        const char* key;
        std::string status; // 0x1F57 once flashed: the code << 1
        bool areaStaysClear;
    };
    const std::vector<Case> cases = {
        {"data_format_unknown", "0x00000004", true}, {"data_format_error", "0x00000006", false},
        {"flash_write_error", "0x0000000A", false},  {"general_address_error", "0x0000000C", false},
        {"flash_secured", "0x0000000E", true},       {"unspecified", "0x0000007E", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        std::vector<sim::CanopenNodeSettings> nodes;
        std::string error;
        ASSERT_TRUE(sim::ParseCanopenNetwork(
            std::string("[node 20]\nprofile=302-3\nprogram_fault=") + c.key + "\n", "network.ini",
            &nodes, &error))
            << error;
        Reshape([&](sim::CanopenNodeSettings& s) { s.programs = nodes.at(0).programs; });
        node->PowerOn(clock.Now());
        StopAndClear();
        ASSERT_EQ(sdo->Write(0x1F50, 1, Program), "done");
        EXPECT_EQ(sdo->Read(0x1F57, 1), "0x00000001"); // flashing first
        clock.Advance(std::chrono::milliseconds(1));
        EXPECT_EQ(sdo->Read(0x1F57, 1), c.status);
        EXPECT_EQ(sdo->Read(0x1F56, 1), "0x00000000");
        EXPECT_EQ(sdo->Write(0x1F51, 1, {1}), "abort 0x08000022");
        if (c.areaStaysClear) {
            EXPECT_EQ(sdo->Write(0x1F50, 1, Program), "done");
        } else {
            EXPECT_EQ(sdo->Write(0x1F50, 1, Program), "abort 0x08000022");
            EXPECT_EQ(sdo->Read(0x1F57, 1), "0x00000008"); // flash not cleared
            ASSERT_EQ(sdo->Write(0x1F51, 1, {3}), "done");
            EXPECT_EQ(sdo->Write(0x1F50, 1, Program), "done");
        }
        clock.Advance(std::chrono::milliseconds(1));
        EXPECT_EQ(sdo->Read(0x1F57, 1), "0x00000000");
        EXPECT_EQ(sdo->Read(0x1F56, 1), ProgramCrc);
    }
}

// The block download initiate (ccs 6, CRC, size indicated: 0xC6) is answered with the
// node's block size (scs 5, CRC: 0xA4), or refused as a node without block transfer refuses
// it (0x05040001), as the firmware nodes always have.
TEST_F(ProgramNodeTest, BlockTransferIsServedAsTheSettingsSay) {
    struct Case {
        const char* what;
        std::function<void(sim::CanopenNodeSettings&)> change;
        std::string answer;
        std::string write; // of a 2000-byte program through an SDO client
    };
    const std::vector<Case> cases = {
        {"by default: 127 segments a sub-block", [](sim::CanopenNodeSettings&) {},
         "594#A4501F017F000000", "done in blocks"},
        {"block_size=16", [](sim::CanopenNodeSettings& s) { s.programs.blockSize = 16; },
         "594#A4501F0110000000", "done in blocks"},
        {"block_transfer=no", [](sim::CanopenNodeSettings& s) { s.programs.blockTransfer = false; },
         "594#80501F0101000405", "done segmented"},
    };
    const std::vector<std::uint8_t> program(2000, 0x3C);
    const std::string crc = [&] {
        Reshape([](sim::CanopenNodeSettings&) {});
        node->PowerOn(clock.Now());
        StopAndClear();
        EXPECT_EQ(sdo->Write(0x1F50, 1, program), "done");
        clock.Advance(std::chrono::seconds(1));
        return sdo->Read(0x1F56, 1);
    }();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Reshape(c.change);
        node->PowerOn(clock.Now());
        StopAndClear();
        Run({{"block download initiate, 2000 bytes", "614#C6501F01D0070000", c.answer},
             {"the client aborts", "614#8000000000000405", ""}});
        EXPECT_EQ(sdo->WriteInBlocks(0x1F50, 1, program), c.write);
        clock.Advance(std::chrono::seconds(1));
        EXPECT_EQ(sdo->Read(0x1F56, 1), crc);
        EXPECT_EQ(sdo->Read(0x1F57, 1), "0x00000000");
    }
}

TEST(FirmwareNodeBlockTransferTest, TheFirmwareNodeRefusesBlockTransfers) {
    std::vector<sim::CanopenNodeSettings> nodes;
    std::string error;
    ASSERT_TRUE(
        sim::ParseCanopenNetwork(sim::DefaultCanopenNetwork, "network.ini", &nodes, &error));
    ManualClock clock;
    sim::FlashNode flash(nodes.at(0).flash, clock.Clock());
    sim::LeaveCanopenFactory(flash);
    sim::CanopenNode three(nodes.at(0), [&](std::string*) { return &flash; });
    simtest::Converse(three, clock,
                      {{"boot-up", "power on", "703#00"},
                       {"block download initiate", "603#C600360026000000", "583#8000360001000405"},
                       {"block upload initiate", "603#A40A10007F000000", "583#800A100001000405"}});
}

} // namespace
