#include "devicenet/DeviceNet.h"

#include "BusPrinters.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

using namespace bus::devicenet;

using Bytes = std::vector<std::uint8_t>;

TEST(DeviceNetIdentifiers, Group2IdentifiersOfThePredefinedSet) {
    // 10 | MAC ID (6 bits) | message ID (3 bits), worked out by hand.
    struct Case {
        std::uint8_t mac;
        Group2Message message;
        std::uint16_t id;
    };
    for (const Case& c : {
             Case{5, Group2Message::SlaveResponse, 0x42B},      // 10 000101 011
             Case{5, Group2Message::ExplicitRequest, 0x42C},    // 10 000101 100
             Case{5, Group2Message::IoPoll, 0x42D},             // 10 000101 101
             Case{5, Group2Message::UnconnectedRequest, 0x42E}, // 10 000101 110
             Case{10, Group2Message::DuplicateMacCheck, 0x457}, // 10 001010 111
             Case{0, Group2Message::BitStrobe, 0x400},
             Case{63, Group2Message::DuplicateMacCheck, 0x5FF},
         }) {
        SCOPED_TRACE(c.id);
        EXPECT_EQ(Group2Id(c.mac, c.message), c.id);
        const auto parsed = ParseGroup2Id(c.id);
        ASSERT_TRUE(parsed);
        EXPECT_EQ(parsed->mac, c.mac);
        EXPECT_EQ(parsed->message, c.message);
    }
    for (std::uint16_t outside : {0x000, 0x3FF, 0x600, 0x7FF}) // groups 1, 3 and 4
        EXPECT_FALSE(ParseGroup2Id(outside)) << outside;
}

TEST(DeviceNetBodies, HeaderByte) {
    EXPECT_EQ((MessageHeader{false, false, 10}.Byte()), 0x0A);
    EXPECT_EQ((MessageHeader{true, true, 63}.Byte()), 0xFF);
    const MessageHeader h = MessageHeader::Parse(0xCA);
    EXPECT_TRUE(h.fragmented);
    EXPECT_TRUE(h.xid);
    EXPECT_EQ(h.mac, 10);
}

TEST(DeviceNetBodies, RequestBodyInEachFormat) {
    // Get_Attribute_Single of class 0xC7, instance 0x0102, attribute 3: class and instance low
    // byte first, as wide as the format says.
    struct Case {
        BodyFormat format;
        Bytes body;
    };
    const ExplicitRequest request{0x0E, 0xC7, 0x0102, {0x03}};
    for (const Case& c :
         {Case{BodyFormat::Class8Instance16, {0x0E, 0xC7, 0x02, 0x01, 0x03}},
          Case{BodyFormat::Class16Instance16, {0x0E, 0xC7, 0x00, 0x02, 0x01, 0x03}}}) {
        SCOPED_TRACE(static_cast<int>(c.format));
        EXPECT_EQ(EncodeRequestBody(request, c.format), c.body);
        const auto back = DecodeRequestBody(c.body.data(), c.body.size(), c.format);
        ASSERT_TRUE(back);
        EXPECT_EQ(back->classId, 0xC7);
        EXPECT_EQ(back->instance, 0x0102);
        EXPECT_EQ(back->data, Bytes{0x03});
    }
    // An instance too wide for 8/8 and 16/8 cannot be sent.
    EXPECT_FALSE(EncodeRequestBody(request, BodyFormat::Class8Instance8));
    EXPECT_FALSE(EncodeRequestBody(request, BodyFormat::Class16Instance8));
    EXPECT_EQ(EncodeRequestBody({0x10, 0xC7, 0x01, {0x07, 0x02}}),
              (Bytes{0x10, 0xC7, 0x01, 0x07, 0x02}));

    const Bytes tooShort{0x0E, 0x01};
    EXPECT_FALSE(DecodeRequestBody(tooShort.data(), tooShort.size()));
    const Bytes response{0x8E, 0x01, 0x01};
    EXPECT_FALSE(DecodeRequestBody(response.data(), response.size()));
}

TEST(DeviceNetBodies, ResponseAndErrorBodies) {
    EXPECT_EQ(EncodeResponseBody(0x0E, {0xD9, 0x02}), (Bytes{0x8E, 0xD9, 0x02}));
    EXPECT_EQ(EncodeErrorBody(GeneralStatus::AttributeNotSupported), (Bytes{0x94, 0x14, 0xFF}));
    EXPECT_EQ(EncodeErrorBody(GeneralStatus::ObjectStateConflict, OwnedByAnotherMaster),
              (Bytes{0x94, 0x0C, 0x01}));
    EXPECT_STREQ(GeneralStatusText(0x16), "object does not exist");
    EXPECT_STREQ(GeneralStatusText(0x0E), "attribute not settable");
    EXPECT_STREQ(GeneralStatusText(0x7E), "unknown general status");

    // The frame: header with Frag clear, then the body.
    EXPECT_EQ(bus::ToCandump(ExplicitFrame(0x42B, {true, true, 10}, {0x8E, 0xD9, 0x02})),
              "42B#4A8ED902");
}

} // namespace
