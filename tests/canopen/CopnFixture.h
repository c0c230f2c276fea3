#pragma once

#include "Class_copn.h"
#include "FakeCopnDriver.h"
#include "RecordingSleep.h"

#include <gtest/gtest.h>
#include <memory>

// A CANopen downloader over the fake driver library, its interface open with the fake's
// handle 256 and its Node set to 3. Pauses are recorded, not spent.
class CopnDownloaderFixture : public testing::Test {
protected:
    static constexpr std::uint32_t Handle = 256; // what the fake's OpenInterface gives
    static constexpr std::uint8_t TheNode = 3;

    void SetUp() override { Use(FAKE_COPN_DIR); }

    void Use(const char* folder) {
        downloader.reset();
        fake.Detach();
        DriverFolder use(folder);
        downloader = std::make_unique<TCOPN_Downloader>();
        fake.Attach();
        downloader->copnInterface->driverHandle = Handle;
        downloader->Node = TheNode;
    }

    TQVX_COPN_Interface& binding() { return *downloader->copnInterface; }

    RecordingSleep sleeps;
    FakeCopnDriver fake;
    std::unique_ptr<TCOPN_Downloader> downloader;
};
