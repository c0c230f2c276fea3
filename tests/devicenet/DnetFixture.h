#pragma once

#include "Class_fw_dnld_dnet.h"
#include "FakeDnetDriver.h"
#include "FakeDriverDownloaderFixture.h"

// A DeviceNet downloader over the fake driver library, its interface open with the fake's
// handle 256 and its Node set to 3. Pauses are recorded, not spent.
class DnetDownloaderFixture : public FakeDriverDownloaderFixture<TDNet_Downloader, FakeDnetDriver,
                                                                 &TDNet_Downloader::dnetInterface> {
protected:
    void SetUp() override { Use(FAKE_DNET_DIR); }
};
