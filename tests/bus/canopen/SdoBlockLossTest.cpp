// The receiving side of a block transfer when a segment of a sub-block is lost or comes twice,
// for values whose segments repeat one another (0xFF gaps, zero runs) as much as for varied
// ones: the server of a block download and the client of a block upload, each fed by a
// sender written out here, answer with the same acknowledgements whatever the bytes.

#include "BusPrinters.h"
#include "TestDictionary.h"
#include "canopen/Crc16.h"
#include "canopen/SdoBlockFrames.h"
#include "canopen/SdoClient.h"
#include "canopen/SdoServer.h"

#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace bus::canopen;
using namespace std::chrono_literals;
using bus::CanFrame;

enum class Data { Varied, Ones, Zeros };
enum class Fault {
    None,
    LoseFirst,  // segment 1 of the second sub-block
    LoseMiddle, // a segment in the middle of it
    LoseLast,   // the segment that ends it
    RepeatLast, // the segment that ends it, twice
};

const char* name(Data data) {
    switch (data) {
    case Data::Varied:
        return "varied";
    case Data::Ones:
        return "0xFF";
    case Data::Zeros:
        return "0x00";
    }
    return "";
}

const char* name(Fault fault) {
    switch (fault) {
    case Fault::None:
        return "nothing lost";
    case Fault::LoseFirst:
        return "segment 1 lost";
    case Fault::LoseMiddle:
        return "a middle segment lost";
    case Fault::LoseLast:
        return "the sub-block's last segment lost";
    case Fault::RepeatLast:
        return "the sub-block's last segment twice";
    }
    return "";
}

// Three sub-blocks' worth of segments, the last segment carrying five bytes.
std::vector<std::uint8_t> valueOf(Data data, std::uint8_t blockSize) {
    std::vector<std::uint8_t> value(std::size_t{3} * blockSize * 7 - 2);
    for (std::size_t i = 0; i < value.size(); ++i)
        value[i] = data == Data::Varied ? static_cast<std::uint8_t>(i * 13 + 5)
                   : data == Data::Ones ? 0xFF
                                        : 0x00;
    return value;
}

// The segment a sub-block's middle loses (the first of two).
std::uint8_t middleOf(std::uint8_t blockSize) {
    return static_cast<std::uint8_t>((blockSize + 1) / 2);
}

// The acknowledged sequence numbers a receiver must send, sub-block by sub-block; for a lost
// last segment, the ones before its time-out.
std::vector<int> expectedAcks(Fault fault, std::uint8_t b) {
    const int m = middleOf(b);
    switch (fault) {
    case Fault::None:
    case Fault::RepeatLast:
        return {b, b, b};
    case Fault::LoseFirst:
        return {b, 0, b, b};
    case Fault::LoseMiddle:
        return {b, m - 1, b, b - m + 1};
    case Fault::LoseLast:
        return {b};
    }
    return {};
}

// The receiving side as the test drives it: its frames in, what it sends back out.
struct Receiver {
    std::function<Output(const CanFrame&)> onFrame;
    std::function<Output()> onTimeOut;
    std::uint16_t sendsOn; // the COB-ID of the frames to it
};

// Sends the value's segments in sub-blocks, going on after the segments acknowledged, meets
// the fault on the second sub-block, and ends the transfer. Returns the acknowledged
// sequence numbers, and what came instead of an acknowledgement ("" when all went well).
struct Sent {
    std::vector<int> acks;
    std::string end;
};

Sent sendValue(const Receiver& receiver, const std::vector<std::uint8_t>& value,
               std::uint8_t blockSize, Fault fault) {
    const std::size_t segments = (value.size() + 6) / 7;
    std::size_t acknowledged = 0;
    Sent sent;
    for (int subBlock = 1; acknowledged < segments; ++subBlock) {
        std::optional<CanFrame> ack;
        const std::size_t count = std::min<std::size_t>(blockSize, segments - acknowledged);
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t segment = acknowledged + i;
            CanFrame frame = CanFrame::Data(receiver.sendsOn, {0, 0, 0, 0, 0, 0, 0, 0});
            const std::uint8_t seqno = static_cast<std::uint8_t>(i + 1);
            frame.data[0] = static_cast<std::uint8_t>(seqno | (segment + 1 == segments ? 0x80 : 0));
            for (std::size_t k = 0; k < 7 && segment * 7 + k < value.size(); ++k)
                frame.data[1 + k] = value[segment * 7 + k];
            const bool faulty = subBlock == 2;
            if (faulty && ((fault == Fault::LoseFirst && seqno == 1) ||
                           (fault == Fault::LoseMiddle && seqno == middleOf(blockSize)) ||
                           (fault == Fault::LoseLast && seqno == blockSize)))
                continue;
            const int copies = faulty && fault == Fault::RepeatLast && seqno == blockSize ? 2 : 1;
            for (int copy = 0; copy < copies; ++copy) {
                const Output out = receiver.onFrame(frame);
                if (out.frames.empty())
                    continue;
                EXPECT_FALSE(ack) << "a second answer to one sub-block";
                EXPECT_EQ(i + 1, count) << "an answer before the sub-block's end";
                ack = out.frames.front();
            }
        }
        if (!ack) {
            const Output out = receiver.onTimeOut();
            sent.end = out.frames.empty() ? "nothing" : bus::ToCandump(out.frames.front());
            return sent;
        }
        if (!IsBlockAck(ack->data[0])) {
            sent.end = bus::ToCandump(*ack);
            return sent;
        }
        sent.acks.push_back(ack->data[1]);
        acknowledged += ack->data[1];
    }
    const Output end = receiver.onFrame(
        SdoBlockEnd(receiver.sendsOn, static_cast<std::uint8_t>(segments * 7 - value.size()),
                    Crc16Ccitt(value)));
    if (end.frames.size() != 1 || !IsBlockEndAnswer(end.frames.front().data[0]))
        sent.end = end.frames.empty() ? "no end answer" : bus::ToCandump(end.frames.front());
    return sent;
}

struct Case {
    std::uint8_t blockSize;
    Data data;
    Fault fault;
};

// Every fault at every block size and with all data but one: with sub-blocks of two
// segments, the sub-block's end again is the next sub-block's (its first segment lost) as
// far as the receiver can tell, and is answered so (SecondSegmentsOfTwoAreTakenWhateverTheyRepeat).
std::vector<Case> allCases() {
    std::vector<Case> cases;
    for (std::uint8_t blockSize : {2, 4, 127})
        for (Data data : {Data::Varied, Data::Ones, Data::Zeros})
            for (Fault fault : {Fault::None, Fault::LoseFirst, Fault::LoseMiddle, Fault::LoseLast,
                                Fault::RepeatLast})
                if (blockSize > 2 || fault != Fault::RepeatLast)
                    cases.push_back({blockSize, data, fault});
    return cases;
}

std::string trace(const Case& c) {
    return "block size " + std::to_string(c.blockSize) + ", " + name(c.data) + ", " + name(c.fault);
}

const TimePoint t0 = TimePoint{} + 1h;

TEST(SdoBlockLoss, TheServerOfABlockDownloadAcknowledgesWhatCameInOrder) {
    for (const Case& c : allCases()) {
        SCOPED_TRACE(trace(c));
        TestDictionary od;
        SdoServer server{3, od};
        server.SetBlockSize(c.blockSize);
        const std::vector<std::uint8_t> value = valueOf(c.data, c.blockSize);
        const Output answer =
            server.OnFrame(SdoBlockInitiateWithSize(0x603, 0x3606, 0, true,
                                                    static_cast<std::uint32_t>(value.size())),
                           t0);
        ASSERT_EQ(answer.frames.size(), 1u);
        ASSERT_TRUE(IsBlockInitiateWithBlockSize(answer.frames.front().data[0]));
        const Sent sent = sendValue({[&](const CanFrame& f) { return server.OnFrame(f, t0); },
                                     [&] { return server.OnTime(t0 + 1h); }, 0x603},
                                    value, c.blockSize, c.fault);
        EXPECT_EQ(sent.acks, expectedAcks(c.fault, c.blockSize));
        if (c.fault == Fault::LoseLast) {
            EXPECT_EQ(sent.end, "583#8006360000000405"); // its time-out, nothing else
            EXPECT_TRUE(od.value(0x3606, 0).empty());
        } else {
            EXPECT_EQ(sent.end, "");
            EXPECT_EQ(od.value(0x3606, 0), value);
        }
        EXPECT_FALSE(server.Busy());
    }
}

TEST(SdoBlockLoss, TheClientOfABlockUploadAcknowledgesWhatCameInOrder) {
    for (const Case& c : allCases()) {
        SCOPED_TRACE(trace(c));
        SdoClient client{3};
        const std::vector<std::uint8_t> value = valueOf(c.data, c.blockSize);
        ASSERT_TRUE(client.StartBlockUpload(0x3606, 0, value.size(), c.blockSize, t0));
        const Output start =
            client.OnFrame(SdoBlockInitiateWithSize(0x583, 0x3606, 0, true,
                                                    static_cast<std::uint32_t>(value.size())),
                           t0);
        ASSERT_EQ(start.frames.size(), 1u);
        ASSERT_TRUE(IsBlockUploadStart(start.frames.front().data[0]));
        const Sent sent = sendValue({[&](const CanFrame& f) { return client.OnFrame(f, t0); },
                                     [&] { return client.OnTime(t0 + 1h); }, 0x583},
                                    value, c.blockSize, c.fault);
        EXPECT_EQ(sent.acks, expectedAcks(c.fault, c.blockSize));
        if (c.fault == Fault::LoseLast) {
            EXPECT_EQ(sent.end, "603#8006360000000405");
            EXPECT_EQ(client.Result().status, SdoStatus::Failed);
        } else {
            EXPECT_EQ(sent.end, "");
            EXPECT_EQ(client.Result().status, SdoStatus::Done);
            EXPECT_EQ(client.Result().data, value);
        }
        EXPECT_FALSE(client.Busy());
    }
}

// Sub-blocks of one or two segments of the same bytes: each segment is taken, however much it
// looks like the one before it, for the sender can only go on after the acknowledgement.
TEST(SdoBlockLoss, SecondSegmentsOfTwoAreTakenWhateverTheyRepeat) {
    for (std::uint8_t blockSize : {1, 2}) {
        SCOPED_TRACE(int{blockSize});
        TestDictionary od;
        SdoServer server{3, od};
        server.SetBlockSize(blockSize);
        const std::vector<std::uint8_t> value(70, 0xFF);
        server.OnFrame(SdoBlockInitiateWithSize(0x603, 0x3606, 0, true, 70), t0);
        const Sent sent = sendValue({[&](const CanFrame& f) { return server.OnFrame(f, t0); },
                                     [&] { return server.OnTime(t0 + 1h); }, 0x603},
                                    value, blockSize, Fault::None);
        EXPECT_EQ(sent.acks, std::vector<int>(10 / blockSize, blockSize));
        EXPECT_EQ(sent.end, "");
        EXPECT_EQ(od.value(0x3606, 0), value);
    }
}

} // namespace
