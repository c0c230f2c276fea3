// Many threads on one handle of the embedded simulated network, as the program uses it: a
// long request to one node, identity reads of the others, the nodes-online poll, a node that
// restarts again and again — then CloseCard while requests wait. No call may hang, and a
// call that succeeds has the node's true answer.

#include "CallsUntilClosed.h"
#include "DnetDefaultNetwork.h"
#include "DnetDriver.h"
#include "DnetExports.h"
#include "HangGuards.h"
#include "InterfaceRecord.h"
#include "ScopedEnvironment.h"

#include <QTemporaryDir>
#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

TEST(DnetThreads, RequestsPollAndRestartsOnOneHandleThenCloseCardWhileTheyWait) {
    DefaultDnetNetwork network;
    std::uint32_t h = 0;
    ASSERT_NO_FATAL_FAILURE(network.OpenScanning(&h));
    std::uint16_t vendor = 0;
    ASSERT_TRUE(eventually([&] { return GetAttribute_UINT(h, 5, 1, 1, 1, &vendor); }));

    std::atomic<int> wrong{0};
    CallsUntilClosed calls;
    // Node 10's name: a fragmented answer, the long request.
    calls.Add([&] {
        char name[256];
        std::uint16_t length = sizeof name;
        const bool ok =
            GetAttribute(h, 10, 1, 1, 7, &length, reinterpret_cast<std::uint8_t*>(name)) == 1;
        if (ok && (length < 1 || std::string(name + 1, length - 1u) != "Simulated Valve Node"))
            wrong.fetch_add(1);
        return ok;
    });
    // Identity reads of node 5.
    calls.Add([&] {
        std::uint16_t id = 0;
        const bool ok = GetAttribute_UINT(h, 5, 1, 1, 1, &id) == 1;
        if (ok && id != 729)
            wrong.fetch_add(1);
        return ok;
    });
    // The nodes-online poll.
    calls.Add([&] {
        bool all = true;
        for (std::uint8_t mac = 0; mac < 64; ++mac) {
            std::uint32_t here = 0;
            all = NodeOnline(h, mac, &here) == 1 && all;
        }
        return all;
    });
    // Node 3 restarts again and again (the Identity's Reset service).
    calls.Add([&] {
        std::uint8_t response[256];
        std::uint16_t length = sizeof response;
        return ExplicitService(h, 3, 0x05, 1, 1, 0, nullptr, &length, response) == 1;
    });

    ASSERT_TRUE(eventually([&] { return calls.Rounds() >= 200; }));
    auto closing = std::async(std::launch::async, [&] { return CloseCard(h); });
    EXPECT_EQ(finished(closing), 1);
    for (int made : calls.Closed())
        EXPECT_GT(made, 0);
    EXPECT_EQ(wrong.load(), 0);
    std::uint16_t id = 0;
    EXPECT_EQ(GetAttribute_UINT(h, 5, 1, 1, 1, &id), 0);
}

} // namespace
