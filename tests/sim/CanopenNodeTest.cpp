// A simulated CANopen node, frame by frame. The frames are written out by hand from CiA 301
// (command specifiers, toggle bits, abort codes low byte first), never made by our encoder.

#include "CanopenNode.h"

#include "CanopenNetworkFile.h"
#include "ManualClock.h"

#include <gtest/gtest.h>
#include <sstream>

namespace {

using bus::CanFrame;

sim::CanopenNodeSettings nodeThree() {
    std::vector<sim::CanopenNodeSettings> nodes;
    std::string error;
    EXPECT_TRUE(sim::ParseCanopenNetwork(sim::DefaultCanopenNetwork, "network.ini", &nodes, &error))
        << error;
    auto node = nodes.at(0);
    node.flash.restartMilliseconds = 500;
    return node;
}

// One step of a conversation with the node: a frame in (candump text), or time passing,
// and the frames the node answers with.
struct Step {
    std::string what;
    std::string in;  // "advance 500" lets time pass; "" asks for nothing but the time
    std::string out; // the node's frames, space-separated
};

class CanopenNodeTest : public testing::Test {
public:
    CanopenNodeTest()
        : flash(settings.flash, clock.Clock()),
          node(settings, [this](std::string*) { return &flash; }) {
        sim::LeaveCanopenFactory(flash);
    }

    static std::string text(const bus::canopen::Output& output) {
        std::string s;
        for (const CanFrame& frame : output.frames)
            s += (s.empty() ? "" : " ") + bus::ToCandump(frame);
        return s;
    }

    void Run(const std::vector<Step>& steps) {
        for (const Step& step : steps) {
            SCOPED_TRACE(step.what + ": " + step.in);
            std::string said;
            if (step.in.rfind("advance ", 0) == 0) {
                clock.Advance(std::chrono::milliseconds(std::stoi(step.in.substr(8))));
                said = text(node.OnTime(clock.Now()));
            } else if (step.in == "power on") {
                said = text(node.PowerOn(clock.Now()));
            } else {
                const auto frame = bus::ParseCandump(step.in);
                ASSERT_TRUE(frame.has_value());
                said = text(node.OnFrame(*frame, clock.Now()));
            }
            EXPECT_EQ(said, step.out);
        }
    }

    ManualClock clock;
    sim::CanopenNodeSettings settings = nodeThree();
    sim::FlashNode flash;
    sim::CanopenNode node;
};

TEST_F(CanopenNodeTest, IdentityObjectsAnswerExpeditedAndSegmentedUploads) {
    Run({
        {"boot-up", "power on", "703#00"},
        {"device type", "603#4000100000000000", "583#4300100091010000"},
        {"error register", "603#4001100000000000", "583#4F01100000000000"},
        {"vendor", "603#4018100100000000", "583#431810018E040000"},
        {"product code", "603#4018100200000000", "583#43181002A30F0000"},
        {"serial number", "603#4018100400000000", "583#43181004C3C62D00"},
        {"software version: the running image's revision", "603#400A100000000000",
         "583#470A1000312E3500"},
        {"device name: initiate, 18 bytes", "603#4008100000000000", "583#4108100012000000"},
        {"first segment", "603#6000000000000000", "583#0053696D756C6174"},
        {"second segment, toggled", "603#7000000000000000", "583#10656420492F4F20"},
        {"last segment: 4 bytes, 3 unused, c", "603#6000000000000000", "583#074E6F6465000000"},
    });
}

TEST_F(CanopenNodeTest, RefusalsCarryTheirAbortCodes) {
    Run({
        {"no such object", "603#4000200000000000", "583#8000200000000206"},
        {"no such sub-index", "603#4000100100000000", "583#8000100111000906"},
        {"the password is write-only", "603#400F360000000000", "583#800F360001000106"},
        {"the device type is read-only", "603#2300100001000000", "583#8000100002000106"},
        {"a wrong password", "603#230F360034120000", "583#800F360030000906"},
        {"no sector 4", "603#2F04360004000000", "583#8004360031000906"},
        {"a byte where four belong", "603#2F0F36002B000000", "583#800F360013000706"},
        {"an erase outside download mode: refused at the initiate", "603#2100360026000000",
         "583#8000360022000008"},
        {"a boot sector outside download mode", "603#2F0B360001000000", "583#800B360022000008"},
    });
}

// The password arms download mode; Reset Node restarts the node into it, off the bus for
// its restart time, and its boot-up says it is back.
TEST_F(CanopenNodeTest, PasswordThenResetNodeEntersDownloadModeAndFlashCanBeWritten) {
    Run({
        {"password", "603#230F36002B1A0000", "583#600F360000000000"},
        {"still the application: product code", "603#4018100200000000", "583#43181002A30F0000"},
        {"reset node 3", "000#8103", ""},
        {"restarting: guarding unanswered", "703#R1", ""},
        {"restarting: SDO unanswered", "603#4000100000000000", ""},
        {"not back yet", "advance 499", ""},
        {"back: boot-up", "advance 1", "703#00"},
        {"download mode: product code 0", "603#4018100200000000", "583#4318100200000000"},
        {"select sector 1", "603#2F04360001000000", "583#6004360000000000"},
        {"erase it: 38 bytes announced", "603#2100360026000000", "583#6000360000000000"},
        {"segment 1", "603#0003010000000000", "583#2000000000000000"},
        {"segment 2", "603#1000000000000000", "583#3000000000000000"},
        {"segment 3", "603#0000000000000000", "583#2000000000000000"},
        {"segment 4", "603#1000000000000000", "583#3000000000000000"},
        {"segment 5", "603#0000000000000000", "583#2000000000000000"},
        {"segment 6, the last: 3 bytes, 4 unused", "603#1900000000000000", "583#3000000000000000"},
        {"write block 02 01 000000 04 DEADBEEF: initiate, 10 bytes", "603#210036000A000000",
         "583#6000360000000000"},
        {"segment 1", "603#00020100000004DE", "583#2000000000000000"},
        {"last segment: 3 bytes, 4 unused, c, toggled", "603#19ADBEEF00000000",
         "583#3000000000000000"},
        {"revision of sector 1: erased", "603#4009360000000000", "583#43093600FFFFFFFF"},
        {"size of sector 1", "603#400E360000000000", "583#430E360000000300"},
        {"checksum width", "603#4011360000000000", "583#4F11360010000000"},
        {"checksum state: none stored", "603#4010360000000000", "583#4F10360000000000"},
    });
    std::uint8_t bytes[4];
    ASSERT_TRUE(flash.Read(1, 0, bytes, 4));
    EXPECT_EQ(bytes[0], 0xDE);
    EXPECT_EQ(bytes[3], 0xEF);
}

TEST_F(CanopenNodeTest, NmtStatesAndGuardingReplies) {
    Run({
        {"boot-up", "power on", "703#00"},
        {"guarding: pre-operational, toggle 0", "703#R1", "703#7F"},
        {"toggle 1", "703#R1", "703#FF"},
        {"start every node", "000#0100", ""},
        {"operational, toggle 0", "703#R1", "703#05"},
        {"a command for node 4 is not ours", "000#0204", ""},
        {"operational, toggle 1", "703#R1", "703#85"},
        {"stop node 3", "000#0203", ""},
        {"stopped", "703#R1", "703#04"},
        {"a stopped node's SDO server is quiet", "603#4000100000000000", ""},
        {"reset communication: boot-up, toggle starts again", "000#8203", "703#00"},
        {"pre-operational, toggle 0", "703#R1", "703#7F"},
        {"a reset node without an armed password: the boot sector again", "000#8100", ""},
        {"back", "advance 500", "703#00"},
        {"the application: product code", "603#4018100200000000", "583#43181002A30F0000"},
    });
}

} // namespace
