#include "FormScale.h"
#include "MainWindowFixture.h"

#include <QGroupBox>
#include <cstring>

namespace {

struct PanelCase {
    const char* name;
    InterfaceConfigRecord record;
    const char* label1;
    const char* value1;
    const char* label2; // nullptr: second line hidden
    const char* value2;
};

InterfaceConfigRecord record(std::uint32_t port, std::uint32_t irq, std::uint32_t comPort,
                             std::uint32_t comBaud, const char* accessPoint) {
    InterfaceConfigRecord r{};
    r.Port = port;
    r.Irq = irq;
    r.ComPort = comPort;
    r.ComBaud = comBaud;
    std::strncpy(r.AccessPoint, accessPoint, sizeof r.AccessPoint - 1);
    return r;
}

class InterfacePanelTest : public MainWindowTest,
                           public testing::WithParamInterface<std::tuple<PanelCase, TNodeType>> {};

TEST_P(InterfacePanelTest, PanelShowsTheRecordAsTheNodeTypeWants) {
    const auto& [c, type] = GetParam();
    Show(type, [&](ScriptedDownloader& d) { d.config = c.record; });
    EXPECT_EQ(window.StaticText_InterfaceType->text(), "Scripted");
    EXPECT_EQ(window.StaticText_InterfaceConfigLabel1->text(), c.label1);
    EXPECT_EQ(window.StaticText_InterfaceConfig1->text(), c.value1);
    EXPECT_EQ(window.StaticText_InterfaceConfigLabel2->isVisible(), c.label2 != nullptr);
    EXPECT_EQ(window.StaticText_InterfaceConfig2->isVisible(), c.label2 != nullptr);
    if (c.label2) {
        EXPECT_EQ(window.StaticText_InterfaceConfigLabel2->text(), c.label2);
        EXPECT_EQ(window.StaticText_InterfaceConfig2->text(), c.value2);
    }
    const bool varnix = type == NodeTypeVARNIX;
    for (QLabel* label : {window.StaticText3, window.StaticText_NetworkBaud, window.StaticText4,
                          window.StaticText_Id})
        EXPECT_EQ(label->isVisible(), !varnix);
    if (!varnix) {
        EXPECT_EQ(window.StaticText_NetworkBaud->text(), "500K");
        EXPECT_EQ(window.StaticText_Id->text(), "62");
        EXPECT_EQ(window.StaticText4->text(), type == NodeTypeCANopen ? "NodeID:" : "MacId:");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Records, InterfacePanelTest,
    testing::Combine(testing::Values(PanelCase{"AccessPointWinsOverPort",
                                               record(768, 5, 1, 57600, "PCAN-1"),
                                               "Access Point:", "PCAN-1", nullptr, nullptr},
                                     PanelCase{"PortWithoutIrq", record(768, 0, 1, 0, ""),
                                               "Port:", "768", nullptr, nullptr},
                                     PanelCase{"PortWithIrq", record(768, 5, 0, 0, ""),
                                               "Port:", "768", "IRQ:", "5"},
                                     PanelCase{"ComPortAndRate", record(0, 0, 1, 57600, ""),
                                               "COM Port:", "COM1", "COM Baud:", "57600"},
                                     PanelCase{"ComPortWithoutRate", record(0, 0, 2, 0, ""),
                                               "COM Port:", "COM2", nullptr, nullptr},
                                     PanelCase{"NothingConfigured", record(0, 0, 0, 0, ""),
                                               "Not Configured", "", nullptr, nullptr}),
                     testing::Values(NodeTypeDeviceNet, NodeTypeCANopen, NodeTypeVARNIX)),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) + "_Type" +
               std::to_string(std::get<1>(info.param));
    });

using InterfacePanel = MainWindowTest;

TEST_F(InterfacePanel, FirstShowNamesTheGroupAndReadsTheConfiguration) {
    Show(NodeTypeCANopen);
    EXPECT_EQ(window.GroupBox_Interface->title(), "CANopen Interface:");
    EXPECT_EQ(node->NodeType, 2u);
    EXPECT_EQ(node->Calls().at(0), "ReadConfiguration(\\Software\\Quorvane, LLC.\\Zandrel\\)");
    EXPECT_EQ(window.AdvStringGrid_NodesOnline->Cell(0, 0), "Node ID");
    EXPECT_EQ(window.AdvStringGrid_NodesOnline->Cell(6, 0), "Device Name");
    EXPECT_EQ(window.AdvStringGrid_NodesOnline->ColWidth(6), FormScale::Of(&window).X(100));
}

TEST_F(InterfacePanel, FailedQueriesKeepThePanelsTexts) {
    Show(NodeTypeDeviceNet, [](ScriptedDownloader& d) {
        d.configOk = false;
        d.config.ComPort = 4;
    });
    EXPECT_EQ(window.StaticText_InterfaceType->text(), "None");
    EXPECT_EQ(window.StaticText_InterfaceConfigLabel1->text(), "Access Point:");
    EXPECT_EQ(window.StaticText_InterfaceConfig2->text(), "57600");

    node->configOk = true;
    node->interfaceNameOk = false;
    node->configurationAccepted = true;
    window.Configuration2->trigger();
    EXPECT_EQ(window.StaticText_InterfaceType->text(), "None");
    EXPECT_EQ(window.StaticText_InterfaceConfig1->text(), "COM4");
}

TEST_F(InterfacePanel, AccessPointWithoutTerminatingZeroStaysInItsField) {
    Show(NodeTypeDeviceNet, [](ScriptedDownloader& d) {
        std::memset(d.config.AccessPoint, 'A', sizeof d.config.AccessPoint);
    });
    EXPECT_EQ(window.StaticText_InterfaceConfig1->text(), QString(256, QChar('A')));
}

TEST_F(InterfacePanel, ConfigurationIsSavedOnlyWhenAccepted) {
    Show(NodeTypeDeviceNet, [](ScriptedDownloader& d) { d.config.ComPort = 1; });
    node->ClearCalls();
    node->config.ComPort = 7;
    window.Configuration1->trigger(); // cancelled
    EXPECT_EQ(node->Calls(), (std::vector<std::string>{"ConfigurationWindow"}));
    EXPECT_EQ(window.StaticText_InterfaceConfig1->text(), "COM1");

    node->configurationAccepted = true;
    window.Configuration2->trigger();
    EXPECT_EQ(node->Calls().back(), "SaveConfiguration(\\Software\\Quorvane, LLC.\\Zandrel\\)");
    EXPECT_EQ(window.StaticText_InterfaceConfig1->text(), "COM7");
}

TEST_F(InterfacePanel, WithoutDownloaderNothingHappens) {
    window.NodeType = NodeTypeDeviceNet;
    window.CreateDownloader = [](TNodeType) {
        return nullptr;
    };
    window.show();
    window.Button_NetworkStart->click();
    window.Configuration1->trigger();
    window.VersionInfo1->trigger();
    window.Button_BrowseClick();
    EXPECT_TRUE(window.Button_NetworkStart->isEnabled());
    EXPECT_EQ(window.FillNodesOnlineGrid(), 0);
    EXPECT_EQ(window.EndBrowse(), 0);
    EXPECT_EQ(window.StaticText_InterfaceType->text(), "None");
}

} // namespace
