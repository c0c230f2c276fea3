#pragma once

#include "Class_fw_dnld_dnet.h"
#include "FakeDnetDriver.h"
#include "RecordingSleep.h"

#include <gtest/gtest.h>
#include <memory>

// A DeviceNet downloader over the fake driver library, its interface open with the fake's
// handle 256 and its Node set to 3. Pauses are recorded, not spent.
class DnetDownloaderFixture : public testing::Test {
protected:
    static constexpr std::uint32_t Handle = 256; // what the fake's OpenInterface gives
    static constexpr std::uint8_t TheNode = 3;

    void SetUp() override { Use(FAKE_DNET_DIR); }

    void Use(const char* folder) {
        downloader.reset();
        fake.Detach();
        DriverFolder use(folder);
        downloader = std::make_unique<TDNet_Downloader>();
        fake.Attach();
        downloader->dnetInterface->driverHandle = Handle;
        downloader->Node = TheNode;
    }

    TQVX_DNET_Interface& binding() { return *downloader->dnetInterface; }

    RecordingSleep sleeps;
    FakeDnetDriver fake;
    std::unique_ptr<TDNet_Downloader> downloader;
};
