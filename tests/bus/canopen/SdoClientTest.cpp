#include "canopen/SdoClient.h"

#include "BusPrinters.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using namespace bus::canopen;
using namespace std::chrono_literals;
using bus::ParseCandump;
using bus::ToCandump;

std::string text(const Output& out) {
    std::string t;
    for (const auto& frame : out.frames)
        t += (t.empty() ? "" : " ") + ToCandump(frame);
    return t;
}

std::vector<std::uint8_t> bytes(const std::string& s) {
    return {s.begin(), s.end()};
}

// A server's reply and what the client must send on it ("" for nothing). Frames written out
// by hand from the SDO protocol's layouts.
struct Step {
    const char* reply;
    const char* next;
};

class SdoClientTest : public testing::Test {
protected:
    void start(const std::optional<Output>& out, const char* request) {
        ASSERT_TRUE(out);
        EXPECT_EQ(text(*out), request);
    }
    void run(const std::vector<Step>& steps) {
        for (const Step& step : steps) {
            const auto reply = ParseCandump(step.reply);
            ASSERT_TRUE(reply) << step.reply;
            EXPECT_EQ(text(client.OnFrame(*reply, t0)), step.next) << "after " << step.reply;
        }
    }
    void expectFailed(std::uint32_t code, bool byServer) {
        EXPECT_EQ(client.Result().status, SdoStatus::Failed);
        EXPECT_EQ(client.Result().abortCode, code);
        EXPECT_EQ(client.Result().abortedByServer, byServer);
        EXPECT_FALSE(client.Busy());
    }

    const TimePoint t0 = TimePoint{} + 1h;
    SdoClient client{3};
};

TEST_F(SdoClientTest, ExpeditedDownload) {
    start(client.StartDownload(0x360F, 0, {0x2B, 0x1A, 0x00, 0x00}, t0), "603#230F36002B1A0000");
    EXPECT_TRUE(client.Busy());
    run({{"583#600F360000000000", ""}});
    EXPECT_EQ(client.Result().status, SdoStatus::Done);
    EXPECT_EQ(client.Result().size, 4u);

    struct Case {
        std::vector<std::uint8_t> value;
        const char* request;
    };
    for (const Case& c :
         {Case{{0x05}, "603#2F0B360005000000"}, Case{{0x34, 0x12}, "603#2B0B360034120000"},
          Case{{0x56, 0x34, 0x12}, "603#270B360056341200"}}) {
        start(client.StartDownload(0x360B, 0, c.value, t0), c.request);
        run({{"583#600B360000000000", ""}});
        EXPECT_EQ(client.Result().status, SdoStatus::Done);
    }
}

TEST_F(SdoClientTest, ExpeditedUpload) {
    start(client.StartUpload(0x1000, 0, 4, t0), "603#4000100000000000");
    run({{"583#4300100092010200", ""}});
    EXPECT_EQ(client.Result().status, SdoStatus::Done);
    EXPECT_EQ(client.Result().data, (std::vector<std::uint8_t>{0x92, 0x01, 0x02, 0x00}));
    EXPECT_EQ(client.Result().size, 4u);

    start(client.StartUpload(0x1001, 0, 4, t0), "603#4001100000000000");
    run({{"583#4F01100007000000", ""}});
    EXPECT_EQ(client.Result().data, std::vector<std::uint8_t>{0x07});

    EXPECT_FALSE(client.Result().sizeUnstated);

    start(client.StartUpload(0x1000, 0, 2, t0), "603#4000100000000000");
    run({{"583#4200100092010200", ""}}); // size not given: four bytes, cut to two
    EXPECT_EQ(client.Result().status, SdoStatus::Done);
    EXPECT_EQ(client.Result().data, (std::vector<std::uint8_t>{0x92, 0x01}));
    EXPECT_EQ(client.Result().size, 4u);
    EXPECT_TRUE(client.Result().sizeUnstated);
}

TEST_F(SdoClientTest, SegmentedUploadWithAndWithoutRoom) {
    for (std::size_t capacity : {256u, 8u, 0u}) {
        SCOPED_TRACE(capacity);
        start(client.StartUpload(0x1008, 0, capacity, t0), "603#4008100000000000");
        run({
            {"583#410810000A000000", "603#6000000000000000"},
            {"583#005A414E4452454C", "603#7000000000000000"},
            {"583#192D4E3300000000", ""},
        });
        EXPECT_EQ(client.Result().status, SdoStatus::Done);
        const std::string whole = "ZANDREL-N3";
        EXPECT_EQ(client.Result().data, bytes(whole.substr(0, capacity)));
        EXPECT_EQ(client.Result().size, 10u); // read to its end all the same
    }
}

TEST_F(SdoClientTest, SegmentedDownload) {
    start(client.StartDownload(0x3600, 0,
                               {0x02, 0x02, 0x45, 0x23, 0x01, 0x20, 0x01, 0xAA, 0xBB, 0xCC}, t0),
          "603#210036000A000000");
    run({
        {"583#6000360000000000", "603#0002024523012001"},
        {"583#2000000000000000", "603#19AABBCC00000000"},
        {"583#3000000000000000", ""},
    });
    EXPECT_EQ(client.Result().status, SdoStatus::Done);
    EXPECT_EQ(client.Result().size, 10u);

    start(client.StartDownload(0x3606, 0, {}, t0), "603#2106360000000000"); // nothing to write
    run({
        {"583#6006360000000000", "603#0F00000000000000"},
        {"583#2000000000000000", ""},
    });
    EXPECT_EQ(client.Result().status, SdoStatus::Done);
}

TEST_F(SdoClientTest, ServerAbortEndsTheTransfer) {
    start(client.StartUpload(0x2000, 0, 4, t0), "603#4000200000000000");
    run({{"583#8000200000000206", ""}});
    expectFailed(SdoAbort::NoObject, true);
    EXPECT_STREQ(SdoAbortText(client.Result().abortCode),
                 "object does not exist in the object dictionary");
}

TEST_F(SdoClientTest, AbortsWrongToggle) {
    start(client.StartUpload(0x1008, 0, 256, t0), "603#4008100000000000");
    run({
        {"583#410810000A000000", "603#6000000000000000"},
        {"583#105A414E4452454C", "603#8008100000000305"}, // toggle 1 where 0 was due
    });
    expectFailed(SdoAbort::ToggleBit, false);

    start(client.StartDownload(0x3600, 0, bytes("0123456789"), t0), "603#210036000A000000");
    run({
        {"583#6000360000000000", "603#0030313233343536"},
        {"583#3000000000000000", "603#8000360000000305"},
    });
    expectFailed(SdoAbort::ToggleBit, false);
}

TEST_F(SdoClientTest, AbortsUnexpectedCommandSpecifiers) {
    struct Case {
        const char* reply;
        const char* abort;
    };
    for (const Case& c : {Case{"583#6000100000000000", "603#8000100001000405"}, // a download's
                          Case{"583#E000100000000000", "603#8000100001000405"}}) {
        start(client.StartUpload(0x1000, 0, 4, t0), "603#4000100000000000");
        run({{c.reply, c.abort}});
        expectFailed(SdoAbort::BadCommand, false);
    }
    start(client.StartDownload(0x3600, 0, bytes("0123456789"), t0), "603#210036000A000000");
    run({
        {"583#6000360000000000", "603#0030313233343536"},
        {"583#0000000000000000", "603#8000360001000405"}, // an upload segment
    });
    expectFailed(SdoAbort::BadCommand, false);
}

TEST_F(SdoClientTest, AbortsWhenTheSegmentsDoNotMatchTheSize) {
    start(client.StartUpload(0x1008, 0, 256, t0), "603#4008100000000000");
    run({
        {"583#4108100003000000", "603#6000000000000000"},
        {"583#005A414E4452454C", "603#8008100012000706"}, // 7 of 3
    });
    expectFailed(SdoAbort::LengthTooHigh, false);
    start(client.StartUpload(0x1008, 0, 256, t0), "603#4008100000000000");
    run({
        {"583#410810000A000000", "603#6000000000000000"},
        {"583#015A414E4452454C", "603#8008100013000706"}, // ends after 7 of 10
    });
    expectFailed(SdoAbort::LengthTooLow, false);
}

TEST_F(SdoClientTest, TimesOutAndTellsTheServer) {
    auto out = client.StartUpload(0x1000, 0, 4, t0);
    ASSERT_TRUE(out);
    EXPECT_EQ(out->deadline, t0 + 500ms);
    EXPECT_EQ(text(client.OnTime(t0 + 499ms)), "");
    EXPECT_TRUE(client.Busy());
    EXPECT_EQ(text(client.OnTime(t0 + 500ms)), "603#8000100000000405");
    expectFailed(SdoAbort::Timeout, false);

    // Each request has the time-out in force when it is sent.
    client.SetTimeout(100ms);
    out = client.StartUpload(0x1008, 0, 256, t0);
    EXPECT_EQ(out->deadline, t0 + 100ms);
    const Output next = client.OnFrame(*ParseCandump("583#410810000A000000"), t0 + 80ms);
    EXPECT_EQ(next.deadline, t0 + 180ms);
    EXPECT_EQ(text(client.OnTime(t0 + 179ms)), "");
    EXPECT_EQ(text(client.OnTime(t0 + 180ms)), "603#8008100000000405");
    expectFailed(SdoAbort::Timeout, false);
    EXPECT_EQ(client.OnTime(t0 + 1h).deadline, NoDeadline);
}

TEST_F(SdoClientTest, OneTransferAtATime) {
    ASSERT_TRUE(client.StartUpload(0x1000, 0, 4, t0));
    EXPECT_FALSE(client.StartUpload(0x1001, 0, 4, t0));
    EXPECT_FALSE(client.StartDownload(0x360B, 0, {1}, t0));
    run({{"583#4300100092010200", ""}}); // still the first one's
    EXPECT_EQ(client.Result().data, (std::vector<std::uint8_t>{0x92, 0x01, 0x02, 0x00}));
    EXPECT_TRUE(client.StartUpload(0x1001, 0, 4, t0));
    EXPECT_EQ(text(client.Abort(SdoAbort::General)), "603#8001100000000008");
    expectFailed(SdoAbort::General, false);
    EXPECT_EQ(text(client.Abort(SdoAbort::General)), ""); // nothing runs
}

TEST_F(SdoClientTest, IgnoresFramesNotMeantForThisTransfer) {
    start(client.StartUpload(0x1000, 0, 4, t0), "603#4000100000000000");
    run({
        {"584#4300100092010200", ""}, // another node's server
        {"603#4300100092010200", ""}, // a request, not a reply
        {"583#R8", ""},
        {"583#4301100007000000", ""}, // an earlier request's answer: 0x1001
    });
    EXPECT_TRUE(client.Busy());
    run({{"583#4300100092010200", ""}});
    EXPECT_EQ(client.Result().status, SdoStatus::Done);
    run({{"583#4300100092010200", ""}}); // nothing runs any more
}

// What a server may still send after the client gave up on a transfer (its time-out), or
// what CAN delivers twice: none of it ends the transfer that runs now, which goes on to its
// own answer.
TEST_F(SdoClientTest, LateAndRepeatedAnswersDoNotEndTheNextTransfer) {
    struct Case {
        const char* what;
        bool upload; // else a segmented download of "0123456789" to 0x3600
        std::vector<const char*> stale;
    };
    const std::vector<Case> cases = {
        {"a segment answer while the initiate answer is awaited",
         false,
         {"583#2000000000000000", "583#3000000000000000"}},
        {"an upload segment while the initiate answer is awaited",
         true,
         {"583#005A414E4452454C", "583#105A414E4452454C"}},
        {"another entry's initiate answer",
         false,
         {"583#6004360000000000", "583#4309360000000200"}},
        {"another entry's initiate answer, to an upload",
         true,
         {"583#6000360000000000", "583#4F0B360002000000"}},
        {"another entry's abort", false, {"583#8004360000000206", "583#8000100000000405"}},
        {"a cancelled block download's acknowledgement and end answer",
         false,
         {"583#A27F7F0000000000", "583#A100000000000000"}},
        {"a cancelled block download's acknowledgement, to an upload",
         true,
         {"583#A27F7F0000000000", "583#A2057F0000000000"}},
        {"a block upload's initiate answer and end, to an upload",
         true,
         {"583#C60810000A000000", "583#D17DB60000000000"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.upload) {
            start(client.StartUpload(0x1008, 0, 256, t0), "603#4008100000000000");
            run({{c.stale[0], ""}, {c.stale[1], ""}});
            EXPECT_TRUE(client.Busy());
            run({
                {"583#410810000A000000", "603#6000000000000000"},
                {"583#005A414E4452454C", "603#7000000000000000"},
                {"583#192D4E3300000000", ""},
            });
            EXPECT_EQ(client.Result().data, bytes("ZANDREL-N3"));
        } else {
            start(client.StartDownload(0x3600, 0, bytes("0123456789"), t0), "603#210036000A000000");
            run({{c.stale[0], ""}, {c.stale[1], ""}});
            EXPECT_TRUE(client.Busy());
            run({
                {"583#6000360000000000", "603#0030313233343536"},
                {"583#2000000000000000", "603#1937383900000000"},
                {"583#3000000000000000", ""},
            });
        }
        EXPECT_EQ(client.Result().status, SdoStatus::Done);
    }
}

TEST_F(SdoClientTest, ARepeatedFrameIsTakenOnce) {
    start(client.StartDownload(0x3600, 0, bytes("0123456789"), t0), "603#210036000A000000");
    run({
        {"583#6000360000000000", "603#0030313233343536"},
        {"583#6000360000000000", ""}, // the initiate answer again
        {"583#2000000000000000", "603#1937383900000000"},
        {"583#2000000000000000", ""}, // the first segment's answer again
        {"583#3000000000000000", ""},
    });
    EXPECT_EQ(client.Result().status, SdoStatus::Done);

    start(client.StartUpload(0x1008, 0, 256, t0), "603#4008100000000000");
    run({
        {"583#410810000A000000", "603#6000000000000000"},
        {"583#410810000A000000", ""},
        {"583#005A414E4452454C", "603#7000000000000000"},
        {"583#005A414E4452454C", ""}, // its bytes are kept once
        {"583#192D4E3300000000", ""},
    });
    EXPECT_EQ(client.Result().status, SdoStatus::Done);
    EXPECT_EQ(client.Result().data, bytes("ZANDREL-N3"));
}

TEST_F(SdoClientTest, TheTransfersOwnAbortStillEndsIt) {
    start(client.StartDownload(0x3600, 0, bytes("0123456789"), t0), "603#210036000A000000");
    run({
        {"583#6000360000000000", "603#0030313233343536"},
        {"583#8000360000000606", ""}, // hardware error, in the middle of the segments
    });
    expectFailed(SdoAbort::HardwareError, true);
}

TEST_F(SdoClientTest, AShortFrameEndsTheTransferAtOnce) {
    for (const char* reply : {"583#43001000", "583#", "583#60003600000000"}) {
        SCOPED_TRACE(reply);
        start(client.StartUpload(0x1000, 0, 4, t0), "603#4000100000000000");
        run({{reply, "603#8000100001000405"}});
        expectFailed(SdoAbort::BadCommand, false);
    }
}

} // namespace
