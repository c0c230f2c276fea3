#include "Sleep.h"

#include "RecordingSleep.h"

#include <gtest/gtest.h>
#include <thread>

TEST(Sleep, ReplacedHandlerRecordsPausesFromEveryThread) {
    std::vector<DWORD> pauses;
    {
        RecordingSleep recording;
        Sleep(2500);
        std::thread([] { Sleep(2000); }).join();
        pauses = recording.Pauses();
    }
    EXPECT_EQ(pauses, (std::vector<DWORD>{2500, 2000}));
}
