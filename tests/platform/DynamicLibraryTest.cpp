#include "DynamicLibrary.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

namespace {

class DriverPath {
public:
    explicit DriverPath(const char* dirs) { setenv(DriverPathVariable, dirs, 1); }
    ~DriverPath() { unsetenv(DriverPathVariable); }
};

TEST(DynamicLibrary, WindowsNameStandsForSharedObject) {
    char buffer[64];
    EXPECT_STREQ(SharedObjectNameFor("VARNIX.dll", buffer, sizeof buffer), "libVARNIX.so");
    EXPECT_STREQ(SharedObjectNameFor("QVX_COPN.DLL", buffer, sizeof buffer), "libQVX_COPN.so");
    EXPECT_STREQ(SharedObjectNameFor("libm.so.6", buffer, sizeof buffer), "libm.so.6");
}

TEST(DynamicLibrary, MissingLibraryGivesNull) {
    DriverPath path("/nonexistent");
    EXPECT_EQ(LoadLibraryA("NoSuchDriver.dll"), nullptr);
    EXPECT_EQ(LoadLibraryA(""), nullptr);
    EXPECT_EQ(LoadLibraryA(nullptr), nullptr);
}

TEST(DynamicLibrary, FoundOnlyThroughTheDriverPath) {
    unsetenv(DriverPathVariable);
    EXPECT_EQ(LoadLibraryA("LoaderProbe.dll"), nullptr);

    DriverPath path("/nonexistent:" PROBE_DIR);
    HMODULE module = LoadLibraryA("LoaderProbe.dll");
    ASSERT_NE(module, nullptr);
    auto answer = reinterpret_cast<int (*)()>(GetProcAddress(module, "ProbeAnswer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(GetProcAddress(module, "NoSuchExport"), nullptr);
    EXPECT_EQ(GetProcAddress(nullptr, "ProbeAnswer"), nullptr);
    EXPECT_EQ(FreeLibrary(module), 1);
    EXPECT_EQ(FreeLibrary(nullptr), 0);
}

} // namespace
