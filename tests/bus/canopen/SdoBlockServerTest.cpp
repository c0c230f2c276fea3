#include "BusPrinters.h"
#include "TestDictionary.h"
#include "canopen/SdoServer.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using namespace bus::canopen;
using namespace std::chrono_literals;
using bus::ParseCandump;
using bus::ToCandump;

// 1, 2, ..., n.
std::vector<std::uint8_t> counting(std::size_t n) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i)
        v[i] = static_cast<std::uint8_t>(i + 1);
    return v;
}

std::string text(const Output& out) {
    std::string t;
    for (const auto& frame : out.frames)
        t += (t.empty() ? "" : " ") + ToCandump(frame);
    return t;
}

// One request and what the server must send on it ("" for nothing). Frames written out by
// hand from the block transfer's layouts; CRCs are of the values 1, 2, ..., n.
struct Step {
    const char* request;
    const char* reply;
};

// Twenty bytes to 0x3606:00 in three segments, the last with one byte unused; CRC 0xEAD3.
const std::vector<Step> TwentyBytesBeforeTheEnd = {
    {"603#C606360014000000", "583#A40636007F000000"}, // CRC, 127 segments a sub-block
    {"603#0101020304050607", ""},
    {"603#0208090A0B0C0D0E", ""},
    {"603#830F101112131400", "583#A2037F0000000000"},
};

class SdoBlockServerTest : public testing::Test {
protected:
    void run(const std::vector<Step>& steps) {
        for (const Step& step : steps) {
            const auto request = ParseCandump(step.request);
            ASSERT_TRUE(request) << step.request;
            EXPECT_EQ(text(server.OnFrame(*request, t0)), step.reply) << "after " << step.request;
        }
    }

    const TimePoint t0 = TimePoint{} + 1h;
    TestDictionary od;
    SdoServer server{3, od};
};

TEST_F(SdoBlockServerTest, DownloadFrameByFrame) {
    run(TwentyBytesBeforeTheEnd);
    EXPECT_EQ(od.writes(), 0); // the value is written whole, at the end
    run({{"603#C5D3EA0000000000", "583#A100000000000000"}});
    EXPECT_EQ(od.value(0x3606, 0), counting(20));
    EXPECT_EQ(od.writes(), 1);
    EXPECT_FALSE(server.Busy());
}

TEST_F(SdoBlockServerTest, DownloadEnds) {
    struct Case {
        const char* what;
        const char* initiate;
        const char* end;
        const char* reply;
    };
    for (const Case& c : {
             Case{"a wrong CRC", "603#C606360014000000", "603#C5D3EB0000000000",
                  "583#8006360004000405"},
             Case{"a client without CRC", "603#C206360014000000", "603#C500000000000000",
                  "583#A100000000000000"},
             Case{"no size announced", "603#C406360000000000", "603#C5D3EA0000000000",
                  "583#A100000000000000"},
             Case{"fewer bytes than announced", "603#C606360015000000", "603#C5D3EA0000000000",
                  "583#8006360013000706"},
             Case{"more bytes than announced", "603#C606360013000000", "603#C5D3EA0000000000",
                  "583#8006360012000706"},
         }) {
        SCOPED_TRACE(c.what);
        od.set(0x3606, 0, {{}, TestDictionary::Access::ReadWrite, {}});
        std::vector<Step> steps = TwentyBytesBeforeTheEnd;
        steps.front().request = c.initiate;
        steps.push_back({c.end, c.reply});
        run(steps);
        const bool written = std::string(c.reply) == "583#A100000000000000";
        EXPECT_EQ(od.value(0x3606, 0), written ? counting(20) : std::vector<std::uint8_t>{});
        EXPECT_FALSE(server.Busy());
    }
}

TEST_F(SdoBlockServerTest, DownloadTakesTheResendAfterALostSegment) {
    server.SetBlockSize(4);
    run({
        {"603#C60636001E000000", "583#A406360004000000"},
        {"603#0101020304050607", ""},
        {"603#0208090A0B0C0D0E", ""},                     // the third is lost
        {"603#04161718191A1B1C", "583#A202040000000000"}, // two taken
        {"603#010F101112131415", ""},
        {"603#02161718191A1B1C", ""},
        {"603#831D1E0000000000", "583#A203040000000000"},
        {"603#D521010000000000", "583#A100000000000000"},
    });
    EXPECT_EQ(od.value(0x3606, 0), counting(30));
}

TEST_F(SdoBlockServerTest, UploadOfTwoSubBlocks) {
    od.set(0x3606, 0, {counting(30), TestDictionary::Access::ReadWrite, {}});
    run({
        {"603#A406360004000000", "583#C60636001E000000"}, // CRC, 4 segments a sub-block
        {"603#A300000000000000", "583#0101020304050607 583#0208090A0B0C0D0E "
                                 "583#030F101112131415 583#04161718191A1B1C"},
        {"603#A204040000000000", "583#811D1E0000000000"},
        {"603#A201040000000000", "583#D521010000000000"}, // five bytes unused, CRC 0x0121
    });
    EXPECT_TRUE(server.Busy());
    run({{"603#A100000000000000", ""}});
    EXPECT_FALSE(server.Busy());

    // The third segment lost, and the client's next sub-blocks of 2.
    run({
        {"603#A006360004000000", "583#C60636001E000000"}, // a client without CRC
        {"603#A300000000000000", "583#0101020304050607 583#0208090A0B0C0D0E "
                                 "583#030F101112131415 583#04161718191A1B1C"},
        {"603#A202020000000000", "583#010F101112131415 583#02161718191A1B1C"},
        {"603#A202020000000000", "583#811D1E0000000000"},
        {"603#A201020000000000", "583#D500000000000000"},
        {"603#A100000000000000", ""},
    });
}

TEST_F(SdoBlockServerTest, Aborts) {
    struct Case {
        const char* what;
        std::vector<Step> steps;
    };
    const std::vector<Case> cases = {
        {"block size 0", {{"603#A406360000000000", "583#8006360002000405"}}},
        {"block size 128", {{"603#A406360080000000", "583#8006360002000405"}}},
        {"sequence number 0",
         {{"603#C606360014000000", "583#A40636007F000000"},
          {"603#0001020304050607", "583#8006360003000405"}}},
        {"an acknowledgement of more segments than sent",
         {{"603#A408100004000000", "583#C60810000A000000"},
          {"603#A300000000000000", "583#015A414E4452454C 583#822D4E3300000000"},
          {"603#A203040000000000", "583#8008100003000405"}}},
        {"an acknowledgement before the go-ahead",
         {{"603#A408100004000000", "583#C60810000A000000"},
          {"603#A202040000000000", "583#8008100001000405"}}},
        {"an end without a download", {{"603#C500000000000000", "583#8000000001000405"}}},
        {"a read-only entry", {{"603#C600100004000000", "583#8000100002000106"}}},
        {"a write-only entry", {{"603#A400360004000000", "583#8000360001000106"}}},
        {"more than the server takes", {{"603#C606360001001000", "583#8006360005000405"}}},
        {"a typed entry's length", {{"603#C60F360014000000", "583#800F360010000706"}}},
        {"the dictionary's refusal at the end",
         {{"603#C610360001000000", "583#A41036007F000000"},
          {"603#8105000000000000", "583#A2017F0000000000"},
          {"603#D9A5500000000000", "583#8010360022000008"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        run(c.steps);
        EXPECT_FALSE(server.Busy());
    }
    EXPECT_EQ(od.writes(), 0);
}

TEST_F(SdoBlockServerTest, WithoutBlockTransfersTheInitiatesAreRefused) {
    server.SetBlockTransfer(false);
    run({
        {"603#C606360014000000", "583#8006360001000405"},
        {"603#A408100004000000", "583#8008100001000405"},
    });
    server.SetBlockTransfer(true);
    run({{"603#A408100004000000", "583#C60810000A000000"}});
}

TEST_F(SdoBlockServerTest, DoubledFramesAreTakenOnce) {
    run({
        {"603#C606360014000000", "583#A40636007F000000"},
        {"603#C606360014000000", ""}, // the initiate again: no segment (0xC6), no restart
        {"603#0101020304050607", ""},
        {"603#0101020304050607", ""}, // its bytes are kept once
        {"603#0208090A0B0C0D0E", ""},
        {"603#830F101112131400", "583#A2037F0000000000"},
        {"603#830F101112131400", ""}, // the last segment again: no abort (0x83), no ack
        {"603#C606360014000000", ""},
        {"603#C5D3EA0000000000", "583#A100000000000000"},
    });
    EXPECT_EQ(od.value(0x3606, 0), counting(20));

    run({
        {"603#A408100004000000", "583#C60810000A000000"},
        {"603#A300000000000000", "583#015A414E4452454C 583#822D4E3300000000"},
        {"603#A300000000000000", ""}, // the go-ahead again
        {"603#A202040000000000", "583#D17DB60000000000"},
        {"603#A202040000000000", ""}, // the acknowledgement again
        {"603#A100000000000000", ""},
    });
    EXPECT_FALSE(server.Busy());
}

TEST_F(SdoBlockServerTest, AQuietClientTimesOut) {
    Output out = server.OnFrame(*ParseCandump("603#C606360014000000"), t0);
    EXPECT_EQ(out.deadline, t0 + 1000ms);
    out = server.OnFrame(*ParseCandump("603#0101020304050607"), t0 + 600ms); // puts it off
    EXPECT_EQ(out.deadline, t0 + 1600ms);
    EXPECT_TRUE(server.OnTime(t0 + 1599ms).frames.empty());
    EXPECT_EQ(text(server.OnTime(t0 + 1600ms)), "583#8006360000000405");
    EXPECT_FALSE(server.Busy());

    server.OnFrame(*ParseCandump("603#A408100004000000"), t0);
    out = server.OnFrame(*ParseCandump("603#A300000000000000"), t0 + 200ms);
    EXPECT_EQ(out.deadline, t0 + 1200ms);
    EXPECT_EQ(text(server.OnTime(t0 + 1200ms)), "583#8008100000000405");

    // The sub-block's acknowledgement is awaited from when its last segment has gone out: at
    // 10 kbit/s, 127 segments take 1.5 s on the wire.
    server.OnFrame(*ParseCandump("603#A408100004000000"), t0);
    server.OnFrame(*ParseCandump("603#A300000000000000"), t0 + 200ms);
    EXPECT_EQ(server.FramesSent(t0 + 1700ms).deadline, t0 + 2700ms);
    EXPECT_EQ(server.FramesSent(t0 + 300ms).deadline, t0 + 2700ms); // never sooner
    EXPECT_TRUE(server.OnTime(t0 + 2699ms).frames.empty());
    EXPECT_EQ(text(server.OnFrame(*ParseCandump("603#A202040000000000"), t0 + 2600ms)),
              "583#D17DB60000000000");
    EXPECT_EQ(server.FramesSent(t0 + 2610ms).deadline, t0 + 3610ms);
    EXPECT_EQ(text(server.OnTime(t0 + 3610ms)), "583#8008100000000405");
    EXPECT_EQ(server.FramesSent(t0 + 4000ms).deadline, NoDeadline); // nothing runs
}

TEST_F(SdoBlockServerTest, NewRequestsAndAborts) {
    run({
        // An upload ends a block upload waiting for its acknowledgement.
        {"603#A408100004000000", "583#C60810000A000000"},
        {"603#A300000000000000", "583#015A414E4452454C 583#822D4E3300000000"},
        {"603#4000100000000000", "583#4300100092010200"},
        {"603#A202040000000000", "583#8000000001000405"}, // that transfer is over
        // The client's abort ends a block download among its segments.
        {"603#C606360014000000", "583#A40636007F000000"},
        {"603#0101020304050607", ""},
        {"603#8006360000000008", ""},
        {"603#0208090A0B0C0D0E", "583#8000000001000405"},
    });
    EXPECT_EQ(od.writes(), 0);
}

} // namespace
