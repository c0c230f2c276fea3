// The VARNIX downloader over the real libVARNIX.so and the simulated module inside it.

#include "Class_varnixs.h"
#include "DownloadWindowFixture.h"
#include "DynamicLibrary.h"
#include "EventLoop.h"
#include "IntelHexFile.h"
#include "NodeFolder.h"
#include "RecordingSleep.h"
#include "SimulatedVarnix.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>

namespace {

const std::string Examples = EXAMPLES_DIR;

// A module of its own in a temporary folder, restarting at once; the program's pauses are
// recorded, not spent.
class VarnixModuleTest : public testing::Test {
public:
    void SetUp() override { Start(); }
    void TearDown() override { varnix.reset(); }

    void WriteModuleSettings(const std::string& text) { simulated.WriteModuleSettings(text); }
    void Start() {
        varnix = std::make_unique<TVARNIXS_Downloader>();
        ASSERT_NE(varnix->DriverModule, nullptr);
        ASSERT_EQ(varnix->GoOnline(), 1);
    }

    // Downloads a HEX file into a sector as the worker does, then checksums it.
    bool Flash(std::uint8_t sector, const std::string& path) {
        TIntelHexFile file;
        if (!file.Open(path.c_str()))
            return false;
        std::uint32_t address;
        std::uint8_t length, data[256], back[256];
        while (file.ReadRecord(&address, &length, data)) {
            if (!varnix->DownloadFirmware(sector, address, length, data))
                return false;
            if (!varnix->UploadFirmware(sector, address, length, back) ||
                std::memcmp(back, data, length) != 0)
                return false;
        }
        return varnix->SetSectorChecksum(sector) != 0;
    }
    std::uint32_t Checksum(std::uint8_t sector) {
        std::uint32_t ok = 99;
        EXPECT_EQ(varnix->ChecksumOk(sector, &ok), 1);
        return ok;
    }

    SimulatedVarnix simulated;
    RecordingSleep sleeps;
    std::unique_ptr<TVARNIXS_Downloader> varnix;
};

TEST_F(VarnixModuleTest, IdentityOfTheModuleRunningItsApplication) {
    EXPECT_EQ(varnix->GetProductName(0), "VARNIX Interface Module");
    EXPECT_EQ(varnix->GetSerialNumber(0), "100234");
    EXPECT_EQ(varnix->GetRevision(0), "2.17");
    std::uint32_t inDownloadMode = 9;
    EXPECT_EQ(varnix->IsInDownloadMode(&inDownloadMode), 1);
    EXPECT_EQ(inDownloadMode, 0u);
    EXPECT_EQ(varnix->EraseSector(1), 0); // not while the application runs
}

TEST_F(VarnixModuleTest, PasswordDecidesDownloadMode) {
    std::uint32_t inDownloadMode = 9;
    EXPECT_EQ(varnix->EnterDownloadMode(0x1234), 0);
    EXPECT_TRUE(sleeps.Pauses().empty());
    EXPECT_EQ(varnix->EnterDownloadMode(0x1A2B), 1);
    EXPECT_EQ(sleeps.Pauses(), (std::vector<DWORD>{2000}));
    EXPECT_EQ(varnix->IsInDownloadMode(&inDownloadMode), 1);
    EXPECT_EQ(inDownloadMode, 1u);
}

TEST_F(VarnixModuleTest, FlashedImageRunsAfterResetAndSurvivesReloading) {
    ASSERT_EQ(varnix->EnterDownloadMode(0x1A2B), 1);
    ASSERT_EQ(varnix->EraseSector(1), 1);
    ASSERT_TRUE(Flash(1, Examples + "/varnix-app-2.18.hex"));
    EXPECT_EQ(Checksum(1), 1u);
    ASSERT_EQ(varnix->SetBootSector(1), 1);
    ASSERT_EQ(varnix->Reset(), 1);
    EXPECT_EQ(varnix->GetRevision(0), "2.18");

    varnix.reset(); // unloads the driver: the module is read again from its folder
    HMODULE library = LoadLibraryA("VARNIX.dll");
    FreeLibrary(library);
    Start();
    EXPECT_EQ(varnix->GetRevision(0), "2.18");
    std::uint8_t boot = 0;
    EXPECT_EQ(varnix->GetBootSector(&boot), 1);
    EXPECT_EQ(boot, 1);
}

// A change the module cannot store is refused; started again, it is as it was.
TEST_F(VarnixModuleTest, AChangeTheModuleCannotStoreIsRefused) {
    ASSERT_EQ(varnix->EnterDownloadMode(0x1A2B), 1);
    // Not even root renames a file over a folder that holds something: the state file's
    // replacement fails.
    const std::string state = simulated.ModuleFolder() + "/node.state";
    ASSERT_EQ(std::rename(state.c_str(), (state + ".kept").c_str()), 0);
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(state + "/in-the-way")));
    EXPECT_EQ(varnix->SetBootSector(3), 0);
    EXPECT_EQ(varnix->Reset(), 0);
    EXPECT_EQ(varnix->EnterDownloadMode(0x1A2B), 0);
    std::uint8_t boot = 9;
    EXPECT_EQ(varnix->GetBootSector(&boot), 1);
    EXPECT_EQ(boot, 2);

    varnix.reset();
    ASSERT_TRUE(QDir(QString::fromStdString(state)).removeRecursively());
    ASSERT_EQ(std::rename((state + ".kept").c_str(), state.c_str()), 0);
    Start();
    std::uint32_t inDownloadMode = 9;
    EXPECT_EQ(varnix->IsInDownloadMode(&inDownloadMode), 1);
    EXPECT_EQ(inDownloadMode, 1u);
    EXPECT_EQ(varnix->GetBootSector(&boot), 1);
    EXPECT_EQ(boot, 2);
}

TEST_F(VarnixModuleTest, ASerialNumberTheProgramSetsIsKept) {
    ASSERT_EQ(varnix->EnterDownloadMode(0x1A2B), 1);
    HMODULE library = LoadLibraryA("VARNIX.dll");
    using SetFn = std::int32_t (*)(std::uint32_t, std::uint32_t);
    auto set = reinterpret_cast<SetFn>(GetProcAddress(library, "Set_Serial_Number"));
    EXPECT_EQ(set(varnix->driverHandle, 4711), 1);
    FreeLibrary(library);
    varnix.reset();
    Start();
    EXPECT_EQ(varnix->GetSerialNumber(0), "4711");
}

// One process serves the module's folder: another one cannot open the module meanwhile.
TEST_F(VarnixModuleTest, AModuleServedByAnotherProcessCannotBeOpened) {
    varnix.reset();
    std::string error;
    // A lock of its own, as another process would hold it.
    auto other = sim::NodeFolder::Take(simulated.ModuleFolder(), &error);
    ASSERT_NE(other, nullptr) << error;
    varnix = std::make_unique<TVARNIXS_Downloader>();
    testing::internal::CaptureStderr();
    EXPECT_EQ(varnix->GoOnline(), 0);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find(simulated.ModuleFolder()), std::string::npos) << said;
    EXPECT_NE(said.find("another process"), std::string::npos) << said;
    other.reset();
    EXPECT_EQ(varnix->GoOnline(), 1);
}

TEST_F(VarnixModuleTest, WriteIntoFlashThatIsNotErasedFails) {
    ASSERT_EQ(varnix->EnterDownloadMode(0x1A2B), 1);
    EXPECT_FALSE(Flash(2, Examples + "/varnix-app-2.18.hex")); // sector 2 holds an image
    const std::uint8_t block[32] = {};
    EXPECT_EQ(varnix->DownloadFirmware(3, 0x7FF0, 32, block), 0); // past the sector's end
}

TEST_F(VarnixModuleTest, ChecksumOnHardwareVersionTwoStartsAt0x28000) {
    varnix.reset();
    WriteModuleSettings("restart_ms=0\nhardware_version=2\n");
    Start();
    ASSERT_EQ(varnix->EnterDownloadMode(0x1A2B), 1);
    ASSERT_EQ(varnix->EraseSector(3), 1);
    EXPECT_FALSE(Flash(3, Examples + "/varnix-app-2.18.hex")); // linked for address 0
    ASSERT_EQ(varnix->EraseSector(3), 1);
    ASSERT_TRUE(Flash(3, Examples + "/varnix-hw2-app-2.18.hex"));
    EXPECT_EQ(Checksum(3), 1u);
    ASSERT_EQ(varnix->ExecuteSector(3), 1);
    EXPECT_EQ(varnix->GetRevision(0), "2.18");
}

TEST_F(VarnixModuleTest, LibraryExportsEveryNameTheDownloaderLooksUp) {
    const TVARNIXS_Downloader::Exports& d = varnix->Driver;
    // Every name the downloader looks up, from its own table.
#define VARNIX_ENTRY(name, type) reinterpret_cast<const void*>(d.name),
    const void* entries[] = {VARNIX_DRIVER_EXPORTS(VARNIX_ENTRY)};
    static_assert(sizeof(TVARNIXS_Downloader::Exports) == 35 * sizeof(void*));
    for (size_t i = 0; i < std::size(entries); ++i)
        EXPECT_NE(entries[i], nullptr) << "entry " << i;
}

TEST_F(VarnixModuleTest, ExportsRefuseBadHandlesSectorsAndPointers) {
    HMODULE library = LoadLibraryA("VARNIX.dll");
    using SizeFn = std::int32_t (*)(std::uint32_t, std::uint8_t, std::uint32_t*);
    using ModeFn = std::int32_t (*)(std::uint32_t, std::uint8_t*);
    auto size = reinterpret_cast<SizeFn>(GetProcAddress(library, "Get_Sector_Size"));
    auto mode = reinterpret_cast<ModeFn>(GetProcAddress(library, "Get_Mode"));
    std::uint32_t value = 77;
    const std::uint32_t h = varnix->driverHandle;
    EXPECT_EQ(size(h, 0, &value), 1);
    value = 77;
    EXPECT_EQ(size(h + 1, 0, &value), 0);
    EXPECT_EQ(size(h, 4, &value), 0);
    EXPECT_EQ(value, 77u);
    EXPECT_EQ(size(h, 0, nullptr), 0);
    EXPECT_EQ(mode(h, nullptr), 0);
    EXPECT_EQ(varnix->StartBrowse(), 1); // opening again takes the link over
    EXPECT_EQ(mode(h, reinterpret_cast<std::uint8_t*>(&value)), 0);
    std::uint8_t m;
    EXPECT_EQ(varnix->GetMode(&m), 1);
    FreeLibrary(library);
}

TEST_F(VarnixModuleTest, ConfigurationIsStoredUnderTheKeyPath) {
    const char* key = "\\Software\\Quorvane, LLC.\\Zandrel\\";
    ASSERT_EQ(varnix->ReadConfiguration(key), 1); // nothing stored: USB
    char name[256];
    varnix->GetInterfaceName(name);
    EXPECT_STREQ(name, "USB");

    varnix->Config.ComPort = 2;
    varnix->Config.ComBaud = 57600;
    varnix->Config.AccessPoint[0] = '\0';
    ASSERT_EQ(varnix->SaveConfiguration(key), 1);
    EXPECT_TRUE(QFileInfo::exists(simulated.ConfigFolder() + "/Quorvane, LLC./Zandrel/VARNIX.ini"));

    varnix.reset();
    Start();
    ASSERT_EQ(varnix->ReadConfiguration(key), 1);
    ASSERT_EQ(varnix->GoOnline(), 1);
    varnix->GetInterfaceName(name);
    EXPECT_STREQ(name, "RS-232");
    EXPECT_EQ(varnix->BlockSize, 8u);
    EXPECT_EQ(varnix->Config.ComBaud, 57600u);
}

// The RS-232 link carries blocks of 8 bytes at most, in both directions; USB carries 32.
TEST_F(VarnixModuleTest, RS232RefusesBlocksLongerThanEightBytes) {
    const char* key = "\\Software\\Quorvane, LLC.\\Zandrel\\";
    const std::uint8_t block[32] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    std::uint8_t back[32];
    ASSERT_EQ(varnix->EnterDownloadMode(0x1A2B), 1);
    ASSERT_EQ(varnix->EraseSector(3), 1);
    EXPECT_EQ(varnix->DownloadFirmware(3, 0x100, 32, block), 1); // USB

    varnix->Config.ComPort = 1;
    varnix->Config.ComBaud = 57600;
    varnix->Config.AccessPoint[0] = '\0';
    ASSERT_EQ(varnix->SaveConfiguration(key), 1);
    varnix.reset();
    Start();
    ASSERT_EQ(varnix->ReadConfiguration(key), 1);
    ASSERT_EQ(varnix->GoOnline(), 1);
    ASSERT_EQ(varnix->BlockSize, 8u);
    EXPECT_EQ(varnix->DownloadFirmware(3, 0, 9, block), 0);
    EXPECT_EQ(varnix->UploadFirmware(3, 0x100, 9, back), 0);
    EXPECT_EQ(varnix->DownloadFirmware(3, 0, 8, block), 1);
    EXPECT_EQ(varnix->UploadFirmware(3, 0, 8, back), 1);
    EXPECT_EQ(std::memcmp(back, block, 8), 0);
}

// The download window over the module, as a user works with it.
class VarnixWindowTest : public VarnixModuleTest {
public:
    void SetUp() override {
        VarnixModuleTest::SetUp();
        varnix->Node = 0;
        varnix->NodeType = 3;
        window.Downloader = varnix.get();
        window.Edit_Password->setText("1A2B");
        window.show();
    }
    void TearDown() override {
        window.close();
        VarnixModuleTest::TearDown();
    }
    TForm_FW_Download window;
    ScriptedMessageBoxes boxes;
    ScriptedFileDialog files;
};

TEST_F(VarnixWindowTest, RetrieveShowsTheModulesTableAndDownloadFillsAnEmptySector) {
    boxes.ExpectSystem("The module is not currently in the download mode.\r\n"
                       "Entering Download mode will stop current Node Application Firmware!\r\n"
                       "Make sure the Node is in a safe state!\r\n"
                       "Enter download mode?\r\n",
                       "Warning", IDYES);
    window.Button_Retrieve->click();
    const TStringGrid* grid = window.AdvStringGrid_Modules;
    ASSERT_EQ(grid->RowCount(), 5);
    EXPECT_EQ(DownloadWindowTest::RowTexts(grid, 1),
              (std::vector<std::string>{"0", "008000", "<ok>", "VARNIX Loader",
                                        "VARNIX USB/RS-232 boot loader", "Mar 11 2024", "09:30:00",
                                        "1.4"}));
    EXPECT_EQ(grid->Cell(2, 2), "<empty>");
    EXPECT_EQ(grid->Cell(3, 3), "VARNIX App");
    EXPECT_EQ(grid->Cell(7, 3), "2.17");
    EXPECT_EQ(window.BootSector, 2);

    window.AdvStringGrid_Modules->SetRow(2); // sector 1
    boxes.ExpectApp("Download Sector #1?", "Caution", IDYES)
        .ExpectApp("Download Successful", "Success", IDOK);
    files.Answer(Examples + "/varnix-app-2.18.hex");
    window.Button_Upgrade->click();
    EXPECT_EQ(DownloadWindowTest::RowTexts(grid, 2),
              (std::vector<std::string>{"1", "008000", "<ok>", "VARNIX App",
                                        "VARNIX interface application", "Dec 01 2026", "08:15:00",
                                        "2.18"}));
}

} // namespace

namespace {

// The driver's own configuration window, as the program opens it.
class VarnixConfigWindowTest : public VarnixModuleTest {
public:
    std::int32_t Configure(std::function<void(QDialog*)> user) {
        OnShown<QDialog> watch(std::move(user));
        return varnix->ConfigurationWindow();
    }
};

TEST_F(VarnixConfigWindowTest, WritesACoherentRecordOnlyWhenAccepted) {
    auto choose = [](bool serial, int port, int rateIndex, bool accept) {
        return [=](QDialog* d) {
            d->findChild<QRadioButton*>(serial ? "RadioButton_RS232" : "RadioButton_USB")
                ->setChecked(true);
            d->findChild<QSpinBox*>("SpinEdit_ComPort")->setValue(port);
            d->findChild<QComboBox*>("ComboBox_BitRate")->setCurrentIndex(rateIndex);
            accept ? d->accept() : d->reject();
        };
    };
    EXPECT_EQ(Configure(choose(true, 3, 1, true)), 1);
    EXPECT_EQ(varnix->Config.ComPort, 3u);
    EXPECT_EQ(varnix->Config.ComBaud, 19200u);
    EXPECT_EQ(varnix->Config.AccessPointText(), "");

    EXPECT_EQ(Configure(choose(false, 5, 0, false)), 0); // cancelled: nothing changes
    EXPECT_EQ(varnix->Config.ComPort, 3u);

    EXPECT_EQ(Configure(choose(false, 5, 0, true)), 1);
    EXPECT_EQ(varnix->Config.ComPort, 0u);
    EXPECT_EQ(varnix->Config.ComBaud, 0u);
    EXPECT_EQ(varnix->Config.AccessPointText(), "1");
}

} // namespace
