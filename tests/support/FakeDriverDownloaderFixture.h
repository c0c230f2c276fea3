#pragma once

#include "FakeDriverControls.h"
#include "RecordingSleep.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <memory>

// A bus's downloader over its fake driver library (Fake, reached through the downloader's
// binding at Interface), the binding open with the fake's handle 256 and the downloader's
// Node set to 3. Pauses are recorded, not spent. A bus's fixture chooses the fake's folder in
// its SetUp.
template <typename Downloader, typename Fake, auto Interface>
class FakeDriverDownloaderFixture : public testing::Test {
protected:
    static constexpr std::uint32_t Handle = 256; // what the fake's OpenInterface gives
    static constexpr std::uint8_t TheNode = 3;

    void Use(const char* folder) {
        LoadOverFake(downloader, fake, folder);
        binding().driverHandle = Handle;
        downloader->Node = TheNode;
    }

    auto& binding() { return *((*downloader).*Interface); }

    // One poll of the nodes online; whether the list changed.
    std::uint32_t poll() {
        std::uint32_t changed = 77;
        EXPECT_EQ(downloader->UpdateNodesOnline(&changed), 1);
        return changed;
    }

    RecordingSleep sleeps;
    Fake fake;
    std::unique_ptr<Downloader> downloader;
};
