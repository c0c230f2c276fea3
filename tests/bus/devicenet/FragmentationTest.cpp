#include "devicenet/Fragmentation.h"

#include "BusPrinters.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using namespace bus::devicenet;
using bus::ParseCandump;
using Outcome = FragmentReceiver::Outcome;
using Bytes = std::vector<std::uint8_t>;

Fragment fragment(const char* text) {
    const auto frame = ParseCandump(text);
    EXPECT_TRUE(frame) << text;
    const auto parsed = ParseFragment(*frame);
    EXPECT_TRUE(parsed) << text;
    return parsed.value_or(Fragment{});
}

TEST(Fragments, ParseAndBuild) {
    const Fragment middle = fragment("42C#8A41452301200001");
    EXPECT_EQ(middle.type, FragmentType::Middle);
    EXPECT_EQ(middle.count, 1);
    EXPECT_EQ(middle.header.mac, 10);
    EXPECT_EQ(middle.bytes, (Bytes{0x45, 0x23, 0x01, 0x20, 0x00, 0x01}));
    const Fragment ack = fragment("42B#CAC501");
    EXPECT_EQ(ack.type, FragmentType::Ack);
    EXPECT_EQ(ack.count, 5);
    EXPECT_TRUE(ack.header.xid);
    EXPECT_EQ(ack.ackStatus, AckStatus::TooMuchData);

    for (const char* notOne : {"42C#0A0E010101", "42C#8A", "42B#8AC0", "42C#R2"})
        EXPECT_FALSE(ParseFragment(*ParseCandump(notOne))) << notOne;

    const Bytes tail{0x1A, 0x1B};
    EXPECT_EQ(bus::ToCandump(FragmentFrame(0x42C, {false, false, 10}, FragmentType::Last, 70,
                                           tail.data(), tail.size())),
              "42C#8A861A1B"); // count modulo 64
    EXPECT_EQ(bus::ToCandump(AckFrame(0x42B, {false, true, 10}, 2)), "42B#CAC200");
}

TEST(Fragments, SenderWalksTheMessageOnAcknowledgements) {
    Bytes body(14);
    for (std::size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<std::uint8_t>(i);
    FragmentSender sender;
    sender.Start(body);
    const MessageHeader h{false, false, 10};
    EXPECT_EQ(bus::ToCandump(sender.Frame(0x42C, h)), "42C#8A00000102030405");
    EXPECT_EQ(sender.OnAck(fragment("42B#8AC100")), FragmentSender::AckResult::Ignored);
    EXPECT_EQ(sender.OnAck(fragment("42B#8A00000102030405")), FragmentSender::AckResult::Ignored);
    EXPECT_EQ(sender.OnAck(fragment("42B#8AC000")), FragmentSender::AckResult::Next);
    EXPECT_EQ(bus::ToCandump(sender.Frame(0x42C, h)), "42C#8A41060708090A0B");
    EXPECT_EQ(sender.OnAck(fragment("42B#8AC000")), FragmentSender::AckResult::Ignored); // again
    EXPECT_EQ(sender.OnAck(fragment("42B#8AC100")), FragmentSender::AckResult::Next);
    EXPECT_EQ(bus::ToCandump(sender.Frame(0x42C, h)), "42C#8A820C0D");
    EXPECT_EQ(sender.OnAck(fragment("42B#8AC200")), FragmentSender::AckResult::Done);
    EXPECT_FALSE(sender.Active());

    sender.Start(body);
    EXPECT_EQ(sender.OnAck(fragment("42B#8AC001")), FragmentSender::AckResult::Refused);
    EXPECT_EQ(sender.RefusalStatus(), AckStatus::TooMuchData);
    EXPECT_FALSE(sender.Active());
}

TEST(Fragments, ReceiverRules) {
    struct Case {
        const char* name;
        std::vector<std::pair<const char*, Outcome>> steps;
    };
    const std::vector<Case> cases = {
        {"in order",
         {{"42B#8A0001", Outcome::Taken},
          {"42B#8A4102", Outcome::Taken},
          {"42B#8A8203", Outcome::Complete}}},
        {"a repeat is acknowledged, not taken twice",
         {{"42B#8A0001", Outcome::Taken},
          {"42B#8A4102", Outcome::Taken},
          {"42B#8A4102", Outcome::Repeat},
          {"42B#8A8203", Outcome::Complete}}},
        {"a missing fragment ends the message",
         {{"42B#8A0001", Outcome::Taken},
          {"42B#8A8203", Outcome::Dropped},
          {"42B#8A4102", Outcome::Dropped}}},
        {"nothing begun", {{"42B#8A4102", Outcome::Dropped}, {"42B#8A8203", Outcome::Dropped}}},
        {"a first fragment starts afresh",
         {{"42B#8A0001", Outcome::Taken},
          {"42B#8A4102", Outcome::Taken},
          {"42B#8A0011", Outcome::Taken},
          {"42B#8A8112", Outcome::Complete}}},
        {"a first fragment must count 0", {{"42B#8A0101", Outcome::Dropped}}},
        {"too much data",
         {{"42B#8A00010203040506", Outcome::Taken},
          {"42B#8A410708090A0B0C", Outcome::TooMuchData},
          {"42B#8A820D", Outcome::Dropped}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FragmentReceiver receiver(8);
        for (const auto& [frame, outcome] : c.steps)
            EXPECT_EQ(receiver.Accept(fragment(frame)), outcome) << frame;
    }

    FragmentReceiver receiver(8);
    receiver.Accept(fragment("42B#8A0001"));
    receiver.Accept(fragment("42B#8A4102"));
    receiver.Accept(fragment("42B#8A4102"));
    ASSERT_EQ(receiver.Accept(fragment("42B#8A8203")), Outcome::Complete);
    EXPECT_EQ(receiver.TakeMessage(), (Bytes{1, 2, 3}));
}

TEST(Fragments, CountWrapsAfter63) {
    // 70 fragments: first (count 0), middles 1..63, 0..4, last 5.
    Bytes body(70 * FragmentPayload);
    for (std::size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<std::uint8_t>(i * 7);
    FragmentSender sender;
    FragmentReceiver receiver(body.size());
    sender.Start(body);
    int fragments = 0;
    while (sender.Active()) {
        const Fragment f = *ParseFragment(sender.Frame(0x42C, {false, false, 10}));
        EXPECT_EQ(f.count, fragments % 64);
        const Outcome outcome = receiver.Accept(f);
        ASSERT_EQ(outcome, fragments == 69 ? Outcome::Complete : Outcome::Taken) << fragments;
        sender.OnAck(*ParseFragment(AckFrame(0x42B, {false, false, 10}, f.count)));
        ++fragments;
    }
    EXPECT_EQ(fragments, 70);
    EXPECT_EQ(receiver.TakeMessage(), body);
}

} // namespace
