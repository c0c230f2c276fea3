// zandrel-flash as a script runs it, over the real driver libraries and their embedded
// simulated networks: nodes updated in one command and skipped the second time, the report
// read field by field, and the ways an update is refused or stopped. The nodes take their
// default restart time; the program's fixed pauses end when what they wait for is done.

#include "FlashHarness.h"
#include "SimulatedCanopen.h"
#include "SimulatedDevicenet.h"
#include "SimulatedVarnix.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <atomic>
#include <csignal>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>

namespace {

struct Network {
    const char* name;
    const char* bus;
    std::function<std::shared_ptr<void>()> start;
    std::vector<int> nodes;
    const char* image;
    const char* imageName;
    const char* revisionBefore;
    const char* revisionAfter;
};

const Network Networks[] = {
    {"CANopen",
     "c",
     [] { return std::make_shared<SimulatedCanopen>(); },
     {3, 12},
     EXAMPLES_DIR "/canopen-app-1.6.hex",
     "CANopen App",
     "1.5",
     "1.6"},
    {"DeviceNet",
     "d",
     [] { return std::make_shared<SimulatedDevicenet>(); },
     {3, 10},
     EXAMPLES_DIR "/devicenet-app-1.6.hex",
     "DeviceNet App",
     "1.5",
     "1.6"},
    {"VARNIX",
     "u",
     [] { return std::make_shared<SimulatedVarnix>(); },
     {1},
     EXAMPLES_DIR "/varnix-app-3.0.hex",
     "VARNIX App",
     "2.17",
     "3.0"},
};

std::string nodeList(const std::vector<int>& nodes) {
    std::string list;
    for (int node : nodes)
        list += (list.empty() ? "" : ",") + std::to_string(node);
    return list;
}

class FlashToolOnEachNetwork : public testing::TestWithParam<Network> {};

TEST_P(FlashToolOnEachNetwork, UpdatesTheNodesThenSkipsThemWhenTheyHoldTheFile) {
    const Network& network = GetParam();
    auto simulated = network.start();
    const std::string command = std::string("update --bus ") + network.bus + " --node " +
                                nodeList(network.nodes) + " --password 1A2B --yes --json - " +
                                network.image;

    const FlashResult first = flash(command);
    EXPECT_EQ(first.status, 0) << first.err;
    const QJsonArray updated = records(first);
    ASSERT_EQ(updated.size(), static_cast<int>(network.nodes.size())) << first.out;
    for (int i = 0; i < updated.size(); ++i) {
        SCOPED_TRACE("node " + std::to_string(network.nodes[i]));
        const QJsonObject record = updated[i].toObject();
        EXPECT_EQ(record["node"].toInt(), network.nodes[i]);
        EXPECT_EQ(text(record["result"]), "updated") << text(record["message"]);
        EXPECT_EQ(record["sector"].toInt(), 2);
        EXPECT_EQ(text(record["file"]), network.image);
        EXPECT_EQ(text(record["before"].toObject()["revision"]), network.revisionBefore);
        EXPECT_EQ(text(record["after"].toObject()["revision"]), network.revisionAfter);
        EXPECT_EQ(text(record["after"].toObject()["serial_number"]),
                  text(record["before"].toObject()["serial_number"]));
        EXPECT_EQ(text(record["image"].toObject()["name"]), network.imageName);
        EXPECT_EQ(text(record["image"].toObject()["revision"]), network.revisionAfter);
        EXPECT_GT(record["bytes"].toInteger(), 0);
        EXPECT_GE(record["seconds"].toDouble(), 0.0);
    }

    const FlashResult second = flash(command + " --skip-identical");
    EXPECT_EQ(second.status, 0) << second.err;
    const QJsonArray skipped = records(second);
    ASSERT_EQ(skipped.size(), static_cast<int>(network.nodes.size())) << second.out;
    for (int i = 0; i < skipped.size(); ++i) {
        const QJsonObject record = skipped[i].toObject();
        EXPECT_EQ(text(record["result"]), "skipped") << text(record["message"]);
        EXPECT_EQ(record["bytes"].toInteger(), 0);
        EXPECT_EQ(text(record["after"].toObject()["revision"]), network.revisionAfter);
    }
}

INSTANTIATE_TEST_SUITE_P(Networks, FlashToolOnEachNetwork, testing::ValuesIn(Networks),
                         [](const testing::TestParamInfo<Network>& info) {
                             return std::string(info.param.name);
                         });

TEST(FlashTool, ListsTheNodesWithTheMainWindowsColumns) {
    SimulatedCanopen simulated;
    const FlashResult table = flash("list --bus c --yes");
    EXPECT_EQ(table.status, 0) << table.err;
    EXPECT_NE(table.out.find("Node ID  Vendor ID  Device Type"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("Simulated I/O Node"), std::string::npos) << table.out;

    const FlashResult json = flash("list --bus c --yes --json");
    const QJsonArray nodes = records(json);
    ASSERT_EQ(nodes.size(), 3) << json.out;
    // Numbers are numbers, texts are texts.
    EXPECT_EQ(nodes[0].toObject()["node"].toInt(), 3);
    EXPECT_EQ(nodes[0].toObject()["vendor_id"].toInteger(), 1166);
    EXPECT_EQ(nodes[0].toObject()["serial_number"].toInteger(), 3000003);
    EXPECT_EQ(text(nodes[0].toObject()["revision"]), "1.5");
    EXPECT_EQ(text(nodes[0].toObject()["product_name"]), "Simulated I/O Node");
    EXPECT_EQ(nodes[2].toObject()["device_type"].toInteger(), 0x00020192);
}

TEST(FlashTool, AWrongPasswordFailsTheNodeWithTheWindowsText) {
    SimulatedCanopen simulated;
    const FlashResult result = flash("update --bus c --node 3 --password FFFF --yes --json - " +
                                     std::string(EXAMPLES_DIR "/canopen-app-1.6.hex"));
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.err.find("Password Not Accepted\r\n"), std::string::npos) << result.err;
    const QJsonObject record = records(result)[0].toObject();
    EXPECT_EQ(text(record["result"]), "failed");
    EXPECT_EQ(text(record["message"]),
              "node 3 did not accept the download-mode password (Password Not Accepted)");
    EXPECT_TRUE(record["after"].isNull());
}

TEST(FlashTool, RefusesAFileWithoutItsEndRecordBeforeTouchingANode) {
    SimulatedCanopen simulated;
    QTemporaryDir folder;
    const std::string cut = folder.path().toStdString() + "/cut.hex";
    {
        std::ifstream in(EXAMPLES_DIR "/canopen-app-1.6.hex");
        std::ofstream out(cut);
        std::string line, previous;
        bool first = true;
        while (std::getline(in, line)) {
            if (!first)
                out << previous << "\n";
            previous = line;
            first = false;
        }
        ASSERT_EQ(previous.rfind(":00000001FF", 0), 0u); // the end record, left out
    }
    const FlashResult result =
        flash("update --bus c --node 3,12 --password 1A2B --yes --json - " + cut);
    EXPECT_EQ(result.status, 1);
    EXPECT_FALSE(result.networkOpened);
    EXPECT_NE(result.err.find("cut.hex: the file ends without its end-of-file record"),
              std::string::npos)
        << result.err;
    const QJsonArray failed = records(result);
    ASSERT_EQ(failed.size(), 2);
    EXPECT_EQ(text(failed[0].toObject()["result"]), "failed");
    EXPECT_EQ(text(failed[1].toObject()["result"]), "failed");
}

TEST(FlashTool, WithoutATerminalOrYesNothingIsTouched) {
    SimulatedCanopen simulated;
    const FlashResult result = flash("update --bus c --node 3 --password 1A2B " +
                                     std::string(EXAMPLES_DIR "/canopen-app-1.6.hex"));
    EXPECT_EQ(result.status, 2);
    EXPECT_FALSE(result.networkOpened);
    EXPECT_NE(result.err.find("--yes"), std::string::npos) << result.err;
}

// Ctrl-C in the middle of the download: the window's Cancel, the checksum left unwritten,
// the node reported failed; the download thread has ended when the run returns.
TEST(FlashTool, CtrlCStopsTheDownloadAndLeavesTheChecksumUnwritten) {
    SimulatedCanopen simulated;
    FlashObserver observer;
    int interrupts = 0;
    observer.progress = [&](std::uint8_t, int, bool) {
        if (interrupts++ == 0)
            std::raise(SIGINT);
    };
    const FlashResult result = flash("update --bus c --node 3 --password 1A2B --yes --json - " +
                                         std::string(EXAMPLES_DIR "/canopen-app-2.0.hex"),
                                     observer);
    EXPECT_EQ(result.status, 1) << result.err;
    ASSERT_GT(interrupts, 0) << "the download ended before its progress was shown";
    const QJsonObject record = records(result)[0].toObject();
    EXPECT_EQ(text(record["result"]), "failed");
    EXPECT_NE(text(record["message"]).find("interrupted"), std::string::npos)
        << text(record["message"]);

    // Sector 2 is left without a checksum the node confirms: empty, or a checksum error.
    const FlashResult table = flash("sectors --bus c --node 3 --password 1A2B --yes");
    EXPECT_EQ(table.status, 0) << table.err;
    const std::size_t row = table.out.find("\n2 ");
    ASSERT_NE(row, std::string::npos) << table.out;
    const std::string sector2 = table.out.substr(row + 1, table.out.find('\n', row + 1) - row - 1);
    EXPECT_EQ(sector2.find("<ok>"), std::string::npos) << sector2;
}

// The tool as a line runs it: its own process, no display of any kind and no Qt platform
// named. Nothing of it is a window.
TEST(FlashTool, RunsWithoutAnyDisplay) {
    SimulatedCanopen simulated;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* variable : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(QString::fromUtf8(variable));
    QProcess tool;
    tool.setProcessEnvironment(environment);
    tool.start(QStringLiteral(FLASH_PROGRAM), {"list", "--bus", "c", "--yes", "--json"});
    ASSERT_TRUE(tool.waitForFinished(-1));
    const std::string err = tool.readAllStandardError().toStdString();
    EXPECT_EQ(tool.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(tool.exitCode(), 0) << err;
    const QJsonArray nodes = QJsonDocument::fromJson(tool.readAllStandardOutput()).array();
    EXPECT_EQ(nodes.size(), 3) << err;
}

// In this process too: an update opens no window, not even one no one sees.
TEST(FlashTool, AnUpdateCreatesNoWidget) {
    SimulatedCanopen simulated;
    FlashObserver observer;
    int widgetsDuringTheDownload = -1;
    observer.progress = [&](std::uint8_t, int, bool) {
        widgetsDuringTheDownload = static_cast<int>(QApplication::allWidgets().size());
    };
    const FlashResult result = flash("update --bus c --node 3 --password 1A2B --yes " +
                                         std::string(EXAMPLES_DIR "/canopen-app-1.6.hex"),
                                     observer);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(widgetsDuringTheDownload, 0);
}

} // namespace
