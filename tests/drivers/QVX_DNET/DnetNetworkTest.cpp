// The driver on the embedded simulated network: the default network's nodes 3, 5 and 10 in a
// data folder of the test's own, found by the scanner, read, restarted and found again.

#include "CanSettings.h"
#include "DnetDefaultNetwork.h"
#include "DnetErrors.h"
#include "DnetExports.h"
#include "InterfaceRecord.h"
#include "LastError.h"
#include "ScopedEnvironment.h"

#include <QTemporaryDir>
#include <chrono>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

std::vector<std::uint8_t> present(std::uint32_t h) {
    std::vector<std::uint8_t> nodes;
    for (std::uint8_t mac = 0; mac < 64; ++mac) {
        std::uint32_t here = 0;
        if (NodeOnline(h, mac, &here) == 1 && here)
            nodes.push_back(mac);
    }
    return nodes;
}

// Waits for the scanner's view to become the one wanted; false after a long while.
bool presentBecomes(std::uint32_t h, const std::vector<std::uint8_t>& wanted) {
    const auto limit = std::chrono::steady_clock::now() + 30s;
    while (present(h) != wanted) {
        if (std::chrono::steady_clock::now() > limit)
            return false;
        std::this_thread::yield();
    }
    return true;
}

TEST(DnetSimulatedNetwork, TheScannerFindsTheDefaultNodesAndARestartedOneAgain) {
    DefaultDnetNetwork network;
    std::uint32_t h = 0;
    ASSERT_NO_FATAL_FAILURE(network.OpenScanning(&h));
    ASSERT_TRUE(presentBecomes(h, {3, 5, 10}));

    std::uint16_t vendor = 0;
    ASSERT_EQ(GetAttribute_UINT(h, 5, 1, 1, 1, &vendor), 1);
    EXPECT_EQ(vendor, 729);
    char name[256];
    std::uint16_t length = sizeof name;
    ASSERT_EQ(GetAttribute(h, 10, 1, 1, 7, &length, reinterpret_cast<std::uint8_t*>(name)), 1);
    ASSERT_GE(length, 1);
    EXPECT_EQ(std::string(name + 1, length - 1u), "Simulated Valve Node");

    // The Identity Reset takes node 3 off the bus for a while; the scanner finds it again.
    std::uint8_t response[256];
    length = sizeof response;
    ASSERT_EQ(ExplicitService(h, 3, 0x05, 1, 1, 0, nullptr, &length, response), 1);
    std::uint32_t here = 1;
    ASSERT_EQ(NodeOnline(h, 3, &here), 1);
    EXPECT_EQ(here, 0u);
    ASSERT_TRUE(presentBecomes(h, {3, 5, 10}));

    // Node 3's MAC ID is taken.
    ASSERT_EQ(SetOnline(h, 0), 1);
    ASSERT_EQ(SetMacID(h, 3), 1);
    SetLastError(0);
    EXPECT_EQ(SetOnline(h, 1), 0);
    EXPECT_EQ(GetLastError(), dnet::ErrorDuplicateMac);
    EXPECT_EQ(CloseCard(h), 1);
}

TEST(DnetSimulatedNetwork, ANetworkThatCannotStartIsRefusedWithTheReason) {
    QTemporaryDir data;
    const std::string blocker = data.filePath("file").toStdString();
    std::FILE* file = std::fopen(blocker.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    ScopedEnvironment folder("XDG_DATA_HOME", (blocker + "/below").c_str());
    const InterfaceRecord record = drivercore::DefaultRecord();
    std::uint32_t h = 0;
    SetLastError(0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(OpenInterface(&h, const_cast<InterfaceRecord*>(&record)), 0);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("the simulated DeviceNet network does not start"), std::string::npos)
        << said;
    EXPECT_EQ(GetLastError(), drivercore::ErrorCannotOpen);
}

} // namespace
