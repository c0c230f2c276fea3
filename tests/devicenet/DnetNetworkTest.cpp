// The network side of the DeviceNet downloader: going online and offline, the scanlist
// browse, the poll of the MAC IDs present with their identities, the identity texts and the
// configuration.

#include "Application.h"
#include "DnetFixture.h"
#include "DownloaderFactory.h"
#include "ScriptedDialogs.h"

#include <QTemporaryDir>
#include <cstring>

namespace {

const std::string warning = "This step will add all nodes on the network\r\n"
                            "to the explicit scanlist.\r\n"
                            "This can cause serious network interruption!\r\n"
                            "Make sure the network and all nodes are in a safe state!\r\n"
                            "\r\n"
                            "                         Continue?";

const std::string key = "\\Software\\Quorvane, LLC.\\Zandrel\\";

Calls browseCalls() {
    Calls calls;
    for (unsigned mac = 0; mac < 64; ++mac)
        calls.push_back("AddToScanlist(256," + std::to_string(mac) + ",1,48,48,1000,2500)");
    return calls;
}

Calls pollCalls() {
    Calls calls;
    for (unsigned mac = 0; mac < 64; ++mac)
        calls.push_back("NodeOnline(256," + std::to_string(mac) + ")");
    return calls;
}

// The six reads of one identity, made right after the poll of that MAC ID.
Calls identityCalls(unsigned mac) {
    const std::string at = "(256," + std::to_string(mac) + ",0x01,1,";
    return {"GetAttribute_UINT" + at + "1)",  "GetAttribute_UINT" + at + "2)",
            "GetAttribute_UINT" + at + "3)",  "GetAttribute" + at + "4,2)",
            "GetAttribute_UDINT" + at + "6)", "GetAttribute" + at + "7,256)"};
}

Calls pollReading(std::initializer_list<unsigned> readMacs) {
    Calls calls;
    for (unsigned mac = 0; mac < 64; ++mac) {
        calls.push_back("NodeOnline(256," + std::to_string(mac) + ")");
        if (std::find(readMacs.begin(), readMacs.end(), mac) != readMacs.end()) {
            const Calls reads = identityCalls(mac);
            calls.insert(calls.end(), reads.begin(), reads.end());
        }
    }
    return calls;
}

class DnetNetworkTest : public DnetDownloaderFixture {
protected:
    void SetUp() override {
        DnetDownloaderFixture::SetUp();
        InterfaceConfigRecord config{};
        config.InterfaceType = 9;
        std::strcpy(config.AccessPoint, "can0");
        fake.SetSettings(&config, {0x13F, 125000, {}});
        ASSERT_EQ(downloader->ReadConfiguration(key.c_str()), 1);
        fake.ClearCalls();
    }

    // The given nodes answer, each with an identity of its own.
    void Present(std::initializer_list<std::uint8_t> nodes) {
        for (std::uint8_t n : nodes) {
            fake.SetPresent(n, 1);
            FakeDnetDriver::Identity id;
            id.productName = "Node " + std::to_string(n);
            id.serialNumber = 1000 + n;
            fake.SetIdentity(n, id);
        }
    }
};

// Going online.

struct StartCase {
    const char* name;
    int answer;          // to the warning
    const char* failing; // the export that fails, if any
    const char* message; // then shown, if any
    std::int32_t result;
    std::size_t calls; // how far the start sequence got
};
void PrintTo(const StartCase& c, std::ostream* os) {
    *os << c.name;
}

class DnetGoOnlineTest : public DnetNetworkTest, public testing::WithParamInterface<StartCase> {};

TEST_P(DnetGoOnlineTest, WarnsThenOpensConfiguresAndOffersEveryMacId) {
    const StartCase& c = GetParam();
    binding().driverHandle = 0; // OpenInterface gives the handle
    ScriptedMessageBoxes boxes;
    boxes.ExpectSystem(warning, "Warning", c.answer, MB_YESNOCANCEL | MB_ICONEXCLAMATION);
    TCursor cursorAtMessage = crHourGlass;
    if (c.message)
        boxes.ExpectApp(c.message, "ERROR", IDOK, MB_OK).WhenShown([&] {
            cursorAtMessage = Application->ScreenCursor();
        });
    fake.SetResult("StartScan", 9);
    if (c.failing)
        fake.SetResult(c.failing, 0);

    EXPECT_EQ(downloader->GoOnline(), c.result);

    // The own MAC ID 0x13F goes as its low byte.
    Calls sequence = {"OpenInterface(9)", "SetMacID(256,63)", "SetBaud(256,125000)",
                      "SetOnline(256,1)", "StartScan(256)"};
    const Calls browse = browseCalls();
    sequence.insert(sequence.end(), browse.begin(), browse.end());
    sequence.resize(c.calls);
    EXPECT_EQ(fake.AllCalls(), sequence);
    EXPECT_EQ(boxes.Pending(), 0u);
    if (c.message) {
        EXPECT_EQ(cursorAtMessage, crDefault);
    }
    EXPECT_EQ(Application->ScreenCursor(), crDefault);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, DnetGoOnlineTest,
    testing::Values(StartCase{"No", IDNO, nullptr, nullptr, 0, 0},
                    StartCase{"Cancel", IDCANCEL, nullptr, nullptr, 0, 0},
                    StartCase{"InterfaceDoesNotOpen", IDYES, "OpenInterface",
                              "Cannot Open Interface", 0, 1},
                    StartCase{"MacIdRefused", IDYES, "SetMacID", "Cannot Set MacID", 0, 2},
                    StartCase{"BaudRefused", IDYES, "SetBaud", "Cannot Set Baud", 0, 3},
                    StartCase{"NotOnline", IDYES, "SetOnline", "Cannot Go Online", 0, 4},
                    StartCase{"ScanRefused", IDYES, "StartScan", nullptr, 0, 69},
                    StartCase{"Online", IDYES, nullptr, nullptr, 9, 69}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DnetNetworkTest, OnlineMeansEveryMacIdIsInTheScanlistWithItsFlags) {
    ScriptedMessageBoxes boxes;
    boxes.ExpectSystem(warning, "Warning", IDYES);
    ASSERT_EQ(downloader->GoOnline(), 1);
    for (int mac = 0; mac < 64; ++mac)
        EXPECT_EQ(downloader->scanlistFlags[mac], 1) << mac;
}

TEST(DnetWithoutLibrary, GoingOnlineCannotOpenTheInterfaceAndTheTextsShowZero) {
    QTemporaryDir empty;
    std::unique_ptr<TDNet_Downloader> downloader;
    {
        DriverFolder use(empty.path().toStdString());
        downloader = std::make_unique<TDNet_Downloader>();
    }
    ScriptedMessageBoxes boxes;
    boxes.ExpectSystem(warning, "Warning", IDYES);
    boxes.ExpectApp("Cannot Open Interface", "ERROR", IDOK);
    EXPECT_EQ(downloader->GoOnline(), 0);
    EXPECT_EQ(boxes.Pending(), 0u);
    EXPECT_EQ(downloader->GetBaudRateString(), "0k");
    EXPECT_EQ(downloader->GetNodeIdString(), "0");

    std::uint32_t changed = 5;
    EXPECT_EQ(downloader->UpdateNodesOnline(&changed), 1);
    EXPECT_EQ(changed, 0u);
    EXPECT_EQ(downloader->GoOffline(), 0);
}

TEST(DnetDownloaderFactory, ADeviceNetRunGetsTheDeviceNetDownloader) {
    QTemporaryDir empty;
    DriverFolder use(empty.path().toStdString());
    const auto downloader = CreateDownloaderFor(NodeTypeDeviceNet);
    EXPECT_NE(dynamic_cast<TDNet_Downloader*>(downloader.get()), nullptr);
}

// The browse.

TEST_F(DnetNetworkTest, StopBrowseTakesOutEveryMacIdButThoseThatAnswered) {
    ASSERT_EQ(downloader->StartBrowse(), 1);
    Present({3, 10});
    poll();
    fake.ClearCalls();
    fake.SetResult("RemoveFromScanlist", 0); // not looked at
    EXPECT_EQ(downloader->StopBrowse(), 1);
    Calls expected;
    for (unsigned mac = 0; mac < 64; ++mac)
        if (mac != 3 && mac != 10)
            expected.push_back("RemoveFromScanlist(256," + std::to_string(mac) + ",1)");
    EXPECT_EQ(fake.AllCalls(), expected);
    for (int mac = 0; mac < 64; ++mac)
        EXPECT_EQ(downloader->scanlistFlags[mac], mac == 3 || mac == 10 ? 1 : 0) << mac;

    // A second stop goes through the absent MAC IDs again, now with no flags.
    fake.ClearCalls();
    EXPECT_EQ(downloader->StopBrowse(), 1);
    EXPECT_EQ(fake.AllCalls().size(), 62u);
    EXPECT_EQ(fake.AllCalls().front(), "RemoveFromScanlist(256,0,0)");
}

TEST_F(DnetNetworkTest, StartBrowseOffersEveryMacIdWhateverTheDriverSays) {
    fake.SetResult("AddToScanlist", 0);
    EXPECT_EQ(downloader->StartBrowse(), 1);
    EXPECT_EQ(fake.AllCalls(), browseCalls());
}

// The poll.

TEST_F(DnetNetworkTest, OnlyANodeThatJustAppearedHasItsIdentityRead) {
    Present({3, 9});
    EXPECT_EQ(poll(), 1u);
    EXPECT_EQ(fake.AllCalls(), pollReading({3, 9}));
    EXPECT_EQ(downloader->NodesOnline, 2u);
    EXPECT_EQ(downloader->NodesOnlinePrevious, 2u);
    for (unsigned n = 0; n < 128; ++n) {
        const std::uint32_t online = n == 3 || n == 9;
        EXPECT_EQ(downloader->Online[n], online) << n;
        EXPECT_EQ(downloader->OnlinePrevious[n], online) << n;
        EXPECT_EQ(downloader->NodeId[n], 0u) << n;
    }
    EXPECT_EQ(downloader->GetProductName(9), "Node 9");

    fake.ClearCalls();
    EXPECT_EQ(poll(), 0u);
    EXPECT_EQ(fake.AllCalls(), pollCalls());

    // A node that leaves is a change, with nothing to read; one that joins is read alone.
    fake.SetPresent(9, 0);
    Present({12});
    fake.ClearCalls();
    EXPECT_EQ(poll(), 1u);
    EXPECT_EQ(fake.AllCalls(), pollReading({12}));
    EXPECT_EQ(downloader->NodesOnline, 2u);
    EXPECT_EQ(downloader->Online[9], 0u);
}

TEST_F(DnetNetworkTest, ARestartedNodeIsReadAgainWhenItReturns) {
    Present({3, 9});
    poll();
    downloader->Node = 3;
    ASSERT_EQ(downloader->Reset(), 1);
    fake.ClearCalls();
    EXPECT_EQ(poll(), 1u); // the node answers again at once
    EXPECT_EQ(fake.AllCalls(), pollReading({3}));
}

TEST_F(DnetNetworkTest, AFailedPresencePollKeepsTheNodesEntries) {
    Present({3});
    poll();
    std::vector<std::int32_t> results(64, 1);
    results[3] = 0;
    fake.QueueResults("NodeOnline", results);
    fake.SetPresent(3, 0);
    EXPECT_EQ(poll(), 1u); // the count fell
    EXPECT_EQ(downloader->Online[3], 1u);
    EXPECT_EQ(downloader->NodesOnline, 0u);
}

TEST_F(DnetNetworkTest, ANodeWhoseSerialNumberFailsShowsWhatWasReadAndTheOlderRest) {
    Present({3});
    fake.SetResult("GetAttribute_UDINT", 0);
    EXPECT_EQ(poll(), 1u);
    EXPECT_EQ(downloader->Online[3], 1u);
    EXPECT_EQ(downloader->GetVendor(3), "729");
    EXPECT_EQ(downloader->GetRevision(3), "2.5");
    EXPECT_EQ(downloader->GetSerialNumber(3), "0");
    EXPECT_EQ(downloader->GetProductName(3), "");
    EXPECT_TRUE(fake.CallsOf("GetAttribute(256,3,0x01,1,7").empty());
}

TEST_F(DnetNetworkTest, WithoutNodeOnlineInTheLibraryNoNodeIsEverListed) {
    Use(FAKE_DNET_NONODEONLINE_DIR);
    Present({3, 9});
    EXPECT_EQ(poll(), 0u);
    EXPECT_EQ(poll(), 0u);
    EXPECT_EQ(downloader->NodesOnline, 0u);
    for (int n = 0; n < 128; ++n)
        EXPECT_EQ(downloader->Online[n], 0u) << n;
    EXPECT_TRUE(fake.AllCalls().empty());
    // The rest of the library still works.
    EXPECT_EQ(downloader->StartBrowse(), 1);
    EXPECT_EQ(fake.AllCalls(), browseCalls());
}

TEST_F(DnetNetworkTest, GoingOfflineClosesAndForgetsEveryNode) {
    Present({3, 9});
    poll();
    downloader->StartBrowse();
    fake.ClearCalls();
    fake.SetResult("CloseCard", 4);
    fake.SetResult("StopScan", 0);
    fake.SetResult("SetOnline", 0);
    EXPECT_EQ(downloader->GoOffline(), 4);
    EXPECT_EQ(fake.AllCalls(), (Calls{"StopScan(256)", "SetOnline(256,0)", "CloseCard(256)"}));
    for (int n = 0; n < 128; ++n) {
        EXPECT_EQ(downloader->Online[n], 0u);
        EXPECT_EQ(downloader->OnlinePrevious[n], 0u);
    }
    EXPECT_EQ(downloader->NodesOnline, 0u);
    EXPECT_EQ(downloader->NodesOnlinePrevious, 0u);
    EXPECT_EQ(downloader->scanlistFlags[5], 1); // left as it was
    EXPECT_EQ(binding().driverHandle, 256u);    // kept after closing

    // Back online, the first poll reads every node again.
    fake.ClearCalls();
    EXPECT_EQ(poll(), 1u);
    EXPECT_EQ(fake.AllCalls(), pollReading({3, 9}));
}

TEST_F(DnetNetworkTest, DestroyingTheDownloaderGoesOfflineThenReleasesTheDriver) {
    downloader.reset();
    EXPECT_EQ(fake.AllCalls(), (Calls{"StopScan(256)", "SetOnline(256,0)", "CloseCard(256)",
                                      "CloseCard(256)", "UnloadDriver()"}));
}

// Texts.

TEST_F(DnetNetworkTest, IdentityTextsOfTheNodesOnline) {
    FakeDnetDriver::Identity id;
    id.vendorId = 65535;
    id.deviceType = 12;
    id.productCode = 0x9FE2;
    id.major = 1;
    id.minor = 10;
    id.serialNumber = 4000000000u;
    id.productName = "Valve Terminal";
    fake.SetIdentity(12, id);
    fake.SetPresent(12, 1);
    poll();

    struct Row {
        std::uint8_t node;
        std::vector<std::string> texts;
    };
    for (const Row& row :
         {Row{12, {"12", "65535", "12", "40930", "1.10", "4000000000", "Valve Terminal"}},
          Row{13, {"13", "0", "0", "0", "0.0", "0", ""}}, // never read
          Row{64, {"64", "", "", "", "", "", ""}}}) {     // past the last MAC ID
        const std::uint8_t n = row.node;
        EXPECT_EQ(
            (std::vector<std::string>{downloader->GetNodeString(n), downloader->GetVendor(n),
                                      downloader->GetDeviceType(n), downloader->GetProductCode(n),
                                      downloader->GetRevision(n), downloader->GetSerialNumber(n),
                                      downloader->GetProductName(n)}),
            row.texts);
    }
}

TEST_F(DnetNetworkTest, BaudRateAndOwnMacIdTexts) {
    struct Case {
        std::uint32_t macId, baud;
        const char* macText;
        const char* baudText;
    };
    for (const Case& c : {Case{5, 125000, "5", "125k"}, Case{63, 250000, "63", "250k"},
                          Case{0, 500000, "0", "500k"}, Case{1, 999, "1", "0k"}}) {
        binding().networkSettings.MacId = c.macId;
        binding().networkSettings.BaudRate = c.baud;
        EXPECT_EQ(downloader->GetNodeIdString(), c.macText);
        EXPECT_EQ(downloader->GetBaudRateString(), c.baudText);
    }
}

// Configuration.

TEST_F(DnetNetworkTest, ConfigurationGoesThroughTheDriverWithBothRecords) {
    InterfaceConfigRecord config;
    ASSERT_EQ(downloader->GetInterfaceConfig(&config), 1); // as ReadConfiguration filled it
    EXPECT_EQ(config.InterfaceType, 9u);
    EXPECT_EQ(config.AccessPointText(), "can0");
    EXPECT_EQ(downloader->GetNodeIdString(), "319");

    InterfaceConfigRecord chosen{};
    chosen.InterfaceType = 2;
    fake.SetSettings(&chosen, {10, 500000, {}}); // what the user chooses in the window
    EXPECT_EQ(downloader->ConfigurationWindow(), 1);
    EXPECT_EQ(downloader->SaveConfiguration(key.c_str()), 1);
    char name[256] = {};
    EXPECT_EQ(downloader->GetInterfaceName(name), 1);
    EXPECT_STREQ(name, "Fake DeviceNet 2");
    fake.SetResult("HardwareConfigurationWindow", 3);
    EXPECT_EQ(downloader->HardwareConfigurationWindow(0x1234), 3);
    fake.SetResult("VersionInformationWindow", 6);
    EXPECT_EQ(downloader->VersionInformationWindow(), 6);
    EXPECT_EQ(fake.AllCalls(),
              (Calls{"DeviceNetConfigurationWindow(9,319,125000)",
                     "SaveConfiguration(" + key + ",2,10,500000)", "GetInterfaceName(2)",
                     "HardwareConfigurationWindow(4660)", "VersionInformationWindow(256)"}));
    EXPECT_EQ(downloader->GetBaudRateString(), "500k");

    fake.SetResult("DeviceNetConfigurationWindow", 0); // cancelled: the records stay
    EXPECT_EQ(downloader->ConfigurationWindow(), 0);
    EXPECT_EQ(downloader->GetNodeIdString(), "10");

    std::uint16_t nodes = 0;
    EXPECT_EQ(downloader->GetMaxNodes(&nodes), 1);
    EXPECT_EQ(nodes, 128);
}

} // namespace
