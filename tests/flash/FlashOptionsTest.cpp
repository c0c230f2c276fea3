// The command line of zandrel-flash: what it takes, and the usage errors it names.

#include "FlashOptions.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < line.size()) {
        std::size_t end = line.find(' ', start);
        if (end == std::string::npos)
            end = line.size();
        if (end > start)
            out.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

TEST(FlashOptions, ReadsEveryOptionOfAnUpdate) {
    const ParsedOptions parsed = ParseFlashOptions(
        words("update --bus c --node 3,12 --interface virtualcan:tcp://localhost:35468 "
              "--bitrate 250000 --own-id 100 --password 1A2B --yes --skip-identical "
              "--stop-on-error --force --json report.json app.hex"));
    ASSERT_TRUE(parsed.options) << parsed.error;
    const FlashOptions& o = *parsed.options;
    EXPECT_EQ(o.command, FlashCommand::Update);
    EXPECT_EQ(o.bus, NodeTypeCANopen);
    EXPECT_EQ(o.nodes, (std::vector<std::uint8_t>{3, 12}));
    ASSERT_TRUE(o.interface);
    EXPECT_EQ(o.interface->kind, InterfaceChoice::VirtualCan);
    EXPECT_EQ(o.interface->accessPoint, "tcp://localhost:35468");
    EXPECT_EQ(o.bitRate, 250000u);
    EXPECT_EQ(o.ownId, 100);
    EXPECT_EQ(o.password, "1A2B");
    EXPECT_TRUE(o.yes && o.skipIdentical && o.stopOnError && o.force);
    EXPECT_EQ(o.json, "report.json");
    EXPECT_EQ(o.file, "app.hex");
}

TEST(FlashOptions, JsonWithoutAFileGoesToStandardOutput) {
    for (const char* line : {"list --bus d --json", "list --json --bus d"}) {
        const ParsedOptions parsed = ParseFlashOptions(words(line));
        ASSERT_TRUE(parsed.options) << line << ": " << parsed.error;
        EXPECT_EQ(parsed.options->json, "-") << line;
    }
}

TEST(FlashOptions, NamesWhatIsWrongWithACommandLine) {
    struct Case {
        const char* line;
        const char* error;
    };
    const Case cases[] = {
        {"", "no command given"},
        {"flash --bus c", "unknown command flash"},
        {"list", "--bus is missing"},
        {"list --bus x", "--bus takes"},
        {"update --bus c app.hex", "--node is missing"},
        {"update --bus c --node 3", "give one HEX file"},
        {"update --bus c --node 3 a.hex b.hex", "give one HEX file"},
        {"update --bus c --node 3,128 a.hex", "--node takes node addresses"},
        {"update --bus c --node 3, a.hex", "--node takes node addresses"},
        {"erase --bus c --node 3", "--sector is missing"},
        {"erase --bus c --node 3 --sector 8", "--sector takes"},
        {"erase --bus c --node 3,4 --sector 1", "this command works on one node"},
        {"reset --bus c --node 3 extra", "unexpected argument extra"},
        {"list --bus u --interface sim", "are for CANopen and DeviceNet"},
        {"list --bus c --interface can0", "--interface takes"},
        {"list --bus c --bitrate fast", "--bitrate takes"},
        {"update --bus c --node 3 --password 12345678A a.hex", "--password takes"},
        {"sectors --bus c --node 3 --skip-identical", "--skip-identical is for update"},
        {"list --bus c --forced", "unknown option --forced"},
        {"update --bus c --node 0 a.hex", "CANopen node-IDs are 1 to 127"},
        {"update --bus d --node 3,64 a.hex", "DeviceNet MAC IDs are 0 to 63"},
        {"reset --bus u --node 2", "the VARNIX module is node 1"},
    };
    for (const Case& c : cases) {
        const ParsedOptions parsed = ParseFlashOptions(words(c.line));
        EXPECT_FALSE(parsed.options) << c.line;
        EXPECT_NE(parsed.error.find(c.error), std::string::npos) << c.line << ": " << parsed.error;
    }
}

} // namespace
