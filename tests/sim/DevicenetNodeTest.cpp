// A simulated DeviceNet node, frame by frame. The frames are written out by hand from the
// DeviceNet message layouts — Group 2 identifiers 0x400 | MAC ID << 3 | message ID, the
// header byte (Frag, XID, the master's MAC ID), the fragment byte (type in bits 6-7, count in
// bits 0-5), service codes and general status codes — never made by our encoder.
//
// Node 3 of the default network: identifiers 41B (its responses), 41C (explicit requests to
// it), 41E (unconnected requests), 41F (its duplicate MAC ID check). The master is MAC ID 0.
// Vendor 1166 = 8E 04, serial number 5000003 = 43 4B 4C 00.

#include "DevicenetNode.h"

#include "DevicenetNetworkFile.h"
#include "ManualClock.h"

#include <gtest/gtest.h>

namespace {

using bus::CanFrame;

sim::DevicenetNodeSettings defaultNode(std::size_t index) {
    std::vector<sim::DevicenetNodeSettings> nodes;
    std::string error;
    EXPECT_TRUE(
        sim::ParseDevicenetNetwork(sim::DefaultDevicenetNetwork, "network.ini", &nodes, &error))
        << error;
    auto node = nodes.at(index);
    node.flash.restartMilliseconds = 500;
    return node;
}

// One step of a conversation with the node: a frame in (candump text), "power on", or time
// passing, and the frames the node answers with.
struct Step {
    std::string what;
    std::string in;  // "advance 500" lets time pass
    std::string out; // the node's frames, space-separated
};

// A node and its flash as they leave the factory, on a clock the test moves.
class Conversation {
public:
    explicit Conversation(sim::DevicenetNodeSettings nodeSettings, bool withFlash = true)
        : settings(std::move(nodeSettings)), flash(settings.flash, clock.Clock()),
          node(settings, [this, withFlash](std::string* error) -> sim::FlashNode* {
              if (withFlash)
                  return &flash;
              *error = "its folder is in use";
              return nullptr;
          }) {
        sim::LeaveDevicenetFactory(flash, settings.factoryMode);
    }

    static std::string text(const bus::devicenet::Output& output) {
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

    // Power on, the two check requests a second apart, a second of silence: online; then the
    // master allocates the explicit connection.
    void OnlineAndAllocated() {
        Run({
            {"power on: check request", "power on", "41F#008E04434B4C00"},
            {"second check request", "advance 1000", "41F#008E04434B4C00"},
            {"online", "advance 1000", ""},
            {"allocate explicit, master 0", "41E#004B03010100", "41B#00CB00"},
        });
    }

    ManualClock clock;
    sim::DevicenetNodeSettings settings;
    sim::FlashNode flash;
    sim::DevicenetNode node;
};

class DevicenetNodeTest : public testing::Test {
public:
    Conversation c{defaultNode(0)};
};

TEST_F(DevicenetNodeTest, AllocatesAnswersItsIdentityAndReleases) {
    c.Run({
        {"power on: check request", "power on", "41F#008E04434B4C00"},
        {"checking: an allocate goes unanswered", "41E#004B03010100", ""},
        {"second check request", "advance 1000", "41F#008E04434B4C00"},
        {"online", "advance 1000", ""},
        {"a request before allocation is not heard", "41C#000E010101", ""},
        {"allocate explicit: body format 8/8", "41E#004B03010100", "41B#00CB00"},
        {"allocate again: already in requested state", "41E#004B03010100", "41B#00940BFF"},
        {"another master: object state conflict, owned", "41E#074B03010107", "41B#07940C01"},
        {"vendor ID", "41C#000E010101", "41B#008E8E04"},
        {"device type", "41C#000E010102", "41B#008E0700"},
        {"product code 3003, bit 15 clear", "41C#000E010103", "41B#008EBB0B"},
        {"revision of the application 1.5", "41C#000E010104", "41B#008E0105"},
        {"status: owned", "41C#000E010105", "41B#008E0100"},
        {"serial number", "41C#000E010106", "41B#008E434B4C00"},
        {"the XID comes back", "41C#400E010101", "41B#408E8E04"},
        {"a request of another master is not answered", "41C#070E010101", ""},
        {"product name: 20 bytes, first fragment", "41C#000E010107", "41B#80008E1253696D75"},
        {"ack 0: middle 1", "41C#80C000", "41B#80416C6174656420"},
        {"ack 1: middle 2", "41C#80C100", "41B#8042492F4F204E6F"},
        {"ack 2: last 3", "41C#80C200", "41B#80836465"},
        {"ack 3: done", "41C#80C300", ""},
        {"release explicit", "41E#004C030101", "41B#00CC"},
        {"released: not heard", "41C#000E010101", ""},
    });
}

// The password arms download mode; the Identity Reset takes the node off the bus for its
// restart time, it checks its MAC ID again when it is back, and its connection is gone.
TEST_F(DevicenetNodeTest, PasswordAndResetEnterDownloadModeAndAFragmentedBlockIsWritten) {
    c.OnlineAndAllocated();
    c.Run({
        {"password 1A2B: 8 bytes of body, first fragment", "41C#800010C701122B1A", "41B#80C000"},
        {"last fragment", "41C#80810000", "41B#80C100 41B#0090"},
        {"still the application", "41C#000E010103", "41B#008EBB0B"},
        {"Identity Reset: answered, then off the bus", "41C#00050101", "41B#0085"},
        {"restarting: nothing heard", "41C#000E010103", ""},
        {"restarting: a check is not answered", "41F#00D90201000000", ""},
        {"not back yet", "advance 499", ""},
        {"back: the check starts again", "advance 1", "41F#008E04434B4C00"},
        {"second check request", "advance 1000", "41F#008E04434B4C00"},
        {"online", "advance 1000", ""},
        {"the connection went with the restart", "41C#000E010103", ""},
        {"allocate again", "41E#004B03010100", "41B#00CB00"},
        {"download mode: bit 15 of the product code", "41C#000E010103", "41B#008EBB8B"},
        {"the loader's revision 1.2", "41C#000E010104", "41B#008E0102"},
        {"erase sector 2", "41C#0010C701030302", "41B#0090"},
        // 02 02 45 23 01 20 and 32 bytes 00..1F: 42 bytes of body in seven fragments.
        {"block: first", "41C#800010C701030202", "41B#80C000"},
        {"middle 1", "41C#8041452301200001", "41B#80C100"},
        {"middle 2", "41C#8042020304050607", "41B#80C200"},
        {"middle 3", "41C#804308090A0B0C0D", "41B#80C300"},
        {"middle 4", "41C#80440E0F10111213", "41B#80C400"},
        {"middle 5", "41C#8045141516171819", "41B#80C500"},
        {"last 6: acknowledged, then carried out", "41C#80861A1B1C1D1E1F", "41B#80C600 41B#0090"},
        {"select sector 2", "41C#0010C7010702", "41B#0090"},
        {"revision: erased", "41C#000EC7010C", "41B#008EFFFFFFFF"},
        {"name: empty", "41C#000EC70108", "41B#008E00"},
        {"checksum: none stored", "41C#000EC7010D", "41B#008EFFFFFFFF"},
        {"sector count", "41C#000EC70110", "41B#008E04"},
        {"size of sector 2", "41C#000EC70111", "41B#008E00000300"},
        {"boot sector: the erased one is gone, the loader's", "41C#000EC7010E", "41B#008E00"},
    });
    std::uint8_t bytes[32];
    ASSERT_TRUE(c.flash.Read(2, 0x012345, bytes, 32));
    for (std::uint8_t i = 0; i < 32; ++i)
        EXPECT_EQ(bytes[i], i);
}

TEST_F(DevicenetNodeTest, TheSectorDescriptionComesFromTheImageHeader) {
    c.OnlineAndAllocated();
    c.Run({
        {"select sector 0", "41C#0010C7010700", "41B#0090"},
        {"name: DeviceNet Boot, 14 characters", "41C#000EC70108", "41B#80008E0E44657669"},
        {"ack 0", "41C#80C000", "41B#804163654E657420"},
        {"ack 1", "41C#80C100", "41B#8082426F6F74"},
        {"ack 2", "41C#80C200", ""},
        {"build date: Jun 03 2025", "41C#000EC7010A", "41B#80008E0B4A756E20"},
        {"ack 0", "41C#80C000", "41B#8041303320323032"},
        {"ack 1", "41C#80C100", "41B#808235"},
        {"ack 2", "41C#80C200", ""},
        {"revision 1.2", "41C#000EC7010C", "41B#008E02000100"},
        {"selected", "41C#000EC70107", "41B#008E00"},
    });
}

TEST_F(DevicenetNodeTest, RefusalsCarryTheirGeneralStatus) {
    c.OnlineAndAllocated();
    c.Run({
        {"a wrong password: first fragment", "41C#800010C701123412", "41B#80C000"},
        {"last: privilege violation", "41C#80810000", "41B#80C100 41B#00940FFF"},
        {"erase outside download mode: object state conflict", "41C#0010C701030302",
         "41B#00940CFF"},
        {"boot sector outside download mode", "41C#0010C7010E02", "41B#00940CFF"},
        {"no attribute 15", "41C#000EC7010F", "41B#009414FF"},
        {"the password is not read", "41C#000EC70112", "41B#009414FF"},
        {"the revision is not settable", "41C#0010C7010C00", "41B#00940EFF"},
        {"no sector 4", "41C#0010C7010704", "41B#009409FF"},
        {"a sector in two bytes: too much data", "41C#0010C701070100", "41B#009415FF"},
        {"a sector in none: not enough data", "41C#0010C70107", "41B#009413FF"},
        {"a get without its attribute", "41C#000EC701", "41B#009413FF"},
        {"an unknown command", "41C#0010C7010307", "41B#009409FF"},
        {"a write block without its length", "41C#0010C7010302", "41B#009413FF"},
        {"no instance 2", "41C#000EC70201", "41B#009416FF"},
        {"no class 0x64", "41C#000E640101", "41B#009416FF"},
        {"Get_Attributes_All: service not supported", "41C#00010101", "41B#009408FF"},
        {"the vendor ID is not settable", "41C#00100101010000", "41B#00940EFF"},
        {"a reset to factory defaults is not offered", "41C#0005010101", "41B#009420FF"},
        {"nothing happened: still the application", "41C#000E010103", "41B#008EBB0B"},
    });
}

TEST_F(DevicenetNodeTest, FlashRefusalsInDownloadMode) {
    c.flash.SetRunState(sim::NodeMode::Download, 0, 2);
    c.OnlineAndAllocated();
    c.Run({
        {"FF over the application's first byte 44: first", "41C#800010C701030202", "41B#80C000"},
        {"last: not erased, device state conflict", "41C#808100000001FF",
         "41B#80C100 41B#009410FF"},
        {"a byte past the end of sector 1: first", "41C#800010C701030201", "41B#80C000"},
        {"last: invalid attribute value", "41C#808100000301FF", "41B#80C100 41B#009409FF"},
        {"an erase of sector 9", "41C#0010C701030309", "41B#009409FF"},
        {"an erase with a byte too many", "41C#0010C70103030100", "41B#009415FF"},
        {"boot sector 1 (empty, but allowed)", "41C#0010C7010E01", "41B#0090"},
        {"boot sector 1", "41C#000EC7010E", "41B#008E01"},
    });
}

TEST(DevicenetLoaderNodeTest, DownloadModeProductCodeAndNoSectorSizeAttribute) {
    Conversation c{defaultNode(1)};
    c.Run({
        // MAC ID 5: identifiers 42B, 42C, 42E, 42F; vendor 729 = D9 02, 5000005 = 45 4B 4C 00.
        {"power on", "power on", "42F#00D902454B4C00"},
        {"second check", "advance 1000", "42F#00D902454B4C00"},
        {"online", "advance 1000", ""},
        {"allocate", "42E#004B03010100", "42B#00CB00"},
        {"vendor 729", "42C#000E010101", "42B#008ED902"},
        {"product code 0x9FE2: download mode", "42C#000E010103", "42B#008EE29F"},
        {"the loader's revision", "42C#000E010104", "42B#008E0102"},
        {"select sector 1", "42C#0010C7010701", "42B#0090"},
        {"no attribute 17", "42C#000EC70111", "42B#009414FF"},
        {"nor set", "42C#0010C70111", "42B#009414FF"},
        {"an erase is allowed", "42C#0010C701030301", "42B#0090"},
    });
}

// Each step returns when the node wants to be called next, whatever the frame was: the
// inactivity watchdog 10 s after the master last spoke on the connection, the repeat of an
// unacknowledged response fragment after 500 ms, the end of a restart (500 ms here), the
// second check request a second after the first.
TEST_F(DevicenetNodeTest, EachStepReturnsTheNodesNextDeadline) {
    using std::chrono::milliseconds;
    c.OnlineAndAllocated();
    const auto allocated = c.clock.Now();
    struct Case {
        const char* what;
        std::string in; // "advance N" lets time pass
        const char* out;
        int deadline; // ms after the allocation
    };
    const Case cases[] = {
        {"another station's check request: answered", "41F#00D90201000000", "41F#808E04434B4C00",
         10000},
        {"a frame of another node", "42E#004B03010100", "", 10000},
        {"a while later", "advance 1000", "", 10000},
        {"product name: the first fragment", "41C#000E010107", "41B#80008E1253696D75", 1500},
        {"its acknowledgement lost: sent again", "advance 500", "41B#80008E1253696D75", 2000},
        {"given up: the watchdog is left", "advance 500", "", 11000},
        {"Identity Reset: off the bus", "41C#00050101", "41B#0085", 2500},
        {"back: checks its MAC ID", "advance 500", "41F#008E04434B4C00", 3500},
    };
    for (const Case& step : cases) {
        SCOPED_TRACE(step.what);
        bus::devicenet::Output out;
        if (step.in.rfind("advance ", 0) == 0) {
            c.clock.Advance(milliseconds(std::stoi(step.in.substr(8))));
            out = c.node.OnTime(c.clock.Now());
        } else {
            out = c.node.OnFrame(*bus::ParseCandump(step.in), c.clock.Now());
        }
        EXPECT_EQ(Conversation::text(out), step.out);
        EXPECT_EQ(out.deadline - allocated, milliseconds(step.deadline));
    }
}

TEST_F(DevicenetNodeTest, TheDuplicateMacCheck) {
    c.Run({
        {"power on", "power on", "41F#008E04434B4C00"},
        {"a check for MAC ID 4 is not ours", "427#80D90201000000", ""},
        {"second check", "advance 1000", "41F#008E04434B4C00"},
        {"online", "advance 1000", ""},
        {"a check request from another node: answered", "41F#00D90201000000", "41F#808E04434B4C00"},
        {"allocate", "41E#004B03010100", "41B#00CB00"},
        {"a response: another node has MAC ID 3", "41F#80D90201000000", ""},
        {"off the network from now on", "41C#000E010101", ""},
        {"a check is not answered either", "41F#00D90201000000", ""},
    });
}

TEST_F(DevicenetNodeTest, AnAnswerToItsCheckKeepsTheNodeOffTheNetwork) {
    c.Run({
        {"power on", "power on", "41F#008E04434B4C00"},
        {"another node answers for MAC ID 3", "41F#80D90201000000", ""},
        {"no second request", "advance 1000", ""},
        {"never online", "advance 1000", ""},
        {"an allocate is not answered", "41E#004B03010100", ""},
    });
}

TEST(DevicenetNodeWithoutCheckTest, AnswersAtOnce) {
    auto settings = defaultNode(0);
    settings.duplicateMacCheck = false;
    Conversation c{settings};
    c.Run({
        {"power on: no check", "power on", ""},
        {"allocate", "41E#004B03010100", "41B#00CB00"},
        {"a check request from another node is answered", "41F#00D90201000000",
         "41F#808E04434B4C00"},
    });
}

TEST(DevicenetNodeWithoutFlashTest, FallsSilent) {
    auto settings = defaultNode(0);
    settings.duplicateMacCheck = false;
    Conversation c{settings, false};
    testing::internal::CaptureStderr();
    c.Run({
        {"power on", "power on", ""},
        {"its flash cannot be opened", "41E#004B03010100", ""},
        {"still silent", "41E#004B03010100", ""},
    });
    EXPECT_NE(testing::internal::GetCapturedStderr().find("its folder is in use"),
              std::string::npos);
}

} // namespace
