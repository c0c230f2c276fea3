#pragma once

#include "Class_copn.h"
#include "FakeCopnDriver.h"
#include "FakeDriverDownloaderFixture.h"

// A CANopen downloader over the fake driver library, its interface open with the fake's
// handle 256 and its Node set to 3. Pauses are recorded, not spent.
class CopnDownloaderFixture : public FakeDriverDownloaderFixture<TCOPN_Downloader, FakeCopnDriver,
                                                                 &TCOPN_Downloader::copnInterface> {
protected:
    void SetUp() override { Use(FAKE_COPN_DIR); }
};
