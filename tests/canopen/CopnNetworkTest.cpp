// The network side of the CANopen downloader: going online and offline, the network search,
// the poll of the nodes online with their identities, the identity texts and the
// configuration.

#include "Application.h"
#include "CopnFixture.h"
#include "Form_FW_Download_Main.h"
#include "LastError.h"
#include "ScriptedDialogs.h"

#include <QPushButton>
#include <QTemporaryDir>
#include <cstring>
#include <utility>

namespace {

const std::string goOnlineQuestion =
    "!!!Warning!!!\r\nThis Network Search will cause all nodes to be Reset using the Reset "
    "Communication command.\r\n Is it safe to issue this command?";
const std::string browseQuestion =
    "!!!Warning!!!\r\nThis Network Search will cause all nodes not listed to be Reset using the "
    "Reset Communication command.\r\n Is it safe to issue this command?";

const std::string key = "\\Software\\Quorvane, LLC.\\Zandrel\\";

std::string nodeCall(const char* name, unsigned node, const std::string& rest = "") {
    return std::string(name) + "(256," + std::to_string(node) + rest + ")";
}

// The uploads of one identity read of node n.
Calls identityCalls(unsigned n) {
    const std::string node = "(256," + std::to_string(n) + ",";
    return {"SetSDOTimeout(256,500)",
            "SDO_Upload_UNSIGNED32" + node + "0x1000,0)",
            "SDO_Upload_UNSIGNED8" + node + "0x1001,0)",
            "SDO_Upload" + node + "0x1008,0,256)",
            "SDO_Upload" + node + "0x1009,0,256)",
            "SDO_Upload" + node + "0x100A,0,256)",
            "SDO_Upload_UNSIGNED32" + node + "0x1018,1)",
            "SDO_Upload_UNSIGNED32" + node + "0x1018,2)",
            "SDO_Upload_UNSIGNED32" + node + "0x1018,3)",
            "SDO_Upload_UNSIGNED32" + node + "0x1018,4)"};
}

Calls pollCalls() {
    Calls calls;
    for (unsigned n = 1; n <= 127; ++n)
        calls.push_back(nodeCall("GetNodeOnline", n));
    return calls;
}

void append(Calls& to, const Calls& more) {
    to.insert(to.end(), more.begin(), more.end());
}

// The cursor at each driver call.
std::vector<std::pair<std::string, TCursor>> cursorAtCall;
void recordCursor(const char* call) {
    cursorAtCall.emplace_back(call, Application->ScreenCursor());
}

class CopnNetworkTest : public CopnDownloaderFixture {
protected:
    void SetUp() override {
        CopnDownloaderFixture::SetUp();
        InterfaceConfigRecord config{};
        config.InterfaceType = 9;
        std::strcpy(config.AccessPoint, "can0");
        fake.SetSettings(&config, {0x17F, 250000, 0, {}});
        ASSERT_EQ(downloader->ReadConfiguration(key.c_str()), 1);
        fake.ClearCalls();
    }

    // Network access as GoOnline leaves it, with the given nodes answering.
    void GoOnlineWith(std::initializer_list<std::uint8_t> nodes) {
        ScriptedMessageBoxes boxes;
        boxes.ExpectApp(goOnlineQuestion, "CAUTION", IDYES);
        ASSERT_EQ(downloader->GoOnline(), 1);
        for (std::uint8_t n : nodes) {
            fake.SetNodeOnline(n, 1);
            FakeCopnDriver::Identity id;
            id.deviceName = "Node " + std::to_string(n);
            id.serialNumber = 1000 + n;
            fake.SetIdentity(n, id);
        }
        fake.ClearCalls();
    }
};

// Going online.

struct StartCase {
    const char* name;
    int answer;          // to the caution prompt
    const char* failing; // the export that fails, if any
    DWORD errorLeft;     // left in the last-error value by a failing OpenInterface
    const char* message; // then shown, if any
    const char* caption;
    std::int32_t result;
    std::size_t calls; // how far the start sequence got
};
void PrintTo(const StartCase& c, std::ostream* os) {
    *os << c.name;
}

class CopnGoOnlineTest : public CopnNetworkTest, public testing::WithParamInterface<StartCase> {};

TEST_P(CopnGoOnlineTest, PromptsCallsAndMessages) {
    const StartCase& c = GetParam();
    binding().driverHandle = 0; // OpenInterface gives the handle
    ScriptedMessageBoxes boxes;
    boxes.ExpectApp(goOnlineQuestion, "CAUTION", c.answer, MB_YESNOCANCEL);
    TCursor cursorAtMessage = crHourGlass;
    if (c.message)
        boxes.ExpectApp(c.message, c.caption, IDOK, MB_OK).WhenShown([&] {
            cursorAtMessage = Application->ScreenCursor();
        });
    if (c.failing)
        fake.SetResult(c.failing, 0);
    fake.SetOpenError(c.errorLeft);
    fake.SetResult("NMT_ResetCommunication", 9);

    EXPECT_EQ(downloader->GoOnline(), c.result);

    Calls sequence = {"OpenInterface(9)", "SetNodeID(256,127)", "SetBaud(256,250000)"};
    for (unsigned n = 1; n <= 127; ++n)
        sequence.push_back(nodeCall("AddNode", n));
    sequence.push_back("SetOnline(256,1)");
    sequence.push_back("NMT_ResetCommunication(256,0)");
    sequence.resize(c.calls);
    EXPECT_EQ(fake.AllCalls(), sequence);
    EXPECT_EQ(boxes.Pending(), 0u);
    if (c.message) {
        EXPECT_EQ(cursorAtMessage, crDefault);
    }
    EXPECT_EQ(Application->ScreenCursor(), crDefault);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, CopnGoOnlineTest,
    testing::Values(
        StartCase{"No", IDNO, nullptr, 0, nullptr, nullptr, 0, 0},
        StartCase{"Cancel", IDCANCEL, nullptr, 0, nullptr, nullptr, 0, 0},
        StartCase{"InterfaceInTheWrongMode", IDYES, "OpenInterface", 0x20000000,
                  "Interface is not in correct mode!", "Error", 0, 1},
        StartCase{"InterfaceDoesNotOpen", IDYES, "OpenInterface", 0x20000001,
                  "Cannot Open Interface", "Error", 0, 1},
        StartCase{"NodeIdRefused", IDYES, "SetNodeID", 0, "Cannot Set Node ID", "ERROR", 0, 2},
        StartCase{"NotOnline", IDYES, "SetOnline", 0, "Cannot Go Online", "ERROR", 0, 131},
        StartCase{"Online", IDYES, nullptr, 0, nullptr, nullptr, 9, 132}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CopnNetworkTest, AnEarlierLastErrorDoesNotNameTheOpenFailure) {
    ScriptedMessageBoxes boxes;
    boxes.ExpectApp(goOnlineQuestion, "CAUTION", IDYES);
    boxes.ExpectApp("Cannot Open Interface", "Error", IDOK);
    fake.SetResult("OpenInterface", 0); // and leaves the last-error value alone
    SetLastError(0x20000000);
    EXPECT_EQ(downloader->GoOnline(), 0);
}

TEST_F(CopnNetworkTest, HourglassWhileTheInterfaceOpensAndGoesOnline) {
    cursorAtCall.clear();
    fake.SetObserver(recordCursor);
    ScriptedMessageBoxes boxes;
    boxes.ExpectApp(goOnlineQuestion, "CAUTION", IDYES);
    ASSERT_EQ(downloader->GoOnline(), 1);
    fake.SetObserver(nullptr);
    for (const auto& [call, cursor] : cursorAtCall)
        if (call.rfind("OpenInterface", 0) == 0 || call.rfind("SetNodeID", 0) == 0 ||
            call.rfind("SetBaud", 0) == 0 || call.rfind("SetOnline", 0) == 0) {
            EXPECT_EQ(cursor, crHourGlass) << call;
        }
    EXPECT_EQ(cursorAtCall.size(), 132u);
    EXPECT_EQ(Application->ScreenCursor(), crDefault);
}

TEST(CopnWithoutLibrary, GoingOnlineCannotOpenTheInterface) {
    QTemporaryDir empty;
    std::unique_ptr<TCOPN_Downloader> downloader;
    {
        DriverFolder use(empty.path().toStdString());
        downloader = std::make_unique<TCOPN_Downloader>();
    }
    ScriptedMessageBoxes boxes;
    boxes.ExpectApp(goOnlineQuestion, "CAUTION", IDYES);
    boxes.ExpectApp("Cannot Open Interface", "Error", IDOK);
    EXPECT_EQ(downloader->GoOnline(), 0);
    EXPECT_EQ(boxes.Pending(), 0u);

    std::uint32_t changed = 5;
    std::uint16_t nodes = 0;
    InterfaceConfigRecord config;
    EXPECT_EQ(downloader->ReadConfiguration(key.c_str()), 0);
    EXPECT_EQ(downloader->UpdateNodesOnline(&changed), 1); // every address new, none online
    EXPECT_EQ(changed, 1u);
    EXPECT_EQ(downloader->NodesOnline, 0u);
    EXPECT_EQ(downloader->GetMaxNodes(&nodes), 1);
    EXPECT_EQ(nodes, 128);
    EXPECT_EQ(downloader->GetInterfaceConfig(&config), 1);
    EXPECT_EQ(config.InterfaceType, 0u);
    EXPECT_EQ(downloader->GoOffline(), 0);
}

// The main window of a CANopen run, with no driver library in reach: it shows, and starting
// network access ends at the open failure.
TEST(CopnWithoutLibrary, MainWindowStartsAndReportsTheInterface) {
    QTemporaryDir empty;
    DriverFolder use(empty.path().toStdString());
    TForm_FW_Download_Main window;
    window.NodeType = NodeTypeCANopen;
    window.show();
    ASSERT_NE(dynamic_cast<TCOPN_Downloader*>(window.Downloader.get()), nullptr);
    ScriptedMessageBoxes boxes;
    boxes.ExpectApp(goOnlineQuestion, "CAUTION", IDYES);
    boxes.ExpectApp("Cannot Open Interface", "Error", IDOK);
    window.Button_NetworkStart->click();
    EXPECT_EQ(boxes.Pending(), 0u);
    EXPECT_TRUE(window.Button_NetworkStart->isEnabled());
    window.close();
}

// The network search.

TEST_F(CopnNetworkTest, BrowseResetsTheNodesNotListedOneAtATime) {
    downloader->Online[3] = 1;
    downloader->Online[9] = 1;
    std::vector<std::int32_t> results(124, 1);
    results.push_back(4); // the last command's result is the search's
    fake.QueueResults("NMT_ResetCommunication", results);
    ScriptedMessageBoxes boxes;
    boxes.ExpectApp(browseQuestion, "CAUTION", IDYES, MB_YESNOCANCEL);
    EXPECT_EQ(downloader->StartBrowse(), 4);
    Calls expected;
    for (unsigned n = 1; n <= 127; ++n)
        if (n != 3 && n != 9)
            expected.push_back(nodeCall("NMT_ResetCommunication", n));
    EXPECT_EQ(expected.size(), 125u);
    EXPECT_EQ(fake.AllCalls(), expected);
}

TEST_F(CopnNetworkTest, BrowseSendsNothingUnlessAskedToOrNeeded) {
    ScriptedMessageBoxes boxes;
    boxes.ExpectApp(browseQuestion, "CAUTION", IDNO);
    boxes.ExpectApp(browseQuestion, "CAUTION", IDCANCEL);
    EXPECT_EQ(downloader->StartBrowse(), 0);
    EXPECT_EQ(downloader->StartBrowse(), 0);

    for (int n = 1; n <= 127; ++n)
        downloader->Online[n] = 1;
    boxes.ExpectApp(browseQuestion, "CAUTION", IDYES);
    EXPECT_EQ(downloader->StartBrowse(), 1); // nothing left to search for
    EXPECT_TRUE(fake.AllCalls().empty());
}

// The poll.

TEST_F(CopnNetworkTest, FirstPollReadsTheNewNodesAndGuardsThemASecondReportsNoChange) {
    GoOnlineWith({3, 9});
    EXPECT_EQ(poll(), 1u);
    Calls expected = pollCalls();
    append(expected, identityCalls(3));
    expected.push_back("NMT_StartGuarding(256,3,1,1000)");
    append(expected, identityCalls(9));
    expected.push_back("NMT_StartGuarding(256,9,1,1000)");
    EXPECT_EQ(fake.AllCalls(), expected);
    EXPECT_EQ(downloader->NodesOnline, 2u);
    EXPECT_EQ(downloader->NodesOnlinePrevious, 2u);
    for (unsigned n = 0; n < 128; ++n) {
        const std::uint32_t online = n == 3 || n == 9;
        EXPECT_EQ(downloader->Online[n], online) << n;
        EXPECT_EQ(downloader->OnlinePrevious[n], online) << n;
        EXPECT_EQ(downloader->NodeId[n], n) << n;
        EXPECT_EQ(downloader->NodeIdPrevious[n], n) << n;
    }
    EXPECT_EQ(downloader->GetProductName(9), "Node 9");

    fake.ClearCalls();
    EXPECT_EQ(poll(), 0u);
    EXPECT_EQ(fake.AllCalls(), pollCalls());

    // A node that leaves is a change, with nothing to read.
    fake.SetNodeOnline(9, 0);
    fake.ClearCalls();
    EXPECT_EQ(poll(), 1u);
    EXPECT_EQ(fake.AllCalls(), pollCalls());
    EXPECT_EQ(downloader->NodesOnline, 1u);
    EXPECT_EQ(downloader->Online[9], 0u);
}

TEST_F(CopnNetworkTest, ARestartedNodeIsReadAndGuardedAgainWhenItReturns) {
    GoOnlineWith({3, 9});
    poll();
    downloader->Node = 3;
    ASSERT_EQ(downloader->Reset(), 1);
    fake.ClearCalls();
    EXPECT_EQ(poll(), 1u); // the node answers again at once
    Calls expected = pollCalls();
    append(expected, identityCalls(3));
    expected.push_back("NMT_StartGuarding(256,3,1,1000)");
    EXPECT_EQ(fake.AllCalls(), expected);
}

TEST_F(CopnNetworkTest, ANodeWithoutDeviceTypeKeepsItsTextsAndIsCountedOnline) {
    GoOnlineWith({3});
    poll();
    downloader->Node = 3;
    downloader->Reset();
    fake.SetResult("SDO_Upload_UNSIGNED32", 0);
    fake.ClearCalls();
    EXPECT_EQ(poll(), 1u);
    EXPECT_EQ(fake.CallsOf("SDO_Upload"),
              Calls(2, "SDO_Upload_UNSIGNED32(256,3,0x1000,0)")); // tried twice, nothing more
    EXPECT_EQ(fake.CallsOf("NMT_StartGuarding"), Calls{"NMT_StartGuarding(256,3,1,1000)"});
    EXPECT_EQ(downloader->NodesOnline, 1u);
    EXPECT_EQ(downloader->GetProductName(3), "Node 3");
}

TEST_F(CopnNetworkTest, ANodeWhoseStateCannotBeAskedIsOffline) {
    GoOnlineWith({3});
    fake.SetResult("GetNodeOnline", 0);
    EXPECT_EQ(poll(), 1u); // every address is new
    EXPECT_EQ(downloader->NodesOnline, 0u);
    EXPECT_EQ(downloader->Online[3], 0u);
    EXPECT_TRUE(fake.CallsOf("SetSDOTimeout").empty());
}

TEST_F(CopnNetworkTest, WithoutGuardingInTheLibraryThePollStillRuns) {
    Use(FAKE_COPN_NOGUARD_DIR);
    GoOnlineWith({3, 9});
    EXPECT_EQ(poll(), 1u);
    EXPECT_EQ(downloader->NodesOnline, 2u);
    EXPECT_EQ(fake.CallsOf("SetSDOTimeout").size(), 2u);
    EXPECT_EQ(downloader->GetProductName(9), "Node 9");
    EXPECT_EQ(poll(), 0u);
}

TEST_F(CopnNetworkTest, GoingOfflineClosesAndForgetsEveryNode) {
    GoOnlineWith({3, 9});
    poll();
    fake.ClearCalls();
    fake.SetResult("CloseCard", 4);
    EXPECT_EQ(downloader->GoOffline(), 4);
    EXPECT_EQ(fake.AllCalls(), (Calls{"SetOnline(256,0)", "CloseCard(256)"}));
    for (int n = 0; n < 128; ++n) {
        EXPECT_EQ(downloader->Online[n], 0u);
        EXPECT_EQ(downloader->OnlinePrevious[n], 0u);
        EXPECT_EQ(downloader->NodeId[n], 0u);
        EXPECT_EQ(downloader->NodeIdPrevious[n], 0u);
    }
    EXPECT_EQ(downloader->NodesOnline, 0u);
    EXPECT_EQ(downloader->NodesOnlinePrevious, 0u);
    EXPECT_EQ(binding().driverHandle, 256u); // kept after closing

    // Back online, the first poll reads every node again.
    GoOnlineWith({3, 9});
    EXPECT_EQ(poll(), 1u);
    EXPECT_EQ(fake.CallsOf("SetSDOTimeout").size(), 2u);
}

TEST_F(CopnNetworkTest, DestroyingTheDownloaderGoesOfflineThenReleasesTheDriver) {
    downloader.reset();
    EXPECT_EQ(fake.AllCalls(), (Calls{"SetOnline(256,0)", "CloseCard(256)", "SetOnline(256,0)",
                                      "CloseCard(256)", "UnloadDriver()"}));
}

// Texts.

TEST_F(CopnNetworkTest, IdentityTextsOfTheNodesOnline) {
    GoOnlineWith({});
    FakeCopnDriver::Identity id;
    id.deviceType = 0x00020192;
    id.deviceName = "Valve Terminal";
    id.softwareVersion = "V2.07";
    id.hardwareVersion = "HW 3";
    id.vendorId = 0x2A5;
    id.productCode = 0x123;
    id.serialNumber = 4000000000u;
    fake.SetIdentity(12, id);
    fake.SetNodeOnline(12, 1);
    poll();

    struct Row {
        std::uint8_t node;
        std::vector<std::string> texts;
    };
    for (const Row& row :
         {Row{12, {"12", "677", "0x00020192", "291", "V2.07", "4000000000", "Valve Terminal"}},
          Row{13, {"13", "0", "0x00000000", "0", "", "0", ""}}, // never read
          Row{200, {"200", "", "", "", "", "", ""}}}) {         // no such address
        const std::uint8_t n = row.node;
        EXPECT_EQ(
            (std::vector<std::string>{downloader->GetNodeString(n), downloader->GetVendor(n),
                                      downloader->GetDeviceType(n), downloader->GetProductCode(n),
                                      downloader->GetRevision(n), downloader->GetSerialNumber(n),
                                      downloader->GetProductName(n)}),
            row.texts);
    }
}

TEST_F(CopnNetworkTest, BitRateAndOwnNodeIdTexts) {
    struct Case {
        std::uint32_t nodeId, bitRate;
        const char* nodeText;
        const char* rateText;
    };
    for (const Case& c : {Case{5, 250000, "5", "250k"}, Case{5, 10000, "5", "10k"},
                          Case{127, 999, "127", "0k"}, Case{1, 1000000, "1", "1000k"}}) {
        binding().networkSettings.NodeId = c.nodeId;
        binding().networkSettings.BitRate = c.bitRate;
        EXPECT_EQ(downloader->GetNodeIdString(), c.nodeText);
        EXPECT_EQ(downloader->GetBaudRateString(), c.rateText);
    }
}

// Configuration.

TEST_F(CopnNetworkTest, ConfigurationGoesThroughTheDriverWithBothRecords) {
    InterfaceConfigRecord config;
    ASSERT_EQ(downloader->GetInterfaceConfig(&config), 1); // as ReadConfiguration filled it
    EXPECT_EQ(config.InterfaceType, 9u);
    EXPECT_EQ(config.AccessPointText(), "can0");
    EXPECT_EQ(downloader->GetNodeIdString(), "383");
    EXPECT_EQ(downloader->copnInterface->SdoTimeout(), 500); // none stored: the default

    InterfaceConfigRecord chosen{};
    chosen.InterfaceType = 2;
    fake.SetSettings(&chosen, {10, 125000, 1500, {}}); // what the user chooses in the window
    EXPECT_EQ(downloader->ConfigurationWindow(), 1);
    EXPECT_EQ(downloader->copnInterface->SdoTimeout(), 1500);
    EXPECT_EQ(downloader->SaveConfiguration(key.c_str()), 1);
    char name[256] = {};
    EXPECT_EQ(downloader->GetInterfaceName(name), 1);
    EXPECT_STREQ(name, "Fake CAN 2");
    fake.SetResult("HardwareConfigurationWindow", 3);
    EXPECT_EQ(downloader->HardwareConfigurationWindow(0x1234), 3);
    EXPECT_EQ(fake.AllCalls(), (Calls{"CANopenConfigurationWindow(9,383,250000)",
                                      "SaveConfiguration(" + key + ",2,10,125000)",
                                      "GetInterfaceName(2)", "HardwareConfigurationWindow(4660)"}));
    EXPECT_EQ(downloader->GetBaudRateString(), "125k");

    fake.SetResult("CANopenConfigurationWindow", 0); // cancelled: the records stay
    EXPECT_EQ(downloader->ConfigurationWindow(), 0);
    EXPECT_EQ(downloader->GetNodeIdString(), "10");
    EXPECT_EQ(downloader->copnInterface->SdoTimeout(), 1500);

    // What is stored is what the next start works with.
    fake.SetSettings(&chosen, {10, 125000, 800, {}});
    ASSERT_EQ(downloader->ReadConfiguration(key.c_str()), 1);
    EXPECT_EQ(downloader->copnInterface->SdoTimeout(), 800);
}

TEST_F(CopnNetworkTest, FixedAnswersAskNothingOfTheDriver) {
    std::uint16_t nodes = 0;
    std::uint32_t browseTime = 77;
    EXPECT_EQ(downloader->GetMaxNodes(&nodes), 1);
    EXPECT_EQ(nodes, 128);
    EXPECT_EQ(downloader->GetBrowseTime(&browseTime), 0); // the main window uses its own
    EXPECT_EQ(browseTime, 77u);
    EXPECT_EQ(downloader->StopBrowse(), 0);
    EXPECT_EQ(downloader->VersionInformationWindow(), 0);
    EXPECT_TRUE(fake.AllCalls().empty());
}

} // namespace
