#include "CanTrace.h"

#include "SimulatedBus.h"

#include <QTemporaryDir>
#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

using bus::CanFrame;

std::vector<std::string> lines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);)
        out.push_back(line);
    return out;
}

// Sets ZANDREL_CAN_TRACE while it lives.
class TraceTo {
public:
    explicit TraceTo(const std::string& path) {
        setenv(bus::CanTrace::EnvironmentVariable, path.c_str(), 1);
    }
    ~TraceTo() { unsetenv(bus::CanTrace::EnvironmentVariable); }
};

TEST(CanTrace, LineIsCandumpLogFormat) {
    using namespace std::chrono;
    const system_clock::time_point when{seconds(1733800000) + microseconds(123456)};
    EXPECT_EQ(bus::CanTrace::FormatLine("can0", *bus::ParseCandump("603#230F36002B1A0000"), when),
              "(1733800000.123456) can0 603#230F36002B1A0000");
    EXPECT_EQ(bus::CanTrace::FormatLine("sim0", CanFrame::Remote(0x703),
                                        system_clock::time_point{seconds(5)}),
              "(0000000005.000000) sim0 703#R");
    // An error frame: a controller problem, the receive error counter at warning level.
    const std::string data("\x00\x04\x00\x00\x00\x00\x00\x00", 8);
    EXPECT_EQ(bus::CanTrace::FormatErrorLine("can0", 0x04, data, when),
              "(1733800000.123456) can0 20000004#0004000000000000");
    EXPECT_EQ(bus::CanTrace::FormatErrorLine("can0", 0x40, {}, when),
              "(1733800000.123456) can0 20000040#");
}

TEST(CanTrace, SimulatedBusTracesEachFrameOnceUnderItsName) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("trace.log").toStdString();
    TraceTo trace(path);
    bus::SimulatedBus bus;
    auto master = bus.Attach();
    auto node = bus.Attach();
    auto listener = bus.Attach();
    node->SetReceiveHandler([&](const CanFrame& frame) {
        if (frame.id == 0x603)
            node->Send(*bus::ParseCandump("583#600F360000000000"));
    });
    ASSERT_TRUE(master->Send(*bus::ParseCandump("603#230F36002B1A0000")));
    bus.WaitIdle(); // the node's answer is on the bus before the next frame
    ASSERT_TRUE(master->Send(CanFrame::Remote(0x703)));
    bus.WaitIdle();

    const auto logged = lines(path);
    ASSERT_EQ(logged.size(), 3u);
    const std::regex stamp(R"(^\(\d{10}\.\d{6}\) sim0 )");
    const char* frames[] = {"603#230F36002B1A0000", "583#600F360000000000", "703#R"};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_TRUE(std::regex_search(logged[i], stamp)) << logged[i];
        EXPECT_EQ(logged[i].substr(logged[i].find(' ') + 1), std::string("sim0 ") + frames[i]);
    }
}

TEST(CanTrace, SeveralBusesShareOneFileLineByLine) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("shared.log").toStdString();
    TraceTo trace(path);
    bus::SimulatedBus first("sim0");
    bus::SimulatedBus second("sim1");
    auto a = first.Attach();
    auto b = second.Attach();
    constexpr int count = 300;
    std::thread other([&] {
        for (int i = 0; i < count; ++i)
            b->Send(CanFrame::Data(0x181, {static_cast<std::uint8_t>(i), 1, 2, 3, 4, 5, 6, 7}));
    });
    for (int i = 0; i < count; ++i)
        a->Send(CanFrame::Data(0x201, {static_cast<std::uint8_t>(i), 7, 6, 5, 4, 3, 2, 1}));
    other.join();
    first.WaitIdle();
    second.WaitIdle();

    const auto logged = lines(path);
    ASSERT_EQ(logged.size(), 2u * count);
    const std::regex whole(R"(^\(\d{10}\.\d{6}\) (sim0 201#[0-9A-F]{2}07060504030201|)"
                           R"(sim1 181#[0-9A-F]{2}01020304050607)$)");
    for (const std::string& line : logged)
        EXPECT_TRUE(std::regex_match(line, whole)) << line;
}

TEST(CanTrace, FileThatCannotBeOpenedCostsOneLineAndNoFrame) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("no-such-folder/trace.log").toStdString();
    TraceTo trace(path);
    testing::internal::CaptureStderr();
    bus::SimulatedBus first;
    bus::SimulatedBus second;
    const std::string told = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(told.begin(), told.end(), '\n'), 1) << told;
    EXPECT_NE(told.find(path), std::string::npos) << told;

    auto sender = first.Attach();
    auto receiver = first.Attach();
    int received = 0;
    receiver->SetReceiveHandler([&](const CanFrame&) { ++received; });
    EXPECT_TRUE(sender->Send(CanFrame::Data(0x100, {1})));
    first.WaitIdle();
    EXPECT_EQ(received, 1);
}

TEST(CanTrace, NothingWithoutTheVariable) {
    unsetenv(bus::CanTrace::EnvironmentVariable);
    EXPECT_EQ(bus::CanTrace::FromEnvironment(), nullptr);
    setenv(bus::CanTrace::EnvironmentVariable, "", 1);
    EXPECT_EQ(bus::CanTrace::FromEnvironment(), nullptr);
    unsetenv(bus::CanTrace::EnvironmentVariable);
}

} // namespace
