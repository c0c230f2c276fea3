#include "FlashNode.h"

#include "FirmwareImage.h"
#include "ManualClock.h"
#include "StorageSteps.h"
#include "VarnixModule.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using sim::FlashNode;

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

sim::FlashNodeSettings smallNode(std::uint32_t imageBase = 0) {
    sim::FlashNodeSettings s;
    s.sectorSizes = {4096, 4096, 4096};
    s.imageBase = imageBase;
    s.password = 0x1A2B;
    s.restartMilliseconds = 0;
    return s;
}

std::vector<std::uint8_t> image(std::uint32_t revision, std::size_t size = 1024) {
    return sim::MakeFirmwareImage({"App", "Test image", "Jan 01 2026", "12:00:00", revision}, size);
}

// Writes an image as the program does: erase, blocks, checksum over what it wrote.
void flash(FlashNode& node, std::uint8_t sector, const std::vector<std::uint8_t>& bytes) {
    ASSERT_TRUE(node.Erase(sector));
    std::uint32_t base = node.Settings().imageBase;
    for (std::size_t at = 0; at < bytes.size(); at += 32) {
        std::size_t n = std::min<std::size_t>(32, bytes.size() - at);
        ASSERT_TRUE(
            node.Write(sector, base + static_cast<std::uint32_t>(at), bytes.data() + at, n));
    }
    std::vector<std::uint8_t> mirror(node.Settings().sectorSizes.at(sector), 0xFF);
    std::copy(bytes.begin(), bytes.end(), mirror.begin());
    ASSERT_TRUE(
        node.SetStoredChecksum(sector, node.Settings().checksum.Sum(mirror.data(), mirror.size())));
}

TEST(FlashNode, FlashOnlyClearsBitsAndStaysInsideItsSectors) {
    FlashNode node(smallNode());
    ASSERT_TRUE(node.EnterDownloadMode(0x1A2B));
    const std::uint8_t a[] = {0xF0, 0x0F};
    EXPECT_TRUE(node.Write(1, 100, a, 2));
    const std::uint8_t b[] = {0x30, 0x03};
    EXPECT_TRUE(node.Write(1, 100, b, 2)); // only clears bits
    const std::uint8_t c[] = {0xFF};
    EXPECT_FALSE(node.Write(1, 100, c, 1));  // would set them again: not erased
    EXPECT_FALSE(node.Write(1, 4095, a, 2)); // past the end
    EXPECT_FALSE(node.Write(3, 0, a, 1));    // no such sector
    EXPECT_TRUE(node.Write(1, 4096, a, 0));  // an empty write at the end is fine
    std::uint8_t back[2];
    ASSERT_TRUE(node.Read(1, 100, back, 2));
    EXPECT_EQ(back[0], 0x30);
    EXPECT_FALSE(node.Read(1, 4095, back, 2));
    ASSERT_TRUE(node.Erase(1));
    ASSERT_TRUE(node.Read(1, 100, back, 2));
    EXPECT_EQ(back[0], 0xFF);
}

TEST(FlashNode, ImagesForAHigherBaseAreAddressedFromIt) {
    FlashNode node(smallNode(0x28000));
    ASSERT_TRUE(node.EnterDownloadMode(0x1A2B));
    const std::uint8_t a[] = {1};
    EXPECT_FALSE(node.Write(0, 0, a, 1));
    EXPECT_TRUE(node.Write(0, 0x28000, a, 1));
    std::uint8_t header[76];
    ASSERT_TRUE(node.Description(0, header));
    EXPECT_EQ(header[0], 1);
}

TEST(FlashNode, ChangesOnlyInDownloadModeAndWithTheRightPassword) {
    FlashNode node(smallNode());
    node.SetSector(0, image(0x00010000), true);
    node.SetRunState(FlashNode::Mode::Application, 0, 0);
    const std::uint8_t a[] = {0};
    EXPECT_FALSE(node.Erase(1));
    EXPECT_FALSE(node.Write(1, 0, a, 1));
    EXPECT_FALSE(node.SetBootSector(1));
    EXPECT_FALSE(node.EnterDownloadMode(0x1A2C));
    EXPECT_EQ(node.CurrentMode(), FlashNode::Mode::Application);
    auto before = node.Incarnation();
    EXPECT_TRUE(node.EnterDownloadMode(0x1A2B));
    EXPECT_EQ(node.CurrentMode(), FlashNode::Mode::Download);
    EXPECT_NE(node.Incarnation(), before); // a restart
    EXPECT_TRUE(node.Erase(1));
}

TEST(FlashNode, EmptyRevisionAndChecksumOfAnErasedSector) {
    FlashNode node(smallNode());
    std::uint8_t header[76];
    ASSERT_TRUE(node.Description(2, header));
    EXPECT_EQ(header[72] & header[73] & header[74] & header[75], 0xFF);
    bool ok = true;
    ASSERT_TRUE(node.ChecksumMatches(2, &ok));
    EXPECT_FALSE(ok);
    EXPECT_FALSE(node.Runnable(2));
}

TEST(FlashNode, ExecuteAndResetStartOnlyRunnableSectors) {
    FlashNode node(smallNode());
    ASSERT_TRUE(node.EnterDownloadMode(0x1A2B));
    flash(node, 1, image(0x00020003));
    ASSERT_TRUE(node.SetBootSector(1));
    ASSERT_TRUE(node.Erase(2));
    ASSERT_TRUE(node.Write(2, 0, image(0x00030000).data(), 100)); // no checksum stored

    ASSERT_TRUE(node.Execute(2)); // checksum fails: back in download mode
    EXPECT_EQ(node.CurrentMode(), FlashNode::Mode::Download);
    ASSERT_TRUE(node.Reset());
    EXPECT_EQ(node.CurrentMode(), FlashNode::Mode::Application);
    EXPECT_EQ(node.RunningSector(), 1);
    EXPECT_EQ(node.RunningRevision(), 0x00020003u);

    ASSERT_TRUE(node.EnterDownloadMode(0x1A2B));
    ASSERT_TRUE(node.Erase(1)); // erasing the boot sector makes sector 0 boot
    EXPECT_EQ(node.BootSector(), 0);
    ASSERT_TRUE(node.Reset()); // sector 0 is empty: download mode
    EXPECT_EQ(node.CurrentMode(), FlashNode::Mode::Download);
}

TEST(FlashNode, ExecuteDoesNotChangeTheBootSector) {
    FlashNode node(smallNode());
    ASSERT_TRUE(node.EnterDownloadMode(0x1A2B));
    flash(node, 1, image(0x00010001));
    flash(node, 2, image(0x00010002));
    ASSERT_TRUE(node.SetBootSector(1));
    ASSERT_TRUE(node.Execute(2));
    EXPECT_EQ(node.RunningSector(), 2);
    EXPECT_EQ(node.BootSector(), 1);
    ASSERT_TRUE(node.Reset());
    EXPECT_EQ(node.RunningSector(), 1);
}

TEST(FlashNode, RestartTakesTheNodeOffTheBusForItsRestartTime) {
    auto settings = smallNode();
    settings.restartMilliseconds = 60 * 60 * 1000;
    FlashNode node(settings);
    EXPECT_TRUE(node.Online());
    ASSERT_TRUE(node.EnterDownloadMode(0x1A2B));
    EXPECT_FALSE(node.Online());
}

// The figures the downloaders send for the same bytes: a node must agree with them.
TEST(ChecksumRule, SumsBytesOrWordsOverItsWindowWithErasedBytesBeyondTheSector) {
    const std::uint8_t four[] = {0x01, 0x02, 0x03, 0x04};
    const std::uint8_t five[] = {0x01, 0x02, 0x03, 0x04, 0x05};
    const std::vector<std::uint8_t> erased(0xFFFF, 0xFF);
    struct Case {
        const char* what;
        sim::ChecksumRule rule;
        const std::uint8_t* bytes;
        std::size_t size;
        std::uint32_t sum;
    };
    for (const Case& c : {
             Case{"bytes", {8, 0}, four, 4, 0x0A},
             Case{"words, low byte first", {16, 0}, four, 4, 0x0604},
             Case{"a window shorter than the sector", {16, 2}, four, 4, 0x0201},
             Case{"an odd window leaves its last byte out", {16, 3}, four, 4, 0x0201},
             Case{"bytes beyond the sector are 0xFF", {8, 6}, four, 4, 0x0A + 2 * 0xFF},
             Case{"words beyond the sector are 0xFFFF", {16, 8}, four, 4, 0x0604 + 2 * 0xFFFF},
             Case{"a word across the sector's end", {16, 6}, five, 5, 0x0604 + 0xFF05},
             Case{"98,303 words over an erased 64 KiB sector",
                  {16, 196606},
                  erased.data(),
                  erased.size(),
                  0x7FFD8001},
             Case{"196,606 bytes over it", {8, 196606}, erased.data(), erased.size(), 0x02FCFE02},
         }) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.rule.Sum(c.bytes, c.size), c.sum);
    }
}

TEST(FlashNode, EachSectorHasItsOwnSize) {
    auto settings = smallNode();
    settings.sectorSizes = {0xFFFF, 0x2FFFF, 0x2FFFF, 0xFFFF};
    FlashNode node(settings);
    ASSERT_TRUE(node.EnterDownloadMode(0x1A2B));
    for (std::uint8_t s = 0; s < 4; ++s) {
        std::uint32_t size = 0;
        ASSERT_TRUE(node.SectorSize(s, &size));
        EXPECT_EQ(size, settings.sectorSizes[s]);
    }
    const std::uint8_t a[] = {0x12};
    EXPECT_TRUE(node.Write(1, 0x2FFFE, a, 1));
    EXPECT_EQ(node.Write(0, 0xFFFF, a, 1).error, sim::NodeError::OutOfRange);
    EXPECT_EQ(node.Write(4, 0, a, 1).error, sim::NodeError::NoSuchSector);
}

TEST(FlashNode, ChecksumStateComesFromTheNodesOwnRule) {
    auto settings = smallNode();
    settings.sectorSizes = {4096, 4};
    settings.checksum = {8, 0};
    FlashNode node(settings);
    ASSERT_TRUE(node.EnterDownloadMode(0x1A2B));
    const std::uint8_t four[] = {0x01, 0x02, 0x03, 0x04};
    ASSERT_TRUE(node.Write(1, 0, four, 4));
    EXPECT_EQ(node.ComputedChecksum(1), 0x0Au);
    ASSERT_TRUE(node.SetStoredChecksum(1, 0x0604)); // the 16-bit figure: not this node's
    bool ok = true;
    ASSERT_TRUE(node.ChecksumMatches(1, &ok));
    EXPECT_FALSE(ok);
    ASSERT_TRUE(node.SetStoredChecksum(1, 0x0A));
    ASSERT_TRUE(node.ChecksumMatches(1, &ok));
    EXPECT_TRUE(ok);
}

// The password arms download mode; only the next reset enters it.
TEST(FlashNode, DownloadModeIsArmedByThePasswordAndEnteredAtTheNextReset) {
    auto settings = smallNode();
    settings.loaderSector = 1;
    FlashNode node(settings);
    node.SetSector(1, image(0x00010009), true);
    node.SetSector(2, image(0x00020000), true);
    node.SetRunState(FlashNode::Mode::Application, 2, 2);

    EXPECT_EQ(node.ArmDownloadMode(0x1A2C).error, sim::NodeError::WrongPassword);
    EXPECT_FALSE(node.DownloadModeArmed());
    ASSERT_TRUE(node.Reset()); // nothing armed: the boot sector again
    EXPECT_EQ(node.CurrentMode(), FlashNode::Mode::Application);

    ASSERT_TRUE(node.ArmDownloadMode(0x1A2B));
    EXPECT_EQ(node.CurrentMode(), FlashNode::Mode::Application); // not before the reset
    const std::uint8_t a[] = {0};
    EXPECT_EQ(node.Write(0, 0, a, 1).error, sim::NodeError::NotInDownloadMode);
    ASSERT_TRUE(node.Reset());
    EXPECT_EQ(node.CurrentMode(), FlashNode::Mode::Download);
    EXPECT_EQ(node.RunningRevision(), 0x00010009u); // the loader, in its own sector
    EXPECT_FALSE(node.DownloadModeArmed());

    ASSERT_TRUE(node.Erase(2)); // the boot sector: the loader boots from now on
    EXPECT_EQ(node.BootSector(), 1);
    ASSERT_TRUE(node.Reset());
    EXPECT_EQ(node.CurrentMode(), FlashNode::Mode::Application);
    EXPECT_EQ(node.RunningSector(), 1);
}

TEST(FlashNode, RestartsOnTheClockItIsGivenAndSaysWhenItIsBack) {
    ManualClock clock;
    auto settings = smallNode();
    settings.restartMilliseconds = 700;
    FlashNode node(settings, clock.Clock());
    const auto before = node.Incarnation();
    ASSERT_TRUE(node.EnterDownloadMode(0x1A2B));
    EXPECT_FALSE(node.Online());
    EXPECT_EQ(node.BackAt(), clock.Now() + std::chrono::milliseconds(700));
    EXPECT_NE(node.Incarnation(), before);
    std::uint32_t size = 0;
    EXPECT_EQ(node.SectorSize(0, &size).error, sim::NodeError::Busy);
    EXPECT_EQ(node.Reset().error, sim::NodeError::Busy);
    clock.Advance(std::chrono::milliseconds(699));
    EXPECT_FALSE(node.Online());
    clock.Advance(std::chrono::milliseconds(1));
    EXPECT_TRUE(node.Online());
    EXPECT_TRUE(node.SectorSize(0, &size));
}

TEST(FlashNode, SettingsThatDescribeNoNodeAreRefused) {
    for (auto change : std::vector<void (*)(sim::FlashNodeSettings&)>{
             [](sim::FlashNodeSettings& s) { s.sectorSizes.clear(); },
             [](sim::FlashNodeSettings& s) { s.sectorSizes[1] = 0; },
             [](sim::FlashNodeSettings& s) { s.loaderSector = 3; },
             [](sim::FlashNodeSettings& s) { s.checksum.width = 32; },
             [](sim::FlashNodeSettings& s) {
                 s.sectorSizes = {sim::MaxSectorSize, 1};
             },
             [](sim::FlashNodeSettings& s) { s.checksum.window = sim::MaxSectorSize + 1; },
         }) {
        auto settings = smallNode();
        change(settings);
        EXPECT_FALSE(settings.Problem().empty());
        EXPECT_THROW(FlashNode{settings}, std::invalid_argument);
    }
}

TEST(FlashNode, ASmallSectorDescribesItselfPaddedWithErasedBytes) {
    auto settings = smallNode();
    settings.sectorSizes = {4096, 8};
    FlashNode node(settings);
    ASSERT_TRUE(node.EnterDownloadMode(0x1A2B));
    const std::uint8_t name[] = {'A', 'B'};
    ASSERT_TRUE(node.Write(1, 0, name, 2));
    std::uint8_t header[76];
    ASSERT_TRUE(node.Description(1, header));
    EXPECT_EQ(header[0], 'A');
    EXPECT_EQ(header[8], 0xFF);
    EXPECT_EQ(header[75], 0xFF);
}

TEST(FlashNode, StateSurvivesInItsFolder) {
    QTemporaryDir folder;
    const std::string path = folder.path().toStdString() + "/node";
    {
        FlashNode node(smallNode());
        ASSERT_TRUE(node.AttachStateFolder(path));
        ASSERT_TRUE(node.EnterDownloadMode(0x1A2B));
        flash(node, 2, image(0x00040005));
        ASSERT_TRUE(node.SetBootSector(2));
        ASSERT_TRUE(node.Reset());
    }
    FlashNode again(smallNode());
    ASSERT_TRUE(again.AttachStateFolder(path));
    EXPECT_EQ(again.CurrentMode(), FlashNode::Mode::Application);
    EXPECT_EQ(again.RunningSector(), 2);
    EXPECT_EQ(again.BootSector(), 2);
    EXPECT_EQ(again.RunningRevision(), 0x00040005u);
    bool ok = false;
    ASSERT_TRUE(again.ChecksumMatches(2, &ok));
    EXPECT_TRUE(ok);
}

TEST(VarnixModule, LeavesTheFactoryAsDocumented) {
    QTemporaryDir folder;
    auto module = sim::OpenVarnixModule(folder.path().toStdString(), nullptr);
    EXPECT_EQ(module->CurrentMode(), FlashNode::Mode::Application);
    EXPECT_EQ(module->RunningSector(), 2);
    EXPECT_EQ(module->BootSector(), 2);
    EXPECT_EQ(module->Settings().password, 0x1A2Bu);
    EXPECT_EQ(module->Settings().hardwareMajor, 1u);
    EXPECT_TRUE(module->Runnable(0));
    EXPECT_TRUE(module->Runnable(2));
    EXPECT_FALSE(module->Runnable(1));
    EXPECT_FALSE(module->Runnable(3));
    std::uint32_t size = 0;
    ASSERT_TRUE(module->SectorSize(1, &size));
    EXPECT_GE(size, 4096u);
}

TEST(VarnixModule, HardwareVersionTwoFromItsSettingsFile) {
    QTemporaryDir folder;
    std::ofstream(folder.path().toStdString() + "/module.ini")
        << "hardware_version=2\npassword=BEEF\nrestart_ms=0\n";
    auto module = sim::OpenVarnixModule(folder.path().toStdString(), nullptr);
    EXPECT_EQ(module->Settings().hardwareMajor, 2u);
    EXPECT_EQ(module->Settings().imageBase, 0x28000u);
    EXPECT_EQ(module->Settings().password, 0xBEEFu);
    EXPECT_TRUE(module->Runnable(2));
}

// A module.ini that cannot be read is neither taken for a missing one nor replaced: the
// module stays offline with the system's reason.
TEST(VarnixModule, ASettingsFileThatCannotBeReadKeepsTheModuleOffline) {
    struct Case {
        const char* what;
        std::function<void(const std::string& file)> make;
        const char* says;
    };
    const std::vector<Case> cases = {
        {"a folder in its place",
         [](const std::string& file) {
             ASSERT_TRUE(QDir().mkpath(QString::fromStdString(file + "/in-the-way")));
         },
         std::strerror(EISDIR)},
        {"no permission to read it",
         [](const std::string& file) {
             std::ofstream(file) << "password=BEEF\n";
             ::chmod(file.c_str(), 0);
         },
         std::strerror(EACCES)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.says == std::string(std::strerror(EACCES)) && ::geteuid() == 0)
            continue; // root reads whatever the permissions say
        QTemporaryDir folder;
        const std::string file = folder.path().toStdString() + "/module.ini";
        c.make(file);
        std::string error;
        EXPECT_EQ(sim::OpenVarnixModule(folder.path().toStdString(), &error), nullptr);
        EXPECT_NE(error.find(file), std::string::npos) << error;
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
        EXPECT_FALSE(QFileInfo::exists(folder.path() + "/node.state"));
        const QFileInfo left(QString::fromStdString(file));
        if (!left.isDir()) {
            ::chmod(file.c_str(), 0600);
            EXPECT_EQ(contents(file), "password=BEEF\n");
        }
    }
}

// A module.ini larger than a settings file may be is refused before a byte of it is read.
TEST(VarnixModule, ASettingsFileOfAGibibyteIsRefusedUnread) {
    QTemporaryDir folder;
    const std::string file = folder.path().toStdString() + "/module.ini";
    std::ofstream(file) << "restart_ms=0\n";
    std::filesystem::resize_file(file, std::uintmax_t{1} << 30);
    std::string error;
    EXPECT_EQ(sim::OpenVarnixModule(folder.path().toStdString(), &error), nullptr);
    EXPECT_NE(error.find(file + ": holds 1073741824 bytes, more than 262144"), std::string::npos)
        << error.substr(0, 300);
}

// A warning quotes at most 80 characters of its line, with what is unprintable escaped.
TEST(VarnixModule, AWarningQuotesItsLineShortAndPrintable) {
    QTemporaryDir folder;
    std::ofstream(folder.path().toStdString() + "/module.ini")
        << "restart_ms=\x1b]0;title\x07" << std::string(5000, '9') << "\n";
    testing::internal::CaptureStderr();
    auto module = sim::OpenVarnixModule(folder.path().toStdString(), nullptr);
    const std::string said = testing::internal::GetCapturedStderr();
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(module->Settings().restartMilliseconds, 1000u);
    EXPECT_NE(said.find("restart_ms=\\x1B]0;title\\x0799999"), std::string::npos) << said;
    EXPECT_NE(said.find("99..."), std::string::npos) << said;
    EXPECT_LT(said.size(), folder.path().size() + 300) << said.substr(0, 300);
    EXPECT_TRUE(std::all_of(said.begin(), said.end() - 1, [](char ch) {
        return ch >= 0x20 && ch < 0x7F;
    })) << said.substr(0, 300);
}

mode_t accessOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

// Files are made as the umask allows; module.ini, which holds the password, and the folders
// are their owner's alone.
TEST(VarnixModule, FilesFollowTheUmaskAndSettingsAndFoldersStayPrivate) {
    for (const mode_t umask : {mode_t{002}, mode_t{027}}) {
        SCOPED_TRACE(umask);
        QTemporaryDir root;
        const std::string data = root.path().toStdString() + "/data";
        const mode_t before = ::umask(umask);
        auto module = sim::OpenVarnixModule(data + "/zandrel/varnix-module", nullptr);
        ::umask(before);
        ASSERT_NE(module, nullptr);
        for (const char* file : {"node.state", "sector0.flash", "sector3.flash"})
            EXPECT_EQ(accessOf(data + "/zandrel/varnix-module/" + file), 0666 & ~umask) << file;
        EXPECT_EQ(accessOf(data + "/zandrel/varnix-module/module.ini"), 0600u);
        for (const char* folder : {"", "/zandrel", "/zandrel/varnix-module"})
            EXPECT_EQ(accessOf(data + folder), 0700u) << folder;
    }
}

// A standard update, as the program makes it, replaces a file of the module's folder only
// where an operation changes what it holds, and hands the file system at most half as much
// again as the image's bytes.
TEST(VarnixModule, AStandardUpdateWritesItsImageAndLittleMore) {
    QTemporaryDir folder;
    std::ofstream(folder.path().toStdString() + "/module.ini") << "restart_ms=0\n";
    auto module = sim::OpenVarnixModule(folder.path().toStdString(), nullptr);
    ASSERT_NE(module, nullptr);
    const auto image = sim::MakeFirmwareImage(
        {"VARNIX App", "A whole sector", "Jan 01 2026", "12:00:00", 0x00030000},
        sim::VarnixSectorSize);
    struct Step {
        const char* what;
        std::function<sim::NodeResult(FlashNode&)> run;
        std::uint64_t replacedFiles;
    };
    const std::vector<Step> steps = {
        {"download mode", [](FlashNode& m) { return m.EnterDownloadMode(0x1A2B); }, 1},
        // node.state, then the sector's file
        {"erase", [](FlashNode& m) { return m.Erase(2); }, 2},
        // the window erases, and the download erases again: nothing changes
        {"erase again", [](FlashNode& m) { return m.Erase(2); }, 0},
        {"blocks",
         [&](FlashNode& m) {
             for (std::size_t at = 0; at < image.size(); at += 32)
                 if (auto written = m.Write(2, static_cast<std::uint32_t>(at), &image[at], 32);
                     !written)
                     return written;
             return sim::NodeResult{};
         },
         0},
        {"checksum", [](FlashNode& m) { return m.SetStoredChecksum(2, m.ComputedChecksum(2)); }, 1},
        {"boot sector", [](FlashNode& m) { return m.SetBootSector(2); }, 1},
        {"reset", [](FlashNode& m) { return m.Reset(); }, 1},
    };
    const sim::StorageTally before = sim::StorageTallySoFar();
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        const std::uint64_t replaced = sim::StorageTallySoFar().replacedFiles;
        ASSERT_TRUE(step.run(*module));
        EXPECT_EQ(sim::StorageTallySoFar().replacedFiles - replaced, step.replacedFiles);
    }
    EXPECT_LE(sim::StorageTallySoFar().bytesWritten - before.bytesWritten, image.size() * 3 / 2);
    EXPECT_EQ(module->CurrentMode(), FlashNode::Mode::Application);
    EXPECT_EQ(module->RunningRevision(), 0x00030000u);
}

// A value out of its range keeps the default and says so on standard error.
TEST(VarnixModule, SettingsOutOfRangeKeepTheirDefaults) {
    struct Case {
        const char* line;
        const char* key;
    };
    for (const Case& c :
         {Case{"hardware_version=3", "hardware_version"},
          Case{"hardware_version=0", "hardware_version"},
          Case{"hardware_version=2x", "hardware_version"}, Case{"restart_ms=1501", "restart_ms"},
          Case{"restart_ms=-1", "restart_ms"}, Case{"password=1A2B3C4D5", "password"},
          Case{"password=zz", "password"}, Case{"serial_number=99999999999", "serial_number"}}) {
        SCOPED_TRACE(c.line);
        QTemporaryDir folder;
        std::ofstream(folder.path().toStdString() + "/module.ini") << c.line << "\n";
        testing::internal::CaptureStderr();
        auto module = sim::OpenVarnixModule(folder.path().toStdString(), nullptr);
        const std::string said = testing::internal::GetCapturedStderr();
        const auto& settings = module->Settings();
        EXPECT_EQ(settings.hardwareMajor, 1u);
        EXPECT_EQ(settings.imageBase, 0u);
        EXPECT_EQ(settings.restartMilliseconds, 1000u);
        EXPECT_EQ(settings.password, 0x1A2Bu);
        EXPECT_EQ(settings.identity.serialNumber, 100234u);
        EXPECT_NE(said.find(c.line), std::string::npos) << said;
        EXPECT_NE(said.find("module.ini"), std::string::npos) << said;
    }
}

// Every line of module.ini that is no setting of the module is named, with its line; numbers
// are decimal unless written with 0x.
TEST(VarnixModule, LinesThatAreNoSettingAreNamedWithTheirLine) {
    struct Case {
        const char* text;
        const char* says; // "": nothing
        std::function<void(const sim::FlashNodeSettings&)> check;
    };
    const std::vector<Case> cases = {
        {"colour=blue\nrestart_ms=0\n", "module.ini:1: unknown key colour",
         [](const sim::FlashNodeSettings& s) {
             EXPECT_EQ(s.restartMilliseconds, 0u);
         }},
        {"restart_ms=0\nrestart_ms 10\n", "module.ini:2: not key=value: restart_ms 10",
         [](const sim::FlashNodeSettings& s) {
             EXPECT_EQ(s.restartMilliseconds, 0u);
         }},
        {"[module]\nrestart_ms=0\n", "module.ini:1: [module] is a section header",
         [](const sim::FlashNodeSettings& s) {
             EXPECT_EQ(s.restartMilliseconds, 0u);
         }},
        {"restart_ms=0\n\nrestart_ms=100\n",
         "module.ini:3: restart_ms is given again, after line 1",
         [](const sim::FlashNodeSettings& s) {
             EXPECT_EQ(s.restartMilliseconds, 100u);
         }},
        {"restart_ms=0\nhardware_version=3\n", "module.ini:2: hardware_version=3 is not a number",
         [](const sim::FlashNodeSettings& s) {
             EXPECT_EQ(s.hardwareMajor, 1u);
         }},
        {"restart_ms=0\nserial_number=0100\nvendor_id=0x0100\n# a comment\n", "",
         [](const sim::FlashNodeSettings& s) {
             EXPECT_EQ(s.identity.serialNumber, 100u);
             EXPECT_EQ(s.identity.vendorId, 256u);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        QTemporaryDir folder;
        std::ofstream(folder.path().toStdString() + "/module.ini") << c.text;
        testing::internal::CaptureStderr();
        auto module = sim::OpenVarnixModule(folder.path().toStdString(), nullptr);
        const std::string said = testing::internal::GetCapturedStderr();
        ASSERT_NE(module, nullptr);
        c.check(module->Settings());
        if (*c.says == '\0') {
            EXPECT_EQ(said, "");
            continue;
        }
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        EXPECT_NE(said.find(folder.path().toStdString() + "/" + c.says), std::string::npos) << said;
    }
}

TEST(VarnixModule, SettingsAtTheEdgesOfTheirRanges) {
    QTemporaryDir folder;
    std::ofstream(folder.path().toStdString() + "/module.ini")
        << "restart_ms=1500\npassword=0xFFFFFFFF\nserial_number=4294967295\n";
    testing::internal::CaptureStderr();
    auto module = sim::OpenVarnixModule(folder.path().toStdString(), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(module->Settings().restartMilliseconds, 1500u);
    EXPECT_EQ(module->Settings().password, 0xFFFFFFFFu);
    EXPECT_EQ(module->SerialNumber(), 0xFFFFFFFFu);
}

} // namespace
