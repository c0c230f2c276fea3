#include "devicenet/ExplicitClient.h"

#include "BusPrinters.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using namespace bus::devicenet;
using namespace std::chrono_literals;
using bus::ParseCandump;
using bus::ToCandump;
using Bytes = std::vector<std::uint8_t>;

// The frames in these tests are written out by hand from the DeviceNet layouts. The master
// has MAC ID 10 (0x0A), the node MAC ID 5: the node's Group 2 identifiers are 0x42B (message
// ID 3, its responses), 0x42C (4, explicit requests) and 0x42E (6, unconnected requests). The
// header byte is 0x0A with XID 0, 0x4A with XID 1, 0x8A and 0xCA with the Frag bit; the XID
// alternates with each request the client sends, starting at 0.
constexpr const char* AllocateRequest = "42E#0A4B0301010A"; // 0x4B to class 3 inst 1, 01, MAC 10
constexpr const char* AllocateResponse = "42B#0ACB00";      // 0xCB, message body format 8/8

std::string text(const Output& out) {
    std::string t;
    for (const auto& frame : out.frames)
        t += (t.empty() ? "" : " ") + ToCandump(frame);
    return t;
}

// The set-attribute command of the firmware object: download block of 32 bytes 00..1F at
// 0x012345 in sector 2.
Bytes downloadCommand() {
    Bytes command{0x02, 0x02, 0x45, 0x23, 0x01, 0x20};
    for (std::uint8_t i = 0; i < 32; ++i)
        command.push_back(i);
    return command;
}

// A frame from the node and what the client must send on it ("" for nothing).
struct Step {
    const char* reply;
    const char* next;
};

class ExplicitClientTest : public testing::Test {
protected:
    void start(const std::optional<Output>& out, const char* request) {
        ASSERT_TRUE(out);
        EXPECT_EQ(text(*out), request);
        EXPECT_TRUE(client.Busy());
    }
    void run(const std::vector<Step>& steps, TimePoint at) {
        for (const Step& step : steps) {
            const auto reply = ParseCandump(step.reply);
            ASSERT_TRUE(reply) << step.reply;
            EXPECT_EQ(text(client.OnFrame(*reply, at)), step.next) << "after " << step.reply;
        }
    }
    void run(const std::vector<Step>& steps) { run(steps, t0); }
    void allocate() { // with XID 0
        start(client.StartAllocate(t0), AllocateRequest);
        run({{AllocateResponse, ""}});
        ASSERT_EQ(client.Result().status, ExplicitStatus::Done);
        EXPECT_EQ(client.Result().data, Bytes{0x00});
    }
    void expectDone(const Bytes& data) {
        EXPECT_EQ(client.Result().status, ExplicitStatus::Done);
        EXPECT_EQ(client.Result().data, data);
        EXPECT_FALSE(client.Busy());
    }
    void expectFailed(ExplicitFailure failure) {
        EXPECT_EQ(client.Result().status, ExplicitStatus::Failed);
        EXPECT_EQ(client.Result().failure, failure) << ExplicitFailureText(client.Result().failure);
        EXPECT_FALSE(client.Busy());
    }

    const TimePoint t0 = TimePoint{} + 1h;
    ExplicitClient client{10, 5};
};

TEST_F(ExplicitClientTest, RequestAllocatesTheConnectionFirst) {
    EXPECT_FALSE(client.Allocated());
    start(client.StartGetAttribute(0x01, 1, 1, t0), AllocateRequest);
    run({
        {AllocateResponse, "42C#4A0E010101"}, // Get_Attribute_Single Identity vendor ID
        {"42B#4A8ED902", ""},                 // 0x8E, 729
    });
    expectDone({0xD9, 0x02});
    EXPECT_TRUE(client.Allocated());

    // The connection is there now: the next request goes at once, with the XID toggled, and
    // an answer with the old XID is a late one.
    start(client.StartGetAttribute(0x01, 1, 3, t0), "42C#0A0E010103");
    run({{"42B#4A8ED902", ""}, {"42B#0A8EE29F", ""}}); // the first request's answer again
    expectDone({0xE2, 0x9F});
    start(client.StartGetAttribute(0x01, 1, 3, t0), "42C#4A0E010103");
}

TEST_F(ExplicitClientTest, AnswersForAnotherMasterOrNodeAreIgnored) {
    start(client.StartAllocate(t0), AllocateRequest);
    run({
        {"42B#0B940C01", ""}, // to master 11: its refusal
        {"433#0ACB00", ""},   // from node 6
        {"42B#4A940BFF", ""}, // XID 1: a late answer to an earlier request
        {"42B#0A", ""},       // no service code
        {"42B#0A8ED902", ""}, // not an answer to the allocation
        {AllocateResponse, ""},
    });
    expectDone({0x00});
}

TEST_F(ExplicitClientTest, ErrorResponses) {
    struct Case {
        const char* request;
        const char* reply;
        std::uint8_t general;
        std::uint8_t additional;
    };
    allocate();
    for (const Case& c : {Case{"42C#4A0E010163", "42B#4A9414FF", 0x14, 0xFF},
                          Case{"42C#0A0E010163", "42B#0A941601", 0x16, 0x01},
                          Case{"42C#4A0E010163", "42B#4A9409", 0x09, 0xFF}}) { // no additional
        SCOPED_TRACE(c.reply);
        start(client.StartGetAttribute(0x01, 1, 0x63, t0), c.request);
        run({{c.reply, ""}});
        expectFailed(ExplicitFailure::ErrorResponse);
        EXPECT_EQ(client.Result().generalStatus, c.general);
        EXPECT_EQ(client.Result().additionalCode, c.additional);
        EXPECT_FALSE(client.Result().duringAllocation);
        EXPECT_TRUE(client.Allocated()); // an error response leaves the connection alone
    }
    start(client.StartGetAttribute(0x01, 1, 1, t0), "42C#0A0E010101");
    run({{"42B#0A9001", ""}}); // the response of another service
    expectFailed(ExplicitFailure::BadResponse);
}

TEST_F(ExplicitClientTest, AllocationRefusedOrHeldAlready) {
    // Another master holds the connection set: the request is not sent.
    start(client.StartGetAttribute(0x01, 1, 1, t0), AllocateRequest);
    run({{"42B#0A940C01", ""}});
    expectFailed(ExplicitFailure::ErrorResponse);
    EXPECT_EQ(client.Result().generalStatus, GeneralStatus::ObjectStateConflict);
    EXPECT_EQ(client.Result().additionalCode, 0x01);
    EXPECT_TRUE(client.Result().duringAllocation);
    EXPECT_FALSE(client.Allocated());

    // "Already in requested mode/state": the connection is this master's.
    start(client.StartGetAttribute(0x01, 1, 1, t0), "42E#4A4B0301010A");
    run({{"42B#4A940BFF", "42C#0A0E010101"}, {"42B#0A8ED902", ""}});
    expectDone({0xD9, 0x02});
}

TEST_F(ExplicitClientTest, ReleaseAndAllocationFormats) {
    start(client.StartAllocate(t0), AllocateRequest);
    run({{"42B#0ACB01", ""}}); // the node speaks 8/16
    EXPECT_EQ(client.Format(), BodyFormat::Class8Instance16);
    start(client.StartGetAttribute(0xC7, 0x0102, 3, t0), "42C#4A0EC7020103");
    run({{"42B#4A8E01", ""}});
    expectDone({0x01});

    start(client.StartRelease(t0), "42E#0A4C030101");
    run({{"42B#0ACC", ""}});
    expectDone({});
    EXPECT_FALSE(client.Allocated());
    start(client.StartRelease(t0), "42E#4A4C030101");
    run({{"42B#4A940BFF", ""}}); // nothing held: released all the same
    expectDone({});

    allocate();
    start(client.StartRelease(t0), "42E#4A4C030101");
    run({{"42B#4A940C01", ""}}); // held by another master after all
    expectFailed(ExplicitFailure::ErrorResponse);
    EXPECT_FALSE(client.Allocated());

    start(client.StartAllocate(t0), AllocateRequest);
    run({{"42B#0ACB07", ""}}); // no such format
    expectFailed(ExplicitFailure::BadResponse);
    EXPECT_FALSE(client.Allocated());
}

TEST_F(ExplicitClientTest, FragmentedRequestOfA38ByteCommand) {
    allocate();
    // Set_Attribute_Single class 0xC7 instance 1 attribute 3: 4 + 38 = 42 body bytes, seven
    // fragments of six, each sent on the acknowledgement of the one before (XID 1).
    start(client.StartSetAttribute(0xC7, 1, 3, downloadCommand(), t0),
          "42C#CA0010C701030202"); // first, count 0: 10 C7 01 03 02 02
    run({
        {"42B#CAC000", "42C#CA41452301200001"}, // middle 1: 45 23 01 20, data 00 01
        {"42B#CAC100", "42C#CA42020304050607"},
        {"42B#CAC200", "42C#CA4308090A0B0C0D"},
        {"42B#CAC300", "42C#CA440E0F10111213"},
        {"42B#CAC400", "42C#CA45141516171819"},
        {"42B#CAC500", "42C#CA861A1B1C1D1E1F"}, // last, count 6
        {"42B#CAC400", ""},                     // an acknowledgement again: ignored
        {"42B#8AC600", ""},                     // another transaction's
        {"42B#CAC600", ""},
        {"42B#4A90", ""}, // Set_Attribute_Single response, no data
    });
    expectDone({});
}

// Its XID alternates, so a request has the XID of the one two before: while the 38-byte
// command is still going out, the node cannot have answered it, and an answer with its XID
// is a late one to that earlier request. Counted, it would leave the block written in part.
TEST_F(ExplicitClientTest, AnAnswerWhileTheRequestGoesOutIsALateOne) {
    allocate();
    start(client.StartSetAttribute(0xC7, 1, 3, downloadCommand(), t0), "42C#CA0010C701030202");
    run({
        {"42B#4A90", ""}, // the first fragment in flight: a Set_Attribute_Single response
        {"42B#CAC000", "42C#CA41452301200001"},
        {"42B#4A90", ""},             // a middle fragment in flight
        {"42B#4A9414FF", ""},         // an error response alike
        {"42B#CA008E0102030405", ""}, // nor does a response begin
        {"42B#CAC100", "42C#CA42020304050607"},
        {"42B#CAC200", "42C#CA4308090A0B0C0D"},
        {"42B#CAC300", "42C#CA440E0F10111213"},
        {"42B#CAC400", "42C#CA45141516171819"},
        {"42B#4A90", ""},
        {"42B#CAC500", "42C#CA861A1B1C1D1E1F"}, // the last fragment
    });
    EXPECT_TRUE(client.Busy());
    run({{"42B#4A90", ""}}); // now it answers this request
    expectDone({});
}

TEST_F(ExplicitClientTest, FragmentedResponseOfALongAttribute) {
    allocate();
    // Product name "ZANDREL DN-NODE5" as SHORT_STRING: 0x8E, 0x10, 16 characters = 18 bytes.
    start(client.StartGetAttribute(0x01, 1, 7, t0), "42C#4A0E010107");
    run({
        {"42B#CA008E105A414E44", "42C#CAC000"}, // first: 8E 10 "ZAND"
        {"42B#CA4152454C20444E", "42C#CAC100"}, // "REL DN"
        {"42B#CA4152454C20444E", "42C#CAC100"}, // repeated: acknowledged again
        {"42B#CA822D4E4F444535", "42C#CAC200"}, // last: "-NODE5"
    });
    Bytes expected{0x10};
    for (char c : std::string("ZANDREL DN-NODE5"))
        expected.push_back(static_cast<std::uint8_t>(c));
    expectDone(expected);
}

TEST_F(ExplicitClientTest, FragmentedTransfersThatFail) {
    allocate();
    // The node refuses the request as too much data.
    start(client.StartSetAttribute(0xC7, 1, 3, downloadCommand(), t0), "42C#CA0010C701030202");
    run({{"42B#CAC000", "42C#CA41452301200001"}, {"42B#CAC101", ""}});
    expectFailed(ExplicitFailure::RequestTooLong);

    // A response fragment missing: nothing acknowledged, the response is incomplete.
    start(client.StartGetAttribute(0x01, 1, 7, t0), "42C#0A0E010107");
    run({{"42B#8A008E105A414E44", "42C#8AC000"}, {"42B#8A822D4E4F444535", ""}});
    expectFailed(ExplicitFailure::FragmentLost);

    // A response longer than this client takes: refused with "too much data".
    client.SetMaxResponseSize(8);
    start(client.StartGetAttribute(0x01, 1, 7, t0), "42C#4A0E010107");
    run({{"42B#CA008E105A414E44", "42C#CAC000"}, {"42B#CA4152454C20444E", "42C#CAC101"}});
    expectFailed(ExplicitFailure::ResponseTooLong);
}

TEST_F(ExplicitClientTest, ResponseStandsForALostAcknowledgement) {
    allocate();
    // 10 64 01 01 + 01..05: nine bytes, two fragments. The acknowledgement of the last one is
    // lost, but the response shows that it arrived.
    start(client.StartSetAttribute(0x64, 1, 1, {1, 2, 3, 4, 5}, t0), "42C#CA00106401010102");
    run({{"42B#CAC000", "42C#CA81030405"}, {"42B#4A90", ""}});
    expectDone({});

    // The same with a fragmented response (a vendor's service 0x4E).
    start(client.StartRequest(0x4E, 0x64, 1, {1, 2, 3, 4, 5}, t0), "42C#8A004E6401010203");
    run({
        {"42B#8AC000", "42C#8A810405"},
        {"42B#8A00CE0102030405", "42C#8AC000"},
        {"42B#8A8106", "42C#8AC100"},
    });
    expectDone({1, 2, 3, 4, 5, 6});
}

TEST_F(ExplicitClientTest, TimeOuts) {
    allocate();
    auto out = client.StartGetAttribute(0x01, 1, 1, t0);
    ASSERT_TRUE(out);
    EXPECT_EQ(text(*out), "42C#4A0E010101");
    EXPECT_EQ(out->deadline, t0 + 1000ms);
    EXPECT_EQ(text(client.OnTime(t0 + 999ms)), "");
    EXPECT_TRUE(client.Busy());
    EXPECT_EQ(text(client.OnTime(t0 + 1000ms)), ""); // DeviceNet has no abort message
    expectFailed(ExplicitFailure::Timeout);
    EXPECT_FALSE(client.Allocated());         // whether the node still has it is not known
    run({{"42B#4A8ED902", ""}}, t0 + 1001ms); // too late

    // A fragment not acknowledged goes once more, then the request fails.
    const TimePoint t1 = t0 + 10s;
    start(client.StartSetAttribute(0xC7, 1, 3, downloadCommand(), t1), AllocateRequest);
    run({{AllocateResponse, "42C#CA0010C701030202"}}, t1);
    EXPECT_EQ(text(client.OnTime(t1 + 1000ms)), "42C#CA0010C701030202");
    run({{"42B#CAC000", "42C#CA41452301200001"}}, t1 + 1200ms);
    EXPECT_EQ(text(client.OnTime(t1 + 2200ms)), "42C#CA41452301200001");
    EXPECT_TRUE(client.Busy());
    EXPECT_EQ(text(client.OnTime(t1 + 3200ms)), "");
    expectFailed(ExplicitFailure::Timeout);

    // A node that does not answer the allocation.
    client.SetTimeout(200ms);
    start(client.StartGetAttribute(0x01, 1, 1, t1), AllocateRequest);
    client.OnTime(t1 + 200ms);
    expectFailed(ExplicitFailure::Timeout);
    EXPECT_TRUE(client.Result().duringAllocation);
}

TEST_F(ExplicitClientTest, AllocatesAgainAfterIdlingOrAReset) {
    allocate();
    start(client.StartGetAttribute(0x01, 1, 1, t0 + 4999ms), "42C#4A0E010101");
    run({{"42B#4A8ED902", ""}}, t0 + 4999ms);
    // Idle for five seconds: the node's watchdog may have released the connection.
    start(client.StartGetAttribute(0x01, 1, 1, t0 + 9999ms), AllocateRequest);
    run({{"42B#0A940BFF", "42C#4A0E010101"}, {"42B#4A8ED902", ""}}, t0 + 9999ms);
    expectDone({0xD9, 0x02});

    // The Identity object's Reset restarts the node, and its connection with it.
    start(client.StartRequest(Service::Reset, 0x01, 1, {}, t0 + 10s), "42C#0A050101");
    run({{"42B#0A85", ""}}, t0 + 10s);
    expectDone({});
    EXPECT_FALSE(client.Allocated());
    start(client.StartGetAttribute(0x01, 1, 1, t0 + 10s), "42E#4A4B0301010A");
}

TEST_F(ExplicitClientTest, RequestsThatCannotBeSent) {
    auto request = client.StartGetAttribute(0x1C7, 1, 3, t0); // class too wide for 8/8
    ASSERT_TRUE(request);
    EXPECT_EQ(text(*request), "");
    expectFailed(ExplicitFailure::InvalidRequest);
    request = client.StartRequest(0x8E, 0x01, 1, {}, t0); // a response's service code
    ASSERT_TRUE(request);
    EXPECT_EQ(text(*request), "");
    expectFailed(ExplicitFailure::InvalidRequest);
    start(client.StartAllocate(t0), AllocateRequest);
    EXPECT_FALSE(client.StartGetAttribute(0x01, 1, 1, t0)); // busy
    EXPECT_FALSE(client.StartRelease(t0));
    EXPECT_EQ(text(client.Cancel()), "");
    expectFailed(ExplicitFailure::Cancelled);
}

} // namespace
