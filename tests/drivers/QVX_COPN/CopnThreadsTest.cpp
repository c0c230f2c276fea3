// Many threads on one handle of the embedded simulated network, as the program uses it: a
// long transfer to one node, identity reads of the others, the nodes-online poll, a node
// that restarts again and again — then CloseCard while transfers wait. No call may hang,
// and a call that succeeds has the node's true answer.

#include "CanSettings.h"
#include "CopnDriver.h"
#include "CopnExports.h"
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

TEST(CopnThreads, TransfersPollAndRestartsOnOneHandleThenCloseCardWhileTheyWait) {
    QTemporaryDir data;
    ScopedEnvironment folder("XDG_DATA_HOME", data.path().toLocal8Bit().constData());
    ScopedEnvironment wire("ZANDREL_SIM_WIRE", "off");
    std::uint32_t h = 0;
    const InterfaceRecord record = drivercore::DefaultRecord();
    ASSERT_EQ(OpenInterface(&h, const_cast<InterfaceRecord*>(&record)), 1);
    ASSERT_EQ(SetNodeID(h, 127), 1);
    ASSERT_EQ(SetBaud(h, 500000), 1);
    for (std::uint8_t n = 1; n <= 127; ++n)
        ASSERT_EQ(AddNode(h, n), 1);
    ASSERT_EQ(SetOnline(h, 1), 1);
    ASSERT_EQ(NMT_ResetCommunication(h, 0), 1);
    std::uint32_t deviceType = 0;
    ASSERT_TRUE(eventually([&] { return SDO_Upload_UNSIGNED32(h, 3, 0x1000, 0, &deviceType); }));

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
    // Segmented uploads of node 9's name: the long transfer.
    auto names = worker([&] {
        char name[256];
        std::uint32_t length = sizeof name;
        const bool ok =
            SDO_Upload(h, 9, 0x1008, 0, &length, reinterpret_cast<std::uint8_t*>(name)) == 1;
        if (ok && std::string(name, length) != "Simulated Valve Node")
            wrong.fetch_add(1);
        return ok;
    });
    // Identity reads of node 3.
    auto identities = worker([&] {
        std::uint32_t type = 0;
        const bool ok = SDO_Upload_UNSIGNED32(h, 3, 0x1000, 0, &type) == 1;
        if (ok && type != 0x00000191u)
            wrong.fetch_add(1);
        return ok;
    });
    // The nodes-online poll.
    auto poll = worker([&] {
        bool all = true;
        for (std::uint8_t n = 1; n <= 127; ++n) {
            std::uint32_t online = 0;
            all = GetNodeOnline(h, n, &online) == 1 && all;
        }
        return all;
    });
    // Node 12 restarts again and again.
    auto restarts = worker([&] { return NMT_ResetNode(h, 12) == 1; });

    ASSERT_TRUE(eventually([&] { return rounds.load() >= 200; }));
    auto closing = std::async(std::launch::async, [&] { return CloseCard(h); });
    EXPECT_EQ(finished(closing), 1);
    closed.store(true);
    for (auto* running : {&names, &identities, &poll, &restarts})
        EXPECT_GT(finished(*running), 0);
    EXPECT_EQ(wrong.load(), 0);
    std::uint32_t type = 0;
    EXPECT_EQ(SDO_Upload_UNSIGNED32(h, 3, 0x1000, 0, &type), 0);
}

} // namespace
