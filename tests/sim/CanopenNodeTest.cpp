// A simulated CANopen node, frame by frame. The frames are written out by hand from CiA 301
// (command specifiers, toggle bits, abort codes low byte first), never made by our encoder.

#include "CanopenNode.h"

#include "CanopenNetworkFile.h"
#include "ManualClock.h"

#include <functional>
#include <gtest/gtest.h>
#include <optional>

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
    CanopenNodeTest() {
        Reshape([](sim::CanopenNodeSettings&) {});
    }

    // A node fresh from the factory, node 3 of the default network with the changes asked for.
    void Reshape(const std::function<void(sim::CanopenNodeSettings&)>& change) {
        settings = nodeThree();
        change(settings);
        node.reset();
        flash.emplace(settings.flash, clock.Clock());
        sim::LeaveCanopenFactory(*flash);
        node.emplace(settings, [this](std::string*) { return &*flash; });
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
                said = text(node->OnTime(clock.Now()));
            } else if (step.in == "power on") {
                said = text(node->PowerOn(clock.Now()));
            } else {
                const auto frame = bus::ParseCandump(step.in);
                ASSERT_TRUE(frame.has_value());
                said = text(node->OnFrame(*frame, clock.Now()));
            }
            EXPECT_EQ(said, step.out);
        }
    }

    ManualClock clock;
    sim::CanopenNodeSettings settings;
    std::optional<sim::FlashNode> flash;
    std::optional<sim::CanopenNode> node;
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
    ASSERT_TRUE(flash->Read(1, 0, bytes, 4));
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

// A heartbeat carries the NMT state alone (bit 7 clear), every 0x1017 milliseconds from the
// boot-up; a reset starts again from the network file's time.
TEST_F(CanopenNodeTest, HeartbeatsFollowTheProducerTime) {
    Run({
        {"by default: no heartbeat", "power on", "703#00"},
        {"0x1017 reads 0", "603#4017100000000000", "583#4B17100000000000"},
        {"nothing comes", "advance 10000", ""},
    });
    Reshape([](sim::CanopenNodeSettings& s) { s.heartbeatMilliseconds = 100; });
    Run({
        {"boot-up", "power on", "703#00"},
        {"not yet", "advance 99", ""},
        {"pre-operational", "advance 1", "703#7F"},
        {"start node 3", "000#0103", ""},
        {"operational", "advance 100", "703#05"},
        {"0x1017 reads 100", "603#4017100000000000", "583#4B17100064000000"},
        {"250 ms from now on", "603#2B171000FA000000", "583#6017100000000000"},
        {"not yet", "advance 249", ""},
        {"250 ms after the write", "advance 1", "703#05"},
        {"stop node 3", "000#0203", ""},
        {"a stopped node beats too", "advance 250", "703#04"},
        {"pre-operational again", "000#8003", ""},
        {"pre-operational", "advance 250", "703#7F"},
        {"0 stops the heartbeat", "603#2B17100000000000", "583#6017100000000000"},
        {"nothing comes", "advance 10000", ""},
        {"reset communication", "000#8203", "703#00"},
        {"the file's time again", "advance 100", "703#7F"},
        {"0x1017 reads 100 again", "603#4017100000000000", "583#4B17100064000000"},
        {"reset node: off the bus", "000#8103", ""},
        {"no heartbeat while restarting", "advance 499", ""},
        {"back", "advance 1", "703#00"},
        {"and beating", "advance 100", "703#7F"},
    });
}

// The life time (guard time × life-time factor) counts from the master's first guard request
// once both are set; when it passes without a request, the node sends one emergency message:
// 0x80+n, error code 0x8130 low byte first, error register 0x11, five zero bytes.
TEST_F(CanopenNodeTest, AnExceededLifeTimeSendsOneEmergencyMessage) {
    Run({
        {"boot-up", "power on", "703#00"},
        {"guard time 100 ms", "603#2B0C100064000000", "583#600C100000000000"},
        {"a request without a factor", "703#R1", "703#7F"},
        {"life-time factor 3", "603#2F0D100003000000", "583#600D100000000000"},
        {"no request since both were set: nothing counts", "advance 1000", ""},
        {"the first request: 300 ms from now", "703#R1", "703#FF"},
        {"within the life time", "advance 299", ""},
        {"a request starts it again", "703#R1", "703#7F"},
        {"within the life time", "advance 299", ""},
        {"exceeded", "advance 1", "083#3081110000000000"},
        {"once", "advance 1000", ""},
        {"the error register tells", "603#4001100000000000", "583#4F01100011000000"},
        {"guarding again", "703#R1", "703#FF"},
        {"the register is clear", "603#4001100000000000", "583#4F01100000000000"},
        {"exceeded again", "advance 300", "083#3081110000000000"},
        {"guarding again", "703#R1", "703#7F"},
        {"guard time 0 ends the life time", "603#2B0C100000000000", "583#600C100000000000"},
        {"nothing to exceed", "advance 10000", ""},
        {"guard time 100 again", "603#2B0C100064000000", "583#600C100000000000"},
        {"guarding again", "703#R1", "703#FF"},
        {"life-time factor 0 ends it too", "603#2F0D100000000000", "583#600D100000000000"},
        {"nothing to exceed", "advance 10000", ""},
        {"life-time factor 3 again", "603#2F0D100003000000", "583#600D100000000000"},
        {"stop node 3", "000#0203", ""},
        {"guarded while stopped", "703#R1", "703#04"},
        {"a stopped node sends no emergency message", "advance 300", ""},
        {"start node 3", "000#0103", ""},
        {"the register still tells", "603#4001100000000000", "583#4F01100011000000"},
        {"reset communication", "000#8203", "703#00"},
        {"guard time 0 again", "603#400C100000000000", "583#4B0C100000000000"},
        {"life-time factor 0 again", "603#400D100000000000", "583#4F0D100000000000"},
        {"the register is clear", "603#4001100000000000", "583#4F01100000000000"},
        {"a request", "703#R1", "703#7F"},
        {"no life time to exceed", "advance 10000", ""},
    });
}

// What the network file's keys change in the node's answers, beside the defaults users meet.
TEST_F(CanopenNodeTest, GuardingAndSizeIndicationAsTheNetworkFileAsks) {
    struct Case {
        const char* what;
        std::function<void(sim::CanopenNodeSettings&)> change;
        std::vector<Step> steps;
    };
    const std::vector<Case> cases = {
        {"by default",
         [](sim::CanopenNodeSettings&) {},
         {
             {"boot-up", "power on", "703#00"},
             {"a guard request", "703#R1", "703#7F"},
             {"guard time", "603#2B0C100064000000", "583#600C100000000000"},
             {"guard time read", "603#400C100000000000", "583#4B0C100064000000"},
             {"life-time factor", "603#2F0D100003000000", "583#600D100000000000"},
             {"life-time factor read", "603#400D100000000000", "583#4F0D100003000000"},
             {"four bytes, size given", "603#4000100000000000", "583#4300100091010000"},
             {"one byte, size given", "603#4001100000000000", "583#4F01100000000000"},
         }},
        {"guarding=no, heartbeat_ms=100",
         [](sim::CanopenNodeSettings& s) {
             s.guarding = false;
             s.heartbeatMilliseconds = 100;
         },
         {
             {"boot-up", "power on", "703#00"},
             {"a guard request goes unanswered", "703#R1", ""},
             {"no guard time to write", "603#2B0C100064000000", "583#800C100000000206"},
             {"or to read", "603#400C100000000000", "583#800C100000000206"},
             {"no life-time factor to write", "603#2F0D100003000000", "583#800D100000000206"},
             {"or to read", "603#400D100000000000", "583#800D100000000206"},
             {"heartbeats instead", "advance 100", "703#7F"},
         }},
        {"guarding=yes, heartbeat_ms=100: the heartbeat instead of guarding",
         [](sim::CanopenNodeSettings& s) { s.heartbeatMilliseconds = 100; },
         {
             {"boot-up", "power on", "703#00"},
             {"a guard request goes unanswered", "703#R1", ""},
             {"the guarding entries are there", "603#2B0C100064000000", "583#600C100000000000"},
             {"heartbeats", "advance 100", "703#7F"},
             {"heartbeat off", "603#2B17100000000000", "583#6017100000000000"},
             {"guarding answers again", "703#R1", "703#7F"},
         }},
        {"size_indicated=no",
         [](sim::CanopenNodeSettings& s) { s.sizeIndicated = false; },
         {
             {"boot-up", "power on", "703#00"},
             {"four bytes, size left out", "603#4000100000000000", "583#4200100091010000"},
             {"one byte: the rest 0", "603#4001100000000000", "583#4201100000000000"},
             {"two bytes", "603#4017100000000000", "583#4217100000000000"},
             {"five bytes go segmented, with their size", "603#4009100000000000",
              "583#4109100005000000"},
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Reshape(c.change);
        Run(c.steps);
    }
}

} // namespace
