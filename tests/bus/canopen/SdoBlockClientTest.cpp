#include "BusPrinters.h"
#include "canopen/SdoClient.h"

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

std::vector<std::uint8_t> TestBytes(const std::string& text) {
    return {text.begin(), text.end()};
}

// 1, 2, ..., n.
std::vector<std::uint8_t> counting(std::size_t n) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<std::uint8_t>(i + 1);
    return v;
}

// A server's frame and what the client must send on it ("" for nothing). Frames written out
// by hand from the block transfer's layouts; CRCs are of the values 1, 2, ..., n.
struct Step {
    const char* reply;
    const char* next;
};

// Twenty bytes to 0x1F50:01 in three segments, the last with one byte unused; CRC 0xEAD3.
const char* const DownloadInitiate = "603#C6501F0114000000";
const char* const TwentyBytesAsOneSubBlock =
    "603#0101020304050607 603#0208090A0B0C0D0E 603#830F101112131400";
const char* const TwentyBytesEnd = "603#C5D3EA0000000000";

class SdoBlockClientTest : public testing::Test {
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
    void expectDone(bool block) {
        EXPECT_EQ(client.Result().status, SdoStatus::Done);
        EXPECT_EQ(client.Result().blockTransfer, block);
        EXPECT_FALSE(client.Busy());
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

TEST_F(SdoBlockClientTest, DownloadFrameByFrame) {
    start(client.StartBlockDownload(0x1F50, 1, counting(20), t0), DownloadInitiate);
    EXPECT_TRUE(client.Busy());
    run({
        {"583#A4501F017F000000", TwentyBytesAsOneSubBlock}, // CRC, 127 segments a sub-block
        {"583#A2037F0000000000", TwentyBytesEnd},           // all three taken
    });
    EXPECT_TRUE(client.Busy()); // not done before the server's end answer
    run({{"583#A100000000000000", ""}});
    expectDone(true);
    EXPECT_EQ(client.Result().size, 20u);
}

TEST_F(SdoBlockClientTest, DownloadWithoutTheServersCrcSendsNone) {
    start(client.StartBlockDownload(0x1F50, 1, counting(20), t0), DownloadInitiate);
    run({
        {"583#A0501F017F000000", TwentyBytesAsOneSubBlock},
        {"583#A2037F0000000000", "603#C500000000000000"},
        {"583#A100000000000000", ""},
    });
    expectDone(true);
}

TEST_F(SdoBlockClientTest, DownloadResendsFromTheSegmentAfterTheAcknowledgedOnes) {
    // Thirty bytes, five segments, four a sub-block. The third is lost: the server takes two,
    // and the next sub-block begins with the third, numbered 1 again, and holds the rest.
    start(client.StartBlockDownload(0x1F50, 1, counting(30), t0), "603#C6501F011E000000");
    run({
        {"583#A4501F0104000000", "603#0101020304050607 603#0208090A0B0C0D0E "
                                 "603#030F101112131415 603#04161718191A1B1C"},
        {"583#A202040000000000", "603#010F101112131415 603#02161718191A1B1C 603#831D1E0000000000"},
        {"583#A203040000000000", "603#D521010000000000"}, // five bytes unused, CRC 0x0121
        {"583#A100000000000000", ""},
    });
    expectDone(true);
}

TEST_F(SdoBlockClientTest, DownloadAbortsWrongBlockSizesAndSequenceNumbers) {
    struct Case {
        const char* what;
        std::vector<Step> steps;
        std::uint32_t code;
    };
    const std::vector<Case> cases = {
        {"block size 0 in the initiate answer",
         {{"583#A4501F0100000000", "603#80501F0102000405"}},
         SdoAbort::InvalidBlockSize},
        {"block size 128 in the initiate answer",
         {{"583#A4501F0180000000", "603#80501F0102000405"}},
         SdoAbort::InvalidBlockSize},
        {"four segments acknowledged of three",
         {{"583#A4501F017F000000", TwentyBytesAsOneSubBlock},
          {"583#A2047F0000000000", "603#80501F0103000405"}},
         SdoAbort::InvalidSequence},
        {"block size 0 in an acknowledgement",
         {{"583#A4501F017F000000", TwentyBytesAsOneSubBlock},
          {"583#A201000000000000", "603#80501F0102000405"}},
         SdoAbort::InvalidBlockSize},
        {"an end answer before the segments are acknowledged",
         {{"583#A4501F017F000000", TwentyBytesAsOneSubBlock},
          {"583#A100000000000000", "603#80501F0101000405"}},
         SdoAbort::BadCommand},
        {"a segmented answer to a block initiate",
         {{"583#60501F0100000000", "603#80501F0101000405"}},
         SdoAbort::BadCommand},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        start(client.StartBlockDownload(0x1F50, 1, counting(20), t0), DownloadInitiate);
        run(c.steps);
        expectFailed(c.code, false);
    }
}

TEST_F(SdoBlockClientTest, RefusedBlockTransfersGoSegmentedInstead) {
    start(client.StartBlockDownload(0x1F50, 1, counting(20), t0), DownloadInitiate);
    run({
        {"583#80501F0101000405", "603#21501F0114000000"}, // no block transfer: segmented
        {"583#60501F0100000000", "603#0001020304050607"},
        {"583#2000000000000000", "603#1008090A0B0C0D0E"},
        {"583#3000000000000000", "603#030F101112131400"},
        {"583#2000000000000000", ""},
    });
    expectDone(false);
    EXPECT_EQ(client.Result().size, 20u);

    start(client.StartBlockDownload(0x1F50, 1, {0xAA, 0xBB}, t0), "603#C6501F0102000000");
    run({
        {"583#80501F0101000405", "603#2B501F01AABB0000"}, // two bytes go expedited
        {"583#60501F0100000000", ""},
    });
    expectDone(false);

    start(client.StartBlockUpload(0x1008, 0, 256, 4, t0), "603#A408100004000000");
    run({
        {"583#8008100001000405", "603#4008100000000000"},
        {"583#410810000A000000", "603#6000000000000000"},
        {"583#005A414E4452454C", "603#7000000000000000"},
        {"583#192D4E3300000000", ""},
    });
    expectDone(false);
    EXPECT_EQ(client.Result().data,
              (std::vector<std::uint8_t>{'Z', 'A', 'N', 'D', 'R', 'E', 'L', '-', 'N', '3'}));

    // Another refusal is the transfer's end.
    start(client.StartBlockDownload(0x1F50, 1, counting(20), t0), DownloadInitiate);
    run({{"583#80501F0102000106", ""}});
    expectFailed(SdoAbort::ReadOnly, true);
}

// 0x05040001 to a block initiate is the refusal of block transfers, whatever object the
// server names in it (some name the object of their previous transfer, or 0000:00): the same
// transfer goes on segmented. Another code ends the transfer with that code when it names the
// transfer's object; naming another, it is an earlier transfer's.
TEST_F(SdoBlockClientTest, ARefusedBlockInitiateGoesSegmentedWhateverObjectTheRefusalNames) {
    enum class Then { Segmented, Fails, GoesOn };
    struct Case {
        const char* what;
        const char* toDownload; // the abort to the block download of 0x1F50:01
        const char* toUpload;   // the abort to the block upload of 0x1008:00
        Then then;
    };
    const std::vector<Case> cases = {
        {"naming the object", "583#80501F0101000405", "583#8008100001000405", Then::Segmented},
        {"naming the previous transfer's object", "583#8018100101000405", "583#8018100101000405",
         Then::Segmented},
        {"naming 0000:00", "583#8000000001000405", "583#8000000001000405", Then::Segmented},
        {"another code", "583#80501F0102000106", "583#8008100002000106", Then::Fails},
        {"another code for another object", "583#8000000000000008", "583#8018100100000008",
         Then::GoesOn},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        start(client.StartBlockDownload(0x1F50, 1, counting(20), t0), DownloadInitiate);
        switch (c.then) {
        case Then::Segmented:
            run({
                {c.toDownload, "603#21501F0114000000"},
                {"583#A4501F017F000000", ""}, // the block initiate's answer, late
                {"583#60501F0100000000", "603#0001020304050607"},
                {"583#2000000000000000", "603#1008090A0B0C0D0E"},
                {"583#3000000000000000", "603#030F101112131400"},
                {"583#2000000000000000", ""},
            });
            expectDone(false);
            EXPECT_EQ(client.Result().size, 20u);
            break;
        case Then::Fails:
            run({{c.toDownload, ""}});
            expectFailed(SdoAbort::ReadOnly, true);
            break;
        case Then::GoesOn:
            run({{c.toDownload, ""}, {"583#A4501F017F000000", TwentyBytesAsOneSubBlock}});
            client.Abort(SdoAbort::General);
            break;
        }

        start(client.StartBlockUpload(0x1008, 0, 256, 4, t0), "603#A408100004000000");
        switch (c.then) {
        case Then::Segmented:
            run({
                {c.toUpload, "603#4008100000000000"},
                {"583#C60810000A000000", ""}, // the block initiate's answer, late
                {"583#410810000A000000", "603#6000000000000000"},
                {"583#005A414E4452454C", "603#7000000000000000"},
                {"583#192D4E3300000000", ""},
            });
            expectDone(false);
            EXPECT_EQ(client.Result().data, TestBytes("ZANDREL-N3"));
            break;
        case Then::Fails:
            run({{c.toUpload, ""}});
            expectFailed(SdoAbort::ReadOnly, true);
            break;
        case Then::GoesOn:
            run({{c.toUpload, ""}, {"583#C60810000A000000", "603#A300000000000000"}});
            client.Abort(SdoAbort::General);
            break;
        }
    }
}

// A value longer than the room it is read into is not cut: the transfer fails, and the room
// stays empty; the server is told (0x05040005) as soon as the length is known.
TEST_F(SdoBlockClientTest, AnUploadLongerThanItsRoomFails) {
    struct Case {
        const char* what;
        std::size_t capacity;
        std::vector<Step> steps;
    };
    const char* const outOfMemory = "603#8008100005000405";
    const std::vector<Case> cases = {
        {"the size announced", 8, {{"583#C60810000A000000", outOfMemory}}},
        {"no room at all", 0, {{"583#C60810000A000000", outOfMemory}}},
        {"no size announced",
         8,
         {{"583#C408100000000000", "603#A300000000000000"},
          {"583#015A414E4452454C", ""},
          {"583#822D4E3300000000", "603#A202040000000000"},
          {"583#D17DB60000000000", outOfMemory}}},
        {"refused, then segmented",
         8,
         {{"583#8008100001000405", "603#4008100000000000"}, {"583#410810000A000000", outOfMemory}}},
        {"refused, then expedited",
         2,
         {{"583#8008100001000405", "603#4008100000000000"}, {"583#4308100041424344", outOfMemory}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        start(client.StartBlockUpload(0x1008, 0, c.capacity, 4, t0), "603#A408100004000000");
        run(c.steps);
        expectFailed(SdoAbort::OutOfMemory, false);
        EXPECT_TRUE(client.Result().data.empty());
    }
}

TEST_F(SdoBlockClientTest, UploadOfTwoSubBlocks) {
    for (std::size_t capacity : {256u, 30u}) {
        SCOPED_TRACE(capacity);
        start(client.StartBlockUpload(0x1008, 0, capacity, 4, t0), "603#A408100004000000");
        run({
            {"583#C60810001E000000", "603#A300000000000000"}, // 30 bytes, CRC
            {"583#0101020304050607", ""},
            {"583#0208090A0B0C0D0E", ""},
            {"583#030F101112131415", ""},
            {"583#04161718191A1B1C", "603#A204040000000000"},
            {"583#811D1E0000000000", "603#A201040000000000"},
        });
        EXPECT_TRUE(client.Busy());
        run({{"583#D521010000000000", "603#A100000000000000"}});
        expectDone(true);
        const auto whole = counting(30);
        EXPECT_EQ(client.Result().data, whole);
        EXPECT_EQ(client.Result().size, 30u);
    }
}

TEST_F(SdoBlockClientTest, UploadDropsASegmentOutOfSequenceAndAcknowledgesTheOnesInOrder) {
    start(client.StartBlockUpload(0x1008, 0, 256, 4, t0), "603#A408100004000000");
    run({
        {"583#C60810001E000000", "603#A300000000000000"},
        {"583#0101020304050607", ""},
        {"583#030F101112131415", ""},                     // the second was lost
        {"583#04161718191A1B1C", "603#A201040000000000"}, // one taken
        {"583#0108090A0B0C0D0E", ""},
        {"583#020F101112131415", ""},
        {"583#03161718191A1B1C", ""},
        {"583#841D1E0000000000", "603#A204040000000000"},
        {"583#D521010000000000", "603#A100000000000000"},
    });
    expectDone(true);
    EXPECT_EQ(client.Result().data, counting(30));
}

TEST_F(SdoBlockClientTest, UploadChecksTheCrcAndTheSize) {
    struct Case {
        const char* what;
        const char* initiateAnswer;
        const char* end;
        const char* answer;
        std::uint32_t code; // 0: done
    };
    // "ZANDREL-N3": two segments, four bytes of the second unused, CRC 0xB67D.
    for (const Case& c : {
             Case{"all well", "583#C60810000A000000", "583#D17DB60000000000",
                  "603#A100000000000000", 0},
             Case{"a wrong CRC", "583#C60810000A000000", "583#D17DB70000000000",
                  "603#8008100004000405", SdoAbort::CrcError},
             Case{"the server checks no CRC", "583#C20810000A000000", "583#D100000000000000",
                  "603#A100000000000000", 0},
             Case{"fewer bytes than announced", "583#C60810000B000000", "583#D17DB60000000000",
                  "603#8008100013000706", SdoAbort::LengthTooLow},
             Case{"more bytes than announced", "583#C608100009000000", "583#D17DB60000000000",
                  "603#8008100012000706", SdoAbort::LengthTooHigh},
             Case{"no size announced", "583#C408100000000000", "583#D17DB60000000000",
                  "603#A100000000000000", 0},
         }) {
        SCOPED_TRACE(c.what);
        start(client.StartBlockUpload(0x1008, 0, 256, 127, t0), "603#A40810007F000000");
        run({
            {c.initiateAnswer, "603#A300000000000000"},
            {"583#015A414E4452454C", ""},
            {"583#822D4E3300000000", "603#A2027F0000000000"},
            {c.end, c.answer},
        });
        if (c.code) {
            expectFailed(c.code, false);
        } else {
            expectDone(true);
            EXPECT_EQ(client.Result().size, 10u);
        }
    }
}

TEST_F(SdoBlockClientTest, UploadAbortsWrongSequenceNumbersAndHearsTheServersAbort) {
    struct Case {
        const char* segment;
        const char* answer;
        std::uint32_t code;
        bool byServer;
    };
    for (const Case& c : {
             Case{"583#0508090A0B0C0D0E", "603#8008100003000405", SdoAbort::InvalidSequence,
                  false}, // 5 of 4
             Case{"583#0008090A0B0C0D0E", "603#8008100003000405", SdoAbort::InvalidSequence, false},
             Case{"583#8008100000000008", "", SdoAbort::General, true},
         }) {
        SCOPED_TRACE(c.segment);
        start(client.StartBlockUpload(0x1008, 0, 256, 4, t0), "603#A408100004000000");
        run({{"583#C60810001E000000", "603#A300000000000000"}, {c.segment, c.answer}});
        expectFailed(c.code, c.byServer);
    }
}

TEST_F(SdoBlockClientTest, DoubledAndLateFramesAreTakenOnce) {
    start(client.StartBlockDownload(0x1F50, 1, counting(20), t0), DownloadInitiate);
    run({
        {"583#2000000000000000", ""}, // a segmented transfer's, late
        {"583#A2037F0000000000", ""}, // an earlier block download's
        {"583#A4511F017F000000", ""}, // another entry's
        {"583#A4501F017F000000", TwentyBytesAsOneSubBlock},
        {"583#A4501F017F000000", ""}, // the initiate answer again
        {"583#A2037F0000000000", TwentyBytesEnd},
        {"583#A2037F0000000000", ""}, // the acknowledgement again
        {"583#A100000000000000", ""},
        {"583#A100000000000000", ""}, // nothing runs any more
    });
    expectDone(true);

    start(client.StartBlockUpload(0x1008, 0, 256, 127, t0), "603#A40810007F000000");
    run({
        {"583#C60810000A000000", "603#A300000000000000"},
        {"583#C60810000A000000", ""}, // the initiate answer again
        {"583#015A414E4452454C", ""},
        {"583#015A414E4452454C", ""}, // its bytes are kept once
        {"583#822D4E3300000000", "603#A2027F0000000000"},
        {"583#822D4E3300000000", ""}, // the last segment again
        {"583#D17DB60000000000", "603#A100000000000000"},
    });
    expectDone(true);
    EXPECT_EQ(client.Result().data,
              (std::vector<std::uint8_t>{'Z', 'A', 'N', 'D', 'R', 'E', 'L', '-', 'N', '3'}));
}

TEST_F(SdoBlockClientTest, TimesOutWaitingForTheServer) {
    start(client.StartBlockDownload(0x1F50, 1, counting(20), t0), DownloadInitiate);
    const Output sent = client.OnFrame(*ParseCandump("583#A4501F017F000000"), t0 + 100ms);
    EXPECT_EQ(sent.deadline, t0 + 600ms);
    EXPECT_EQ(text(client.OnTime(t0 + 599ms)), "");
    EXPECT_EQ(text(client.OnTime(t0 + 600ms)), "603#80501F0100000405");
    expectFailed(SdoAbort::Timeout, false);

    // The time-out counts from when the last segment of the sub-block has gone out: at
    // 10 kbit/s, 127 segments take 1.5 s on the wire.
    start(client.StartBlockDownload(0x1F50, 1, counting(20), t0), DownloadInitiate);
    EXPECT_EQ(client.FramesSent(t0 + 40ms).deadline, t0 + 540ms); // the initiate went out
    client.OnFrame(*ParseCandump("583#A4501F017F000000"), t0 + 100ms);
    EXPECT_EQ(client.FramesSent(t0 + 1600ms).deadline, t0 + 2100ms);
    EXPECT_EQ(client.FramesSent(t0 + 200ms).deadline, t0 + 2100ms); // never sooner
    EXPECT_EQ(text(client.OnTime(t0 + 2099ms)), "");
    EXPECT_EQ(text(client.OnFrame(*ParseCandump("583#A2037F0000000000"), t0 + 2050ms)),
              TwentyBytesEnd);
    EXPECT_EQ(client.FramesSent(t0 + 2060ms).deadline, t0 + 2560ms); // and the end's answer
    EXPECT_EQ(text(client.OnTime(t0 + 2560ms)), "603#80501F0100000405");
    expectFailed(SdoAbort::Timeout, false);
    EXPECT_EQ(client.FramesSent(t0 + 3000ms).deadline, NoDeadline); // nothing runs

    // Each segment that comes puts the deadline off.
    start(client.StartBlockUpload(0x1008, 0, 256, 4, t0), "603#A408100004000000");
    client.OnFrame(*ParseCandump("583#C60810001E000000"), t0 + 100ms);
    EXPECT_EQ(client.OnFrame(*ParseCandump("583#0101020304050607"), t0 + 400ms).deadline,
              t0 + 900ms);
    EXPECT_EQ(text(client.OnTime(t0 + 899ms)), "");
    EXPECT_EQ(text(client.OnTime(t0 + 900ms)), "603#8008100000000405");
    expectFailed(SdoAbort::Timeout, false);
}

TEST_F(SdoBlockClientTest, OneTransferAtATimeAndBlockSizesFrom1To127) {
    EXPECT_FALSE(client.StartBlockUpload(0x1008, 0, 256, 0, t0));
    EXPECT_FALSE(client.StartBlockUpload(0x1008, 0, 256, 128, t0));
    EXPECT_FALSE(client.Busy());
    ASSERT_TRUE(client.StartBlockDownload(0x1F50, 1, counting(20), t0));
    EXPECT_FALSE(client.StartBlockDownload(0x1F50, 1, counting(20), t0));
    EXPECT_FALSE(client.StartBlockUpload(0x1008, 0, 256, 4, t0));
    EXPECT_FALSE(client.StartDownload(0x1F50, 1, counting(20), t0));
}

} // namespace
