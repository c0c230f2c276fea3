// Many threads on one handle of the embedded simulated network, as the program uses it: a
// long request to one node, identity reads of the others, the nodes-online poll, a node that
// restarts again and again — then CloseCard while requests wait. No call may hang, and a
// call that succeeds has the node's true answer.

#include "CanSettings.h"
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
    QTemporaryDir data;
    ScopedEnvironment folder("XDG_DATA_HOME", data.path().toLocal8Bit().constData());
    ScopedEnvironment wire("ZANDREL_SIM_WIRE", "off");
    std::uint32_t h = 0;
    const InterfaceRecord record = drivercore::DefaultRecord();
    ASSERT_EQ(OpenInterface(&h, const_cast<InterfaceRecord*>(&record)), 1);
    ASSERT_EQ(SetMacID(h, 0), 1);
    ASSERT_EQ(SetBaud(h, 125000), 1);
    ASSERT_EQ(SetOnline(h, 1), 1);
    ASSERT_EQ(StartScan(h), 1);
    std::uint16_t params[4] = {48, 48, 1000, 2500};
    for (std::uint8_t mac = 0; mac < 64; ++mac)
        ASSERT_EQ(AddToScanlist(h, mac, 0x01, params), 1);
    std::uint16_t vendor = 0;
    ASSERT_TRUE(eventually([&] { return GetAttribute_UINT(h, 5, 1, 1, 1, &vendor); }));

    std::atomic<int> wrong{0};
    std::atomic<int> rounds{0};
    std::atomic<bool> closed{false};
    // Each worker goes on until its calls fail once the handle is closed.
    auto worker = [&](auto once) {
        return std::async(std::launch::async, [&, once] {
            int done = 0;
            for (;;) {
                const bool ok = once();
                ++done;
                rounds.fetch_add(1);
                if (!ok && closed.load())
                    return done;
            }
        });
    };
    // Node 10's name: a fragmented answer, the long request.
    auto names = worker([&] {
        char name[256];
        std::uint16_t length = sizeof name;
        const bool ok =
            GetAttribute(h, 10, 1, 1, 7, &length, reinterpret_cast<std::uint8_t*>(name)) == 1;
        if (ok && (length < 1 || std::string(name + 1, length - 1u) != "Simulated Valve Node"))
            wrong.fetch_add(1);
        return ok;
    });
    // Identity reads of node 5.
    auto identities = worker([&] {
        std::uint16_t id = 0;
        const bool ok = GetAttribute_UINT(h, 5, 1, 1, 1, &id) == 1;
        if (ok && id != 729)
            wrong.fetch_add(1);
        return ok;
    });
    // The nodes-online poll.
    auto poll = worker([&] {
        bool all = true;
        for (std::uint8_t mac = 0; mac < 64; ++mac) {
            std::uint32_t here = 0;
            all = NodeOnline(h, mac, &here) == 1 && all;
        }
        return all;
    });
    // Node 3 restarts again and again (the Identity's Reset service).
    auto restarts = worker([&] {
        std::uint8_t response[256];
        std::uint16_t length = sizeof response;
        return ExplicitService(h, 3, 0x05, 1, 1, 0, nullptr, &length, response) == 1;
    });

    ASSERT_TRUE(eventually([&] { return rounds.load() >= 200; }));
    auto closing = std::async(std::launch::async, [&] { return CloseCard(h); });
    EXPECT_EQ(finished(closing), 1);
    closed.store(true);
    for (auto* running : {&names, &identities, &poll, &restarts})
        EXPECT_GT(finished(*running), 0);
    EXPECT_EQ(wrong.load(), 0);
    std::uint16_t id = 0;
    EXPECT_EQ(GetAttribute_UINT(h, 5, 1, 1, 1, &id), 0);
}

} // namespace
