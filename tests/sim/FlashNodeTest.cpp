#include "FlashNode.h"

#include "FirmwareImage.h"
#include "VarnixModule.h"

#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>

namespace {

using sim::FlashNode;

sim::FlashNodeSettings smallNode(std::uint32_t imageBase = 0) {
    sim::FlashNodeSettings s;
    s.sectorCount = 3;
    s.sectorSize = 4096;
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
    std::vector<std::uint8_t> mirror(node.Settings().sectorSize, 0xFF);
    std::copy(bytes.begin(), bytes.end(), mirror.begin());
    ASSERT_TRUE(node.SetStoredChecksum(sector, sim::WordSum(mirror.data(), mirror.size())));
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
    node.Erase(2);
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
    auto module = sim::OpenVarnixModule(folder.path().toStdString());
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
    auto module = sim::OpenVarnixModule(folder.path().toStdString());
    EXPECT_EQ(module->Settings().hardwareMajor, 2u);
    EXPECT_EQ(module->Settings().imageBase, 0x28000u);
    EXPECT_EQ(module->Settings().password, 0xBEEFu);
    EXPECT_TRUE(module->Runnable(2));
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
        auto module = sim::OpenVarnixModule(folder.path().toStdString());
        const std::string said = testing::internal::GetCapturedStderr();
        const auto& settings = module->Settings();
        EXPECT_EQ(settings.hardwareMajor, 1u);
        EXPECT_EQ(settings.imageBase, 0u);
        EXPECT_EQ(settings.restartMilliseconds, 1000u);
        EXPECT_EQ(settings.password, 0x1A2Bu);
        EXPECT_EQ(settings.serialNumber, 100234u);
        EXPECT_NE(said.find(c.line), std::string::npos) << said;
        EXPECT_NE(said.find("module.ini"), std::string::npos) << said;
    }
}

TEST(VarnixModule, SettingsAtTheEdgesOfTheirRanges) {
    QTemporaryDir folder;
    std::ofstream(folder.path().toStdString() + "/module.ini")
        << "restart_ms=1500\npassword=0xFFFFFFFF\nserial_number=4294967295\n";
    testing::internal::CaptureStderr();
    auto module = sim::OpenVarnixModule(folder.path().toStdString());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(module->Settings().restartMilliseconds, 1500u);
    EXPECT_EQ(module->Settings().password, 0xFFFFFFFFu);
    EXPECT_EQ(module->Settings().serialNumber, 0xFFFFFFFFu);
}

} // namespace
