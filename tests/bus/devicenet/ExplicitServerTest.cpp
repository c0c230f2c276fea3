#include "devicenet/ExplicitServer.h"

#include "BusPrinters.h"
#include "TestObjects.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using namespace bus::devicenet;
using namespace std::chrono_literals;
using bus::ParseCandump;
using bus::ToCandump;
using Bytes = std::vector<std::uint8_t>;

// Frames written out by hand from the DeviceNet layouts. The node has MAC ID 5: requests come
// on 0x42E (message ID 6, unconnected) and 0x42C (4, explicit), answers go on 0x42B (3). The
// masters have MAC IDs 10 (0x0A) and 11 (0x0B).
constexpr const char* Allocate10 = "42E#0A4B0301010A";

// A request and the frames the server must send on it ("" for none).
struct Step {
    const char* request;
    const char* reply;
};

class ExplicitServerTest : public testing::Test {
protected:
    std::string text(const Output& out) {
        std::string t;
        for (const auto& frame : out.frames)
            t += (t.empty() ? "" : " ") + ToCandump(frame);
        return t;
    }
    void run(const std::vector<Step>& steps, TimePoint at) {
        for (const Step& step : steps) {
            const auto request = ParseCandump(step.request);
            ASSERT_TRUE(request) << step.request;
            EXPECT_EQ(text(server.OnFrame(*request, at)), step.reply) << "after " << step.request;
        }
    }
    void run(const std::vector<Step>& steps) { run(steps, t0); }

    const TimePoint t0 = TimePoint{} + 1h;
    TestObjects objects;
    ExplicitServer server{5, objects};
};

TEST_F(ExplicitServerTest, AllocationBelongsToOneMasterAtATime) {
    run({
        {Allocate10, "42B#0ACB00"},           // granted, format 8/8
        {Allocate10, "42B#0A940BFF"},         // already this master's
        {"42E#0B4B0301010B", "42B#0B940C01"}, // master 11: held by another master
        {"42E#0B4C030101", "42B#0B940C01"},   // nor may it release it
        {"42E#4A4C030101", "42B#4ACC"},       // master 10 releases; XID echoed
        {"42E#0A4C030101", "42B#0A940BFF"},   // nothing left to release
        {"42E#0B4B0301010B", "42B#0BCB00"},   // master 11's now
    });
    EXPECT_EQ(server.Master(), 11);
}

TEST_F(ExplicitServerTest, UnconnectedRequestsRefused) {
    run({
        {"42E#0A4B0301030A", "42B#0A9402FF"},   // explicit and poll: only explicit is offered
        {"42E#0A4B0301000A", "42B#0A9420FF"},   // nothing chosen
        {"42E#0A4B0301014A", "42B#0A9420FF"},   // allocator MAC ID 74
        {"42E#0A4B030101", "42B#0A9413FF"},     // no allocator MAC ID
        {"42E#0A4B0301010A00", "42B#0A9415FF"}, // a byte too many
        {"42E#0A4C030100", "42B#0A9420FF"},     // release of nothing
        {"42E#0A0E010101", "42B#0A9408FF"},     // Get_Attribute_Single is not served there
        {"42E#0A4B0401010A", "42B#0A9416FF"},   // class 4
        {"42E#0A4B0302010A", "42B#0A9416FF"},   // instance 2
        {"42E#0A4B03", "42B#0A9413FF"},         // no instance
        {"42E#8A004B0301010A", ""},             // fragmented
        {"42E#0ACB00", ""},                     // a response
        {"43E#0A4B0301010A", ""},               // node 7's
        {"42D#0A4B0301010A", ""},               // the I/O poll identifier
        {"42E#R6", ""},
    });
    EXPECT_FALSE(server.Allocated());
}

TEST_F(ExplicitServerTest, ServesTheConnectionOfItsMaster) {
    run({{"42C#0A0E010101", ""}}); // no connection yet
    run({
        {Allocate10, "42B#0ACB00"},
        {"42C#0A0E010101", "42B#0A8ED902"},     // Get_Attribute_Single Identity vendor ID
        {"42C#4A0E010101", "42B#4A8ED902"},     // XID echoed
        {"42C#0A0E010163", "42B#0A9414FF"},     // attribute not supported
        {"42C#0A0E640201", "42B#0A9416FF"},     // object does not exist
        {"42C#0A10010101D902", "42B#0A940EFF"}, // attribute not settable
        {"42C#0A0E01", "42B#0A9413FF"},         // no instance
        {"42C#0A4B0301010A", "42B#0A940BFF"},   // allocating on the connection itself
        {"42C#0B0E010101", ""},                 // master 11 has no connection here
        {"42C#0A8E0101", ""},                   // a response
    });
    EXPECT_EQ(objects.calls(), 5);
    run({{"42C#0A4C030101", "42B#0ACC"}, {"42C#0A0E010101", ""}}); // released on the connection
    EXPECT_FALSE(server.Allocated());
}

TEST_F(ExplicitServerTest, FragmentedRequestOfA38ByteCommand) {
    run({
        {Allocate10, "42B#0ACB00"},
        {"42C#8A0010C701030202", "42B#8AC000"}, // each fragment acknowledged with its count
        {"42C#8A41452301200001", "42B#8AC100"},
        {"42C#8A41452301200001", "42B#8AC100"}, // a repeat: acknowledged again, not taken
        {"42C#8A42020304050607", "42B#8AC200"},
        {"42C#8A4308090A0B0C0D", "42B#8AC300"},
        {"42C#8A440E0F10111213", "42B#8AC400"},
        {"42C#8A45141516171819", "42B#8AC500"},
        {"42C#8A861A1B1C1D1E1F", "42B#8AC600 42B#0A90"}, // the last, and the response
    });
    Bytes command{0x02, 0x02, 0x45, 0x23, 0x01, 0x20};
    for (std::uint8_t i = 0; i < 32; ++i)
        command.push_back(i);
    EXPECT_EQ(objects.value({0xC7, 1, 3}), command);
    EXPECT_EQ(objects.calls(), 1);
}

TEST_F(ExplicitServerTest, FragmentedResponseWaitsForEachAcknowledgement) {
    run({
        {Allocate10, "42B#0ACB00"},
        {"42C#0A0E010107", "42B#8A008E105A414E44"}, // 8E 10 "ZAND"
        {"42C#8AC100", ""},                         // not the fragment in flight
        {"42C#8AC000", "42B#8A4152454C20444E"},     // "REL DN"
        {"42C#CAC100", ""},                         // another transaction's
        {"42C#8AC100", "42B#8A822D4E4F444535"},     // "-NODE5", last
    });
    EXPECT_TRUE(server.Busy());
    run({{"42C#8AC200", ""}});
    EXPECT_FALSE(server.Busy());
}

TEST_F(ExplicitServerTest, FragmentedRequestsThatFail) {
    run({{Allocate10, "42B#0ACB00"}});
    // A fragment missing: the request is dropped without an acknowledgement.
    run({
        {"42C#8A0010C701030202", "42B#8AC000"},
        {"42C#8A42020304050607", ""},
        {"42C#8A41452301200001", ""},
    });
    // A new request ends the one being put together.
    run({
        {"42C#8A0010C701030202", "42B#8AC000"},
        {"42C#4A0E010101", "42B#4A8ED902"},
        {"42C#8A41452301200001", ""},
    });
    // More than the server takes: refused with "too much data".
    server.SetMaxRequestSize(32);
    run({
        {"42C#8A0010C701030202", "42B#8AC000"},
        {"42C#8A41452301200001", "42B#8AC100"},
        {"42C#8A42020304050607", "42B#8AC200"},
        {"42C#8A4308090A0B0C0D", "42B#8AC300"},
        {"42C#8A440E0F10111213", "42B#8AC400"},
        {"42C#8A45141516171819", "42B#8AC501"},
        {"42C#8A861A1B1C1D1E1F", ""},
    });
    EXPECT_EQ(objects.calls(), 1); // the one whole request
}

TEST_F(ExplicitServerTest, TimeOutsOfFragmentedTransfers) {
    run({{Allocate10, "42B#0ACB00"}});
    // A response fragment not acknowledged goes once more, then the response is given up.
    const Output first = server.OnFrame(*ParseCandump("42C#0A0E010107"), t0);
    EXPECT_EQ(first.deadline, t0 + 500ms);
    EXPECT_EQ(text(server.OnTime(t0 + 499ms)), "");
    EXPECT_EQ(text(server.OnTime(t0 + 500ms)), "42B#8A008E105A414E44");
    EXPECT_EQ(text(server.OnTime(t0 + 1000ms)), "");
    EXPECT_FALSE(server.Busy());
    run({{"42C#8AC000", ""}}, t0 + 1001ms);

    // A request that stalls is dropped after the reassembly time-out.
    const TimePoint t1 = t0 + 2s;
    run({{"42C#8A0010C701030202", "42B#8AC000"}}, t1);
    server.OnTime(t1 + 2499ms);
    EXPECT_TRUE(server.Busy());
    server.OnTime(t1 + 2500ms);
    EXPECT_FALSE(server.Busy());
    run({{"42C#8A41452301200001", ""}}, t1 + 2501ms);
}

TEST_F(ExplicitServerTest, InactiveConnectionIsReleased) {
    EXPECT_EQ(server.OnFrame(*ParseCandump(Allocate10), t0).deadline, t0 + 10s);
    // Traffic on the connection keeps it.
    EXPECT_EQ(server.OnFrame(*ParseCandump("42C#0A0E010101"), t0 + 6s).deadline, t0 + 16s);
    // Unconnected requests do not.
    EXPECT_EQ(server.OnFrame(*ParseCandump(Allocate10), t0 + 7s).deadline, t0 + 16s);
    server.OnTime(t0 + 16s - 1ms);
    EXPECT_TRUE(server.Allocated());
    EXPECT_EQ(server.OnTime(t0 + 16s).deadline, NoDeadline);
    EXPECT_FALSE(server.Allocated());
    run({{"42C#0A0E010101", ""}, {"42E#0B4B0301010B", "42B#0BCB00"}}, t0 + 17s);

    // Run out before a frame comes, though OnTime has not been called yet.
    run({{"42E#0A4B0301010A", "42B#0ACB00"}}, t0 + 17s + 10s);

    server.Reset();
    EXPECT_FALSE(server.Allocated());
    server.SetInactivityTimeout(0ms); // never
    EXPECT_EQ(server.OnFrame(*ParseCandump(Allocate10), t0).deadline, NoDeadline);
    server.OnTime(t0 + 24h);
    EXPECT_TRUE(server.Allocated());
}

} // namespace
