#include "DynamicLibrary.h"

#include "LastError.h"

#include <QTemporaryDir>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

namespace {

class DriverPath {
public:
    explicit DriverPath(const std::string& dirs) { setenv(DriverPathVariable, dirs.c_str(), 1); }
    ~DriverPath() { unsetenv(DriverPathVariable); }
};

int probeAnswer(HMODULE module) {
    auto answer = reinterpret_cast<int (*)()>(GetProcAddress(module, "ProbeAnswer"));
    return answer ? answer() : -1;
}

size_t lineCount(const std::string& text) {
    size_t lines = 0;
    for (char c : text)
        lines += c == '\n';
    return lines;
}

TEST(DynamicLibrary, WindowsNameStandsForSharedObject) {
    char buffer[64];
    EXPECT_STREQ(SharedObjectNameFor("VARNIX.dll", buffer, sizeof buffer), "libVARNIX.so");
    EXPECT_STREQ(SharedObjectNameFor("QVX_COPN.DLL", buffer, sizeof buffer), "libQVX_COPN.so");
    EXPECT_STREQ(SharedObjectNameFor("libm.so.6", buffer, sizeof buffer), "libm.so.6");
}

TEST(DynamicLibrary, MissingLibraryGivesNullAndModNotFound) {
    DriverPath path("/nonexistent");
    SetLastError(0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(LoadLibraryA("NoSuchDriver.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(LoadLibraryA("/nonexistent/libNoSuchDriver.so"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), ""); // nothing to say about a file
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA(""), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA(nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(DynamicLibrary, FoundOnlyThroughTheDriverPath) {
    unsetenv(DriverPathVariable);
    EXPECT_EQ(LoadLibraryA("LoaderProbe.dll"), nullptr);

    DriverPath path("/nonexistent:" PROBE_DIR);
    HMODULE module = LoadLibraryA("LoaderProbe.dll");
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(probeAnswer(module), 42);
    EXPECT_STREQ(LastLibraryLoadError(), "");
    EXPECT_EQ(GetProcAddress(module, "NoSuchExport"), nullptr);
    EXPECT_EQ(GetProcAddress(nullptr, "ProbeAnswer"), nullptr);
    EXPECT_EQ(FreeLibrary(module), 1);
    EXPECT_EQ(FreeLibrary(nullptr), 0);
}

// A library file that is there but does not load stops the search: the good library of the
// same name in the next folder is not taken, and one line on standard error names the file.
TEST(DynamicLibrary, LibraryFileThatDoesNotLoadStopsTheSearch) {
    QTemporaryDir folder;
    const std::string notALibrary = folder.path().toStdString() + "/libLoaderProbe.so";
    std::ofstream(notALibrary) << "not a shared object\n";
    struct Case {
        const char* name;
        std::string firstFolder;
        std::string file;
        DWORD error;
        const char* alsoNamed;
    };
    for (const Case& c :
         {Case{"NotALibrary", folder.path().toStdString(), notALibrary, ERROR_BAD_EXE_FORMAT, ""},
          Case{"MissingSymbol", BROKEN_PROBE_DIR, BROKEN_PROBE_DIR "/libLoaderProbe.so",
               ERROR_PROC_NOT_FOUND, "ZandrelProbeNoSuchFunction"}}) {
        SCOPED_TRACE(c.name);
        DriverPath path(c.firstFolder + ":" PROBE_DIR);
        SetLastError(0);
        testing::internal::CaptureStderr();
        HMODULE module = LoadLibraryA("LoaderProbe.dll");
        const std::string diagnostic = testing::internal::GetCapturedStderr();
        EXPECT_EQ(module, nullptr);
        if (module)
            FreeLibrary(module);
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(lineCount(diagnostic), 1u) << diagnostic;
        EXPECT_NE(diagnostic.find(c.file), std::string::npos) << diagnostic;
        EXPECT_NE(diagnostic.find(c.alsoNamed), std::string::npos) << diagnostic;
        EXPECT_NE(std::string(LastLibraryLoadError()).find(c.file), std::string::npos);
    }
}

// Nothing in the driver path's folders: the library beside the executable is the one.
TEST(DynamicLibrary, FallsBackToTheExecutablesFolder) {
    QTemporaryDir empty;
    {
        DriverPath path("/nonexistent:" + empty.path().toStdString() + ":" PROBE_DIR);
        HMODULE module = LoadLibraryA("BesideProbe.dll");
        ASSERT_NE(module, nullptr) << LastLibraryLoadError();
        EXPECT_EQ(probeAnswer(module), 43);
        EXPECT_EQ(FreeLibrary(module), 1);
    }
    unsetenv(DriverPathVariable);
    HMODULE module = LoadLibraryA("BesideProbe.dll");
    ASSERT_NE(module, nullptr) << LastLibraryLoadError();
    EXPECT_EQ(probeAnswer(module), 43);
    EXPECT_EQ(FreeLibrary(module), 1);
}

} // namespace
