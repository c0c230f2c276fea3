#include "canopen/SdoServer.h"

#include "BusPrinters.h"
#include "TestDictionary.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using namespace bus::canopen;
using namespace std::chrono_literals;
using bus::ParseCandump;
using bus::ToCandump;

// One request and the reply it must bring ("" for none). Frames written out by hand from
// the SDO protocol's layouts.
struct Step {
    const char* request;
    const char* reply;
};

class SdoServerTest : public testing::Test {
protected:
    void run(const std::vector<Step>& steps) {
        for (const Step& step : steps) {
            const auto request = ParseCandump(step.request);
            ASSERT_TRUE(request) << step.request;
            const Output out = server.OnFrame(*request, t0);
            std::string reply;
            for (const auto& frame : out.frames)
                reply += (reply.empty() ? "" : " ") + ToCandump(frame);
            EXPECT_EQ(reply, step.reply) << "after " << step.request;
        }
    }

    const TimePoint t0 = TimePoint{} + 1h;
    TestDictionary od;
    SdoServer server{3, od};
};

TEST_F(SdoServerTest, ExpeditedTransfers) {
    run({
        {"603#230F36002B1A0000", "583#600F360000000000"}, // 0x00001A2B to 0x360F:00
        {"603#4000100000000000", "583#4300100092010200"}, // 0x1000:00 = 0x00020192
        {"603#4001100000000000", "583#4F01100000000000"}, // one byte
        {"603#4018100000000000", "583#4F18100004000000"},
        {"603#2F0B360005000000", "583#600B360000000000"}, // one byte written
        {"603#220B360007000000", "583#800B360010000706"}, // size not given: four bytes
        {"603#400B360000000000", "583#4F0B360005000000"},
    });
    EXPECT_EQ(od.value(0x360F, 0), (std::vector<std::uint8_t>{0x2B, 0x1A, 0x00, 0x00}));
}

// Some nodes leave the size out of their expedited answers: command 0x42 (e=1, s=0), the value
// in the low bytes and the rest 0, whatever the entry's length. Longer values still go up
// segmented, with their size.
TEST_F(SdoServerTest, ExpeditedUploadsWithoutTheSize) {
    server.SetSizeIndicated(false);
    od.set(0x3604, 0, {{0x34, 0x12}, TestDictionary::Access::ReadOnly, 2});
    run({
        {"603#4000100000000000", "583#4200100092010200"}, // four bytes
        {"603#4004360000000000", "583#4204360034120000"}, // two
        {"603#4001100000000000", "583#4201100000000000"}, // one
        {"603#4018100100000000", "583#421810012A000000"},
        {"603#4008100000000000", "583#410810000A000000"}, // ten: segmented, size given
        {"603#6000000000000000", "583#005A414E4452454C"},
        {"603#7000000000000000", "583#192D4E3300000000"},
        {"603#230F36002B1A0000", "583#600F360000000000"}, // downloads are as before
    });
}

TEST_F(SdoServerTest, SegmentedUploadTogglesAndEndsWithTheLastBytes) {
    run({
        {"603#4008100000000000", "583#410810000A000000"}, // ten bytes follow
        {"603#6000000000000000", "583#005A414E4452454C"}, // "ZANDREL", toggle 0
        {"603#7000000000000000", "583#192D4E3300000000"}, // "-N3", toggle 1, 4 unused, last
        {"603#4005360000000000", "583#4105360000000000"}, // an empty value
        {"603#6000000000000000", "583#0F00000000000000"}, // no bytes, last
    });
}

TEST_F(SdoServerTest, SegmentedDownloadWritesTheEntryAtTheEnd) {
    run({
        {"603#210036000A000000", "583#6000360000000000"},
        {"603#0002024523012001", "583#2000000000000000"},
    });
    EXPECT_EQ(od.writes(), 0);
    run({{"603#19AABBCC00000000", "583#3000000000000000"}});
    EXPECT_EQ(od.value(0x3600, 0), (std::vector<std::uint8_t>{0x02, 0x02, 0x45, 0x23, 0x01, 0x20,
                                                              0x01, 0xAA, 0xBB, 0xCC}));
}

TEST_F(SdoServerTest, AbortsWithTheDictionarysCodes) {
    run({
        {"603#4000200000000000", "583#8000200000000206"}, // object does not exist
        {"603#4018100700000000", "583#8018100711000906"}, // sub-index does not exist
        {"603#2300100001000000", "583#8000100002000106"}, // read-only
        {"603#400F360000000000", "583#800F360001000106"}, // write-only
        {"603#2B0F360034120000", "583#800F360010000706"}, // two bytes for four
        {"603#2F10360001000000", "583#8010360022000008"}, // not in the present state
        {"603#2100100004000000", "583#8000100002000106"}, // refused before the segments
        {"603#210F360008000000", "583#800F360010000706"},
    });
    EXPECT_EQ(od.writes(), 0);
}

TEST_F(SdoServerTest, AbortsProtocolErrors) {
    server.SetBlockTransfer(false); // a server without block transfers
    run({
        {"603#A000100000000000", "583#8000100001000405"}, // block upload: not served
        {"603#C000360000000000", "583#8000360001000405"}, // block download
        {"603#6000000000000000", "583#8000000001000405"}, // segment without a transfer
        {"603#0001020304050607", "583#8000000001000405"},
        {"603#2100360001001000", "583#8000360005000405"}, // more than the server takes
    });
}

TEST_F(SdoServerTest, WrongToggleAbortsAndEndsTheTransfer) {
    run({
        {"603#210036000A000000", "583#6000360000000000"},
        {"603#1002024523012001", "583#8000360000000305"},
        {"603#0002024523012001", "583#8000000001000405"}, // the transfer is over
        {"603#4008100000000000", "583#410810000A000000"},
        {"603#7000000000000000", "583#8008100000000305"},
    });
    EXPECT_EQ(od.writes(), 0);
}

// CAN's double reception: a segment, or an upload's segment request, that arrives twice in a
// row is the same frame again, not a segment with a wrong toggle bit.
TEST_F(SdoServerTest, ASegmentReceivedTwiceIsTakenOnce) {
    run({
        {"603#210036000A000000", "583#6000360000000000"},
        {"603#0002024523012001", "583#2000000000000000"},
        {"603#0002024523012001", ""},
        {"603#19AABBCC00000000", "583#3000000000000000"},
        {"603#4008100000000000", "583#410810000A000000"},
        {"603#6000000000000000", "583#005A414E4452454C"},
        {"603#6000000000000000", ""},
        {"603#7000000000000000", "583#192D4E3300000000"},
    });
    EXPECT_EQ(od.value(0x3600, 0), (std::vector<std::uint8_t>{0x02, 0x02, 0x45, 0x23, 0x01, 0x20,
                                                              0x01, 0xAA, 0xBB, 0xCC}));
}

TEST_F(SdoServerTest, SegmentedLengthMustMatchTheAnnouncedSize) {
    run({
        {"603#210036000A000000", "583#6000360000000000"},
        {"603#0001020304050607", "583#2000000000000000"},
        {"603#1001020304050607", "583#8000360012000706"}, // 14 of 10: too high
        {"603#210036000A000000", "583#6000360000000000"},
        {"603#0101020304050607", "583#8000360013000706"}, // ends after 7 of 10: too low
    });
    EXPECT_EQ(od.writes(), 0);
}

TEST_F(SdoServerTest, NewInitiateRestartsCleanly) {
    run({
        {"603#4008100000000000", "583#410810000A000000"},
        {"603#6000000000000000", "583#005A414E4452454C"},
        {"603#4008100000000000", "583#410810000A000000"}, // again from the start
        {"603#6000000000000000", "583#005A414E4452454C"}, // toggle 0 again
        {"603#7000000000000000", "583#192D4E3300000000"},
        // A download cut short by an upload: its bytes are never written.
        {"603#210036000A000000", "583#6000360000000000"},
        {"603#0002024523012001", "583#2000000000000000"},
        {"603#4000100000000000", "583#4300100092010200"},
        {"603#19AABBCC00000000", "583#8000000001000405"},
    });
    EXPECT_EQ(od.writes(), 0);
}

TEST_F(SdoServerTest, ClientAbortEndsTheTransferSilently) {
    run({
        {"603#4008100000000000", "583#410810000A000000"},
        {"603#8008100000000405", ""},
        {"603#6000000000000000", "583#8000000001000405"},
    });
    EXPECT_FALSE(server.Busy());
}

TEST_F(SdoServerTest, IgnoresFramesThatAreNotItsRequests) {
    run({
        {"604#4000100000000000", ""}, // another node's
        {"583#4000100000000000", ""},
        {"603#40001000", ""}, // SDO frames are eight bytes long
        {"603#R8", ""},
    });
}

TEST_F(SdoServerTest, SegmentedTransferTimesOut) {
    Output out = server.OnFrame(*ParseCandump("603#4008100000000000"), t0);
    EXPECT_EQ(out.deadline, t0 + 1000ms);
    out = server.OnFrame(*ParseCandump("603#6000000000000000"), t0 + 600ms);
    EXPECT_EQ(out.deadline, t0 + 1600ms);
    EXPECT_TRUE(server.OnTime(t0 + 1599ms).frames.empty());
    out = server.OnTime(t0 + 1600ms);
    ASSERT_EQ(out.frames.size(), 1u);
    EXPECT_EQ(ToCandump(out.frames[0]), "583#8008100000000405");
    EXPECT_EQ(out.deadline, NoDeadline);
    EXPECT_FALSE(server.Busy());
    // Expedited transfers leave nothing to wait for.
    EXPECT_EQ(server.OnFrame(*ParseCandump("603#4000100000000000"), t0).deadline, NoDeadline);
}

TEST_F(SdoServerTest, LongValuesGoUpAndDownWhole) {
    std::vector<std::uint8_t> text;
    for (int i = 0; i < 300; ++i)
        text.push_back(static_cast<std::uint8_t>('a' + i % 26));
    od.set(0x3606, 0, {text, TestDictionary::Access::ReadWrite, {}});
    Output out = server.OnFrame(*ParseCandump("603#4006360000000000"), t0);
    ASSERT_EQ(ToCandump(out.frames.at(0)), "583#410636002C010000"); // 300 bytes
    std::vector<std::uint8_t> got;
    bool toggle = false;
    for (bool last = false; !last; toggle = !toggle) {
        bus::CanFrame request = *ParseCandump("603#6000000000000000");
        request.data[0] |= toggle ? 0x10 : 0;
        out = server.OnFrame(request, t0);
        ASSERT_EQ(out.frames.size(), 1u);
        const auto& segment = out.frames[0];
        ASSERT_EQ(segment.data[0] & 0xE0, 0);
        ASSERT_EQ((segment.data[0] & 0x10) != 0, toggle);
        const int n = 7 - ((segment.data[0] >> 1) & 7);
        got.insert(got.end(), segment.data.begin() + 1, segment.data.begin() + 1 + n);
        last = segment.data[0] & 1;
    }
    EXPECT_EQ(got, text);
}

} // namespace
