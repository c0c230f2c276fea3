// The network files' keys for how the field behaves: the nodes' answer delays, the CANopen
// nodes' heartbeat, guarding and size indication, and the [bus] section, in both networks.

#include "CanopenNetworkFile.h"
#include "DevicenetNetworkFile.h"

#include <functional>
#include <gtest/gtest.h>

namespace {

using sim::CanopenNodeSettings;
using sim::NetworkBehaviour;

struct Parsed {
    bool ok = false;
    std::string error;
    NetworkBehaviour behaviour;
    std::vector<CanopenNodeSettings> canopen;
    std::vector<sim::DevicenetNodeSettings> devicenet;
};

Parsed canopen(const std::string& text) {
    Parsed p;
    p.ok = sim::ParseCanopenNetwork(text, "network.ini", &p.canopen, &p.behaviour, &p.error);
    return p;
}

Parsed devicenet(const std::string& text) {
    Parsed p;
    p.ok = sim::ParseDevicenetNetwork(text, "network.ini", &p.devicenet, &p.behaviour, &p.error);
    return p;
}

// Nothing written: the kind network of before, with every node guarded and sizes stated.
TEST(NetworkFileTest, TheDefaultNetworksAskForNoneOfTheFieldsWays) {
    for (const Parsed& p :
         {canopen(sim::DefaultCanopenNetwork), devicenet(sim::DefaultDevicenetNetwork)}) {
        ASSERT_TRUE(p.ok) << p.error;
        EXPECT_FALSE(p.behaviour.bus.Any());
        for (const auto& [node, delay] : p.behaviour.answerDelayMilliseconds)
            EXPECT_EQ(delay, 0u) << "node " << int(node);
    }
    for (const CanopenNodeSettings& node : canopen(sim::DefaultCanopenNetwork).canopen) {
        EXPECT_EQ(node.heartbeatMilliseconds, 0);
        EXPECT_TRUE(node.guarding);
        EXPECT_TRUE(node.sizeIndicated);
    }
}

TEST(NetworkFileTest, TheDefaultFilesExplainTheNewKeysInTheirHeader) {
    const auto header = [](const std::string& text) {
        return text.substr(0, text.find("\n[node"));
    };
    const std::string canopenHeader = header(sim::DefaultCanopenNetwork);
    const std::string devicenetHeader = header(sim::DefaultDevicenetNetwork);
    for (const char* key :
         {"answer_delay_ms", "[bus]", "lose_every", "duplicate_every", "delay_every", "delay_ms"}) {
        EXPECT_NE(canopenHeader.find(key), std::string::npos) << key;
        EXPECT_NE(devicenetHeader.find(key), std::string::npos) << key;
    }
    for (const char* key : {"heartbeat_ms", "guarding", "size_indicated"})
        EXPECT_NE(canopenHeader.find(key), std::string::npos) << key;
}

TEST(NetworkFileTest, GoodValuesShapeTheNodesAndTheBus) {
    struct Case {
        const char* text;
        std::function<void(const Parsed&)> check;
    };
    const std::vector<Case> cases = {
        {"[node 3]\nheartbeat_ms=65535\n[node 4]\nheartbeat_ms=0\n",
         [](const Parsed& p) {
             EXPECT_EQ(p.canopen.at(0).heartbeatMilliseconds, 65535);
             EXPECT_EQ(p.canopen.at(1).heartbeatMilliseconds, 0);
         }},
        {"[node 3]\nguarding=no\nsize_indicated=no\n[node 4]\nguarding=yes\nsize_indicated=yes\n",
         [](const Parsed& p) {
             EXPECT_FALSE(p.canopen.at(0).guarding);
             EXPECT_FALSE(p.canopen.at(0).sizeIndicated);
             EXPECT_TRUE(p.canopen.at(1).guarding);
             EXPECT_TRUE(p.canopen.at(1).sizeIndicated);
         }},
        {"[node 3]\nanswer_delay_ms=5000\n[node 4]\n[node 5]\nanswer_delay_ms=0\n",
         [](const Parsed& p) {
             EXPECT_EQ(p.behaviour.answerDelayMilliseconds,
                       (std::map<std::uint8_t, std::uint32_t>{{3, 5000}, {5, 0}}));
         }},
        {"[bus]\nlose_every=1000000\nduplicate_every=7\ndelay_every=3\ndelay_ms=5000\n[node 3]\n",
         [](const Parsed& p) {
             EXPECT_EQ(p.behaviour.bus.loseEvery, 1000000u);
             EXPECT_EQ(p.behaviour.bus.duplicateEvery, 7u);
             EXPECT_EQ(p.behaviour.bus.delayEvery, 3u);
             EXPECT_EQ(p.behaviour.bus.delayMilliseconds, 5000u);
         }},
        {"[bus]\nlose_once=594#A4, 7ff#,1C#0102030405060708\n[node 3]\n",
         [](const Parsed& p) {
             const auto& patterns = p.behaviour.bus.loseOnce;
             ASSERT_EQ(patterns.size(), 3u);
             EXPECT_EQ(patterns[0].id, 0x594u);
             EXPECT_EQ(patterns[0].start, std::vector<std::uint8_t>{0xA4});
             EXPECT_EQ(patterns[1].id, 0x7FFu);
             EXPECT_TRUE(patterns[1].start.empty()); // every frame with the CAN-ID
             EXPECT_EQ(patterns[2].id, 0x1Cu);
             EXPECT_EQ(patterns[2].start.size(), 8u);
             EXPECT_TRUE(p.behaviour.bus.Any());
         }},
        {"[node 3]\n[bus]\n# after the nodes, and 0 for never\nlose_every=0\n[node 4]\n",
         [](const Parsed& p) {
             EXPECT_FALSE(p.behaviour.bus.Any());
             EXPECT_EQ(p.canopen.size(), 2u);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const Parsed p = canopen(c.text);
        ASSERT_TRUE(p.ok) << p.error;
        c.check(p);
    }
    // The DeviceNet network reads the same host keys.
    const Parsed p = devicenet("[node 0]\nanswer_delay_ms=250\n[bus]\nlose_every=9\ndelay_every=2\n"
                               "delay_ms=40\n[node 63]\n");
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.behaviour.answerDelayMilliseconds,
              (std::map<std::uint8_t, std::uint32_t>{{0, 250}}));
    EXPECT_EQ(p.behaviour.bus.loseEvery, 9u);
    EXPECT_EQ(p.behaviour.bus.delayEvery, 2u);
    EXPECT_EQ(p.behaviour.bus.delayMilliseconds, 40u);
    EXPECT_EQ(p.devicenet.size(), 2u);
}

// Numbers are decimal unless written with 0x: a leading zero makes no octal number.
TEST(NetworkFileTest, NumbersAreDecimalUnlessWrittenWith0x) {
    const Parsed p = canopen("[node 3]\nserial_number=0100\nvendor_id=0x0100\nproduct_code=08\n"
                             "revision_number=0X1f\npassword=0100\nsector_sizes=010,0x10\n");
    ASSERT_TRUE(p.ok) << p.error;
    const sim::FlashNodeSettings& flash = p.canopen.at(0).flash;
    EXPECT_EQ(flash.identity.serialNumber, 100u);
    EXPECT_EQ(flash.identity.vendorId, 256u);
    EXPECT_EQ(flash.identity.productCode, 8u);
    EXPECT_EQ(flash.identity.revision, 31u);
    EXPECT_EQ(flash.password, 0x100u);
    EXPECT_EQ(flash.sectorSizes, (std::vector<std::uint32_t>{10, 16}));
    for (const char* value : {"0x", "1e3", "0b101", "0x-1", "+5", "0 1"}) {
        SCOPED_TRACE(value);
        const Parsed refused = canopen(std::string("[node 3]\nserial_number=") + value + "\n");
        EXPECT_FALSE(refused.ok);
        EXPECT_EQ(refused.error.rfind("network.ini:2: serial_number=", 0), 0u) << refused.error;
    }
}

// A key given twice in a section is named with its line on standard error; the later value
// counts.
TEST(NetworkFileTest, AKeyGivenTwiceInASectionIsNamedWithItsLine) {
    testing::internal::CaptureStderr();
    const Parsed p = canopen("[bus]\nlose_every=3\nlose_every=4\n[node 3]\npassword=1\n\n"
                             "password=2\n[node 4]\npassword=3\n");
    const std::string said = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(p.ok) << p.error;
    EXPECT_EQ(p.behaviour.bus.loseEvery, 4u);
    EXPECT_EQ(p.canopen.at(0).flash.password, 2u);
    EXPECT_EQ(p.canopen.at(1).flash.password, 3u);
    EXPECT_EQ(said, "zandrel: network.ini:3: lose_every is given twice in this section; the "
                    "later value counts\n"
                    "zandrel: network.ini:7: password is given twice in this section; the later "
                    "value counts\n");
}

TEST(NetworkFileTest, OutOfRangeValuesAreRefusedWithFileAndLine) {
    struct Case {
        const char* text;
        const char* canopen;   // the start of the CANopen network's refusal
        const char* devicenet; // and the DeviceNet network's
    };
    const std::vector<Case> cases = {
        {"[node 3]\nanswer_delay_ms=5001\n",
         "network.ini:2: answer_delay_ms=5001 is not a number from 0 to 5000",
         "network.ini:2: answer_delay_ms=5001 is not a number from 0 to 5000"},
        {"[node 3]\n\nanswer_delay_ms=-1\n", "network.ini:3: answer_delay_ms=-1",
         "network.ini:3: answer_delay_ms=-1"},
        {"[node 3]\nanswer_delay_ms=0x10\n", "network.ini:2: answer_delay_ms=0x10",
         "network.ini:2: answer_delay_ms=0x10"},
        {"[node 3]\nheartbeat_ms=65536\n",
         "network.ini:2: heartbeat_ms=65536 is not a number from 0 to 65535",
         "network.ini:2: unknown key heartbeat_ms"},
        {"[node 3]\nguarding=maybe\n", "network.ini:2: guarding=maybe is not yes or no",
         "network.ini:2: unknown key guarding"},
        {"[node 3]\nsize_indicated=1\n", "network.ini:2: size_indicated=1 is not yes or no",
         "network.ini:2: unknown key size_indicated"},
        {"[node 3]\n[bus]\nlose_every=1000001\n",
         "network.ini:3: lose_every=1000001 is not a number from 0 to 1000000",
         "network.ini:3: lose_every=1000001 is not a number from 0 to 1000000"},
        {"[bus]\nduplicate_every=two\n[node 3]\n", "network.ini:2: duplicate_every=two",
         "network.ini:2: duplicate_every=two"},
        {"[bus]\ndelay_every=-3\n[node 3]\n", "network.ini:2: delay_every=-3",
         "network.ini:2: delay_every=-3"},
        {"[bus]\ndelay_ms=5001\n[node 3]\n",
         "network.ini:2: delay_ms=5001 is not a number from 0 to 5000",
         "network.ini:2: delay_ms=5001 is not a number from 0 to 5000"},
        {"[bus]\nlose_once=800#00\n[node 3]\n",
         "network.ini:2: lose_once=800#00 is not a list of at most 16 frames written ID#DATA",
         "network.ini:2: lose_once=800#00 is not a list"},
        {"[bus]\nlose_once=594#A\n[node 3]\n", "network.ini:2: lose_once=594#A is not a list",
         "network.ini:2: lose_once=594#A is not a list"},
        {"[bus]\nlose_once=594#000102030405060708\n[node 3]\n",
         "network.ini:2: lose_once=", "network.ini:2: lose_once="},
        {"[bus]\nlose_once=594#A4,,5A0#\n[node 3]\n",
         "network.ini:2: lose_once=", "network.ini:2: lose_once="},
        {"[bus]\nlose_once=#A4\n[node 3]\n",
         "network.ini:2: lose_once=", "network.ini:2: lose_once="},
        {"[bus]\nlose_once=1#,1#,1#,1#,1#,1#,1#,1#,1#,1#,1#,1#,1#,1#,1#,1#,1#\n[node 3]\n",
         "network.ini:2: lose_once=", "network.ini:2: lose_once="},
        {"[bus]\nanswer_delay_ms=10\n[node 3]\n",
         "network.ini:2: unknown key answer_delay_ms in [bus]",
         "network.ini:2: unknown key answer_delay_ms in [bus]"},
        {"[bus]\n[node 3]\n[bus]\n", "network.ini:3: [bus] is given twice",
         "network.ini:3: [bus] is given twice"},
        {"[buses]\n", "network.ini:1: a section is [node N]",
         "network.ini:1: a section is [node N]"},
        {"[bus]\nlose_every=3\n", "network.ini: lists no node", "network.ini: lists no node"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const Parsed a = canopen(c.text);
        EXPECT_FALSE(a.ok);
        EXPECT_EQ(a.error.rfind(c.canopen, 0), 0u) << a.error;
        const Parsed b = devicenet(c.text);
        EXPECT_FALSE(b.ok);
        EXPECT_EQ(b.error.rfind(c.devicenet, 0), 0u) << b.error;
    }
}

} // namespace
