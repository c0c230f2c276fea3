#include "LastError.h"

#include <gtest/gtest.h>
#include <thread>

TEST(LastError, EachThreadHasItsOwnValueStartingAtZero) {
    SetLastError(static_cast<DWORD>(-4));
    DWORD seenByOther = 1;
    std::thread other([&] {
        seenByOther = GetLastError();
        SetLastError(static_cast<DWORD>(-1));
    });
    other.join();
    EXPECT_EQ(seenByOther, 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(-4));
}
