// The driver's configuration: what ReadConfiguration and SaveConfiguration keep under the
// key path, and the configuration window.

#include "CanSettings.h"
#include "CopnDriver.h"
#include "CopnExports.h"
#include "EventLoop.h"
#include "InterfaceRecord.h"
#include "ScopedEnvironment.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

namespace {

const char* const Key = "\\Software\\Quorvane, LLC.\\Zandrel\\";

// Settings below a configuration folder of the test's own.
class CopnConfigTest : public testing::Test {
protected:
    std::string SettingsFile() const {
        return folder.path().toStdString() + "/Quorvane, LLC./Zandrel/QVX_COPN.ini";
    }
    // What ReadConfiguration gives, from records filled with garbage beforehand.
    std::pair<InterfaceRecord, drivercore::NetworkSettings> Read(const char* key = Key) {
        InterfaceRecord record;
        drivercore::NetworkSettings network;
        std::memset(&record, 0x5A, sizeof record);
        std::memset(&network, 0x5A, sizeof network);
        EXPECT_EQ(ReadConfiguration(key, &record, &network), 1);
        return {record, network};
    }

    QTemporaryDir folder;
    ScopedEnvironment config{"XDG_CONFIG_HOME", folder.path().toLocal8Bit().constData()};
};

TEST_F(CopnConfigTest, NothingStoredGivesTheSimulatedNetworkAt500kAndNode127) {
    const auto [record, network] = Read();
    EXPECT_EQ(record.interfaceType, drivercore::SimulatedNetwork);
    EXPECT_EQ(record.AccessPoint(), "");
    EXPECT_EQ(network.address, 127u);
    EXPECT_EQ(network.bitRate, 500000u);
    EXPECT_EQ(network.sdoTimeout, 0u); // the program's own default
    EXPECT_EQ(network.driverOwn[0], 0);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(SettingsFile())));
}

TEST_F(CopnConfigTest, WhatIsSavedIsReadBack) {
    InterfaceRecord record{};
    record.interfaceType = drivercore::SocketCan;
    record.SetAccessPoint("can1");
    drivercore::NetworkSettings network{};
    network.address = 5;
    network.bitRate = 250000;
    network.sdoTimeout = 1500;
    ASSERT_EQ(SaveConfiguration(Key, &record, &network), 1);
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(SettingsFile())));
    const auto [read, readNetwork] = Read();
    EXPECT_EQ(read.interfaceType, drivercore::SocketCan);
    EXPECT_EQ(read.AccessPoint(), "can1");
    EXPECT_EQ(readNetwork.address, 5u);
    EXPECT_EQ(readNetwork.bitRate, 250000u);
    EXPECT_EQ(readNetwork.sdoTimeout, 1500u);

    // Back to the default: nothing stored for it any more.
    network.sdoTimeout = 0;
    ASSERT_EQ(SaveConfiguration(Key, &record, &network), 1);
    EXPECT_EQ(Read().second.sdoTimeout, 0u);

    // A key path given once stands for the calls that name none.
    EXPECT_EQ(SetRegistryPath(nullptr), 0);
    ASSERT_EQ(SetRegistryPath(Key), 1);
    EXPECT_EQ(Read(nullptr).second.address, 5u);
}

// Values out of their ranges, as someone may have edited them, give way to the defaults.
TEST_F(CopnConfigTest, StoredValuesOutOfRangeTakeTheirDefaults) {
    struct Case {
        const char* text;
        std::uint32_t type;
        std::uint32_t nodeId;
        std::uint32_t bitRate;
        std::uint16_t sdoTimeout = 0;
    };
    const Case cases[] = {
        {"[Interface]\nType=9\nAccessPoint=can0\n[Network]\nNodeId=0\nBitRate=9999\n", 0, 127,
         500000},
        {"[Interface]\nType=2\nAccessPoint=can0\n[Network]\nNodeId=128\nBitRate=1000001\n", 2, 127,
         500000},
        {"[Interface]\nType=1\n[Network]\nNodeId=abc\nBitRate=\n", 1, 127, 500000},
        {"[Network]\nNodeId=1\nBitRate=10000\nSdoTimeout=800\n", 0, 1, 10000, 800},
        {"[Network]\nSdoTimeout=9\n", 0, 127, 500000},
        {"[Network]\nSdoTimeout=60001\n", 0, 127, 500000},
        {"[Network]\nSdoTimeout=-1\n", 0, 127, 500000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        QDir().mkpath(QFileInfo(QString::fromStdString(SettingsFile())).absolutePath());
        std::ofstream(SettingsFile()) << c.text;
        const auto [record, network] = Read();
        EXPECT_EQ(record.interfaceType, c.type);
        EXPECT_EQ(network.address, c.nodeId);
        EXPECT_EQ(network.bitRate, c.bitRate);
        EXPECT_EQ(network.sdoTimeout, c.sdoTimeout);
    }
}

// A device name longer than the record's field loses the characters that do not fit whole;
// what is read is saved and read back the same.
TEST_F(CopnConfigTest, AnOverlongAccessPointIsCutBeforeACharacterThatDoesNotFit) {
    std::string name(254, 'a');
    name.append("\xC3\xA9"); // é across the 255th byte
    QDir().mkpath(QFileInfo(QString::fromStdString(SettingsFile())).absolutePath());
    std::ofstream(SettingsFile()) << "[Interface]\nType=1\nAccessPoint=" << name << "\n";
    auto [record, network] = Read();
    EXPECT_EQ(record.AccessPoint(), std::string(254, 'a'));
    ASSERT_EQ(SaveConfiguration(Key, &record, &network), 1);
    EXPECT_EQ(Read().first.AccessPoint(), std::string(254, 'a'));
}

TEST_F(CopnConfigTest, WithoutAPlaceOrRecordsNothingIsDone) {
    InterfaceRecord record{};
    drivercore::NetworkSettings network{};
    EXPECT_EQ(ReadConfiguration(Key, nullptr, &network), 0);
    EXPECT_EQ(ReadConfiguration(Key, &record, nullptr), 0);
    EXPECT_EQ(ReadConfiguration("\\Software\\", &record, &network), 0); // names no folder
    EXPECT_EQ(SaveConfiguration(Key, nullptr, &network), 0);
    EXPECT_EQ(SaveConfiguration("", &record, &network), 0);
    EXPECT_EQ(HardwareConfigurationWindow(0), 0);
    EXPECT_EQ(CANopenConfigurationWindow(nullptr, &network), 0);
}

// The configuration window, as the program opens it.
class CopnConfigWindowTest : public testing::Test {
public:
    // The window with what the user does in it; the export's result.
    std::int32_t Configure(std::function<void(QDialog*)> user) {
        OnShown<QDialog> watch(std::move(user));
        return CANopenConfigurationWindow(&record, &network);
    }

    InterfaceRecord record = drivercore::DefaultRecord();
    drivercore::NetworkSettings network =
        drivercore::DefaultNetworkSettings(copn::Library().Traits());
};

TEST_F(CopnConfigWindowTest, WritesBothRecordsOnlyWhenAccepted) {
    auto choose = [](int type, const char* device, int rateIndex, int nodeId, bool accept) {
        return [=](QDialog* d) {
            d->findChild<QComboBox*>("ComboBox_Interface")->setCurrentIndex(type);
            d->findChild<QComboBox*>("ComboBox_Device")->setEditText(device);
            d->findChild<QComboBox*>("ComboBox_BitRate")->setCurrentIndex(rateIndex);
            d->findChild<QSpinBox*>("SpinEdit_NodeId")->setValue(nodeId);
            accept ? d->accept() : d->reject();
        };
    };
    EXPECT_EQ(Configure(choose(1, "can7", 4, 12, true)), 1);
    EXPECT_EQ(record.interfaceType, drivercore::SocketCan);
    EXPECT_EQ(record.AccessPoint(), "can7");
    EXPECT_EQ(network.bitRate, 250000u);
    EXPECT_EQ(network.address, 12u);
    EXPECT_EQ(network.sdoTimeout, 500u); // the default the window offered, now chosen

    EXPECT_EQ(Configure(choose(2, "tcp://127.0.0.1:35468/can0", 0, 3, false)), 0); // cancelled
    EXPECT_EQ(record.interfaceType, drivercore::SocketCan);
    EXPECT_EQ(record.AccessPoint(), "can7");
    EXPECT_EQ(network.bitRate, 250000u);
    EXPECT_EQ(network.address, 12u);

    EXPECT_EQ(Configure(choose(2, "tcp://127.0.0.1:35468/can0", 0, 3, true)), 1);
    EXPECT_EQ(record.interfaceType, drivercore::VirtualCan);
    EXPECT_EQ(record.AccessPoint(), "tcp://127.0.0.1:35468/can0");
    EXPECT_EQ(network.bitRate, 10000u);
    EXPECT_EQ(network.address, 3u);

    EXPECT_EQ(Configure(choose(0, "ignored", 7, 127, true)), 1);
    EXPECT_EQ(record.interfaceType, drivercore::SimulatedNetwork);
    EXPECT_EQ(record.AccessPoint(), ""); // the simulated network needs no device
    EXPECT_EQ(network.bitRate, 1000000u);

    // A slow node's time-out, within what the window takes.
    auto timeOut = [](int ms) {
        return [=](QDialog* d) {
            d->findChild<QSpinBox*>("SpinEdit_SdoTimeout")->setValue(ms);
            d->accept();
        };
    };
    EXPECT_EQ(Configure(timeOut(1000)), 1);
    EXPECT_EQ(network.sdoTimeout, 1000u);
    EXPECT_EQ(Configure(timeOut(70000)), 1);
    EXPECT_EQ(network.sdoTimeout, 60000u);
    EXPECT_EQ(Configure(timeOut(0)), 1);
    EXPECT_EQ(network.sdoTimeout, 10u);
}

TEST_F(CopnConfigWindowTest, ShowsTheRecordsAndWantsADeviceName) {
    record.interfaceType = drivercore::VirtualCan;
    record.SetAccessPoint("tcp://127.0.0.1:35468/can1");
    network.address = 9;
    network.bitRate = 125000;
    network.sdoTimeout = 1200;
    bool okWithoutDevice = true;
    EXPECT_EQ(
        Configure([&](QDialog* d) {
            EXPECT_EQ(d->findChild<QComboBox*>("ComboBox_Interface")->currentText(), "Virtual CAN");
            auto* device = d->findChild<QComboBox*>("ComboBox_Device");
            EXPECT_EQ(device->currentText(), "tcp://127.0.0.1:35468/can1");
            EXPECT_EQ(d->findChild<QComboBox*>("ComboBox_BitRate")->currentData().toInt(), 125000);
            EXPECT_EQ(d->findChild<QSpinBox*>("SpinEdit_NodeId")->value(), 9);
            EXPECT_EQ(d->findChild<QSpinBox*>("SpinEdit_SdoTimeout")->value(), 1200);
            device->setEditText("");
            okWithoutDevice =
                d->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->isEnabled();
            d->reject();
        }),
        0);
    EXPECT_FALSE(okWithoutDevice);
    EXPECT_EQ(record.AccessPoint(), "tcp://127.0.0.1:35468/can1");
}

} // namespace
