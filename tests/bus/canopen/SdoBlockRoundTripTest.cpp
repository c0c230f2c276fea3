#include "TestDictionary.h"
#include "canopen/SdoClient.h"
#include "canopen/SdoServer.h"

#include <deque>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using namespace bus::canopen;
using namespace std::chrono_literals;
using bus::CanFrame;

// A client and a server handing each other their frames directly, until both are quiet.
class SdoBlockRoundTrip : public testing::Test {
protected:
    SdoResult transfer(const std::optional<Output>& start) {
        EXPECT_TRUE(start);
        if (!start)
            return {};
        std::deque<CanFrame> toServer(start->frames.begin(), start->frames.end());
        std::deque<CanFrame> toClient;
        while (!toServer.empty() || !toClient.empty()) {
            for (; !toServer.empty(); toServer.pop_front())
                for (const CanFrame& f : server.OnFrame(toServer.front(), t0).frames)
                    toClient.push_back(f);
            for (; !toClient.empty(); toClient.pop_front())
                for (const CanFrame& f : client.OnFrame(toClient.front(), t0).frames)
                    toServer.push_back(f);
        }
        EXPECT_FALSE(client.Busy());
        EXPECT_FALSE(server.Busy());
        return client.Result();
    }

    static std::vector<std::uint8_t> value(std::size_t n) {
        std::vector<std::uint8_t> v(n);
        for (std::size_t i = 0; i < n; ++i)
            v[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
        return v;
    }

    const TimePoint t0 = TimePoint{} + 1h;
    TestDictionary od;
    SdoServer server{3, od};
    SdoClient client{3};
};

TEST_F(SdoBlockRoundTrip, SizesAndBlockSizes) {
    for (const std::size_t size : {0u, 1u, 6u, 7u, 8u, 889u, 127u * 7, 127u * 7 + 1, 4096u}) {
        for (const std::uint8_t blockSize : {1, 4, 127}) {
            for (const bool served : {true, false}) {
                SCOPED_TRACE(testing::Message() << size << " bytes, block size " << +blockSize
                                                << (served ? "" : ", not served"));
                server.SetBlockSize(blockSize);
                server.SetBlockTransfer(served);
                const std::vector<std::uint8_t> data = value(size);

                SdoResult r = transfer(client.StartBlockDownload(0x3606, 0, data, t0));
                EXPECT_EQ(r.status, SdoStatus::Done);
                EXPECT_EQ(r.blockTransfer, served);
                EXPECT_EQ(r.size, size);
                EXPECT_EQ(od.value(0x3606, 0), data);

                r = transfer(client.StartBlockUpload(0x3606, 0, 8192, blockSize, t0));
                EXPECT_EQ(r.status, SdoStatus::Done);
                EXPECT_EQ(r.blockTransfer, served);
                EXPECT_EQ(r.size, size);
                EXPECT_EQ(r.data, data);
                od.set(0x3606, 0, {{}, TestDictionary::Access::ReadWrite, {}});
            }
        }
    }
}

} // namespace
