// The driver's configuration: what ReadConfiguration and SaveConfiguration keep under the
// key path, the configuration window and the version window.

#include "CanSettings.h"
#include "DnetDriver.h"
#include "DnetExports.h"
#include "EventLoop.h"
#include "InterfaceRecord.h"
#include "ScopedEnvironment.h"
#include "SimulatedBus.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <cstring>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

namespace {

const char* const Key = "\\Software\\Quorvane, LLC.\\Zandrel\\";

// Settings below a configuration folder of the test's own.
class DnetConfigTest : public testing::Test {
protected:
    std::string SettingsFile() const {
        return folder.path().toStdString() + "/Quorvane, LLC./Zandrel/QVX_DNET.ini";
    }
    // What ReadConfiguration gives, from records filled with garbage beforehand.
    std::pair<InterfaceRecord, drivercore::NetworkSettings> Read() {
        InterfaceRecord record;
        drivercore::NetworkSettings network;
        std::memset(&record, 0x5A, sizeof record);
        std::memset(&network, 0x5A, sizeof network);
        EXPECT_EQ(ReadConfiguration(Key, &record, &network), 1);
        return {record, network};
    }

    QTemporaryDir folder;
    ScopedEnvironment config{"XDG_CONFIG_HOME", folder.path().toLocal8Bit().constData()};
};

TEST_F(DnetConfigTest, NothingStoredGivesTheSimulatedNetworkAt125kAndMacId0) {
    const auto [record, network] = Read();
    EXPECT_EQ(record.interfaceType, drivercore::SimulatedNetwork);
    EXPECT_EQ(record.AccessPoint(), "");
    EXPECT_EQ(network.address, 0u);
    EXPECT_EQ(network.bitRate, 125000u);
    EXPECT_EQ(network.driverOwn[0], 0);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(SettingsFile())));
}

TEST_F(DnetConfigTest, WhatIsSavedIsReadBack) {
    InterfaceRecord record{};
    record.interfaceType = drivercore::VirtualCan;
    record.SetAccessPoint("tcp://127.0.0.1:35470/can0");
    drivercore::NetworkSettings network{};
    network.address = 62;
    network.bitRate = 500000;
    ASSERT_EQ(SaveConfiguration(Key, &record, &network), 1);
    const auto [read, readNetwork] = Read();
    EXPECT_EQ(read.interfaceType, drivercore::VirtualCan);
    EXPECT_EQ(read.AccessPoint(), "tcp://127.0.0.1:35470/can0");
    EXPECT_EQ(readNetwork.address, 62u);
    EXPECT_EQ(readNetwork.bitRate, 500000u);
}

// Values out of their ranges, as someone may have edited them, give way to the defaults.
TEST_F(DnetConfigTest, StoredValuesOutOfRangeTakeTheirDefaults) {
    struct Case {
        const char* text;
        std::uint32_t type;
        std::uint32_t mac;
        std::uint32_t bitRate;
    };
    const Case cases[] = {
        {"[Interface]\nType=9\n[Network]\nMacId=64\nBitRate=1000000\n", 0, 0, 125000},
        {"[Interface]\nType=1\nAccessPoint=can0\n[Network]\nMacId=abc\nBitRate=\n", 1, 0, 125000},
        {"[Network]\nMacId=63\nBitRate=250000\n", 0, 63, 250000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        QDir().mkpath(QFileInfo(QString::fromStdString(SettingsFile())).absolutePath());
        std::ofstream(SettingsFile()) << c.text;
        const auto [record, network] = Read();
        EXPECT_EQ(record.interfaceType, c.type);
        EXPECT_EQ(network.address, c.mac);
        EXPECT_EQ(network.bitRate, c.bitRate);
    }
}

TEST_F(DnetConfigTest, WithoutAPlaceOrRecordsNothingIsDone) {
    InterfaceRecord record{};
    drivercore::NetworkSettings network{};
    EXPECT_EQ(ReadConfiguration(Key, nullptr, &network), 0);
    EXPECT_EQ(ReadConfiguration(nullptr, &record, &network), 0);
    EXPECT_EQ(ReadConfiguration("\\Software\\", &record, &network), 0);
    EXPECT_EQ(SaveConfiguration(Key, &record, nullptr), 0);
    EXPECT_EQ(SaveConfiguration("", &record, &network), 0);
    EXPECT_EQ(DeviceNetConfigurationWindow(nullptr, &network), 0);
}

// The configuration window, as the program opens it.
class DnetConfigWindowTest : public testing::Test {
public:
    std::int32_t Configure(std::function<void(QDialog*)> user) {
        OnShown<QDialog> watch(std::move(user));
        return DeviceNetConfigurationWindow(&record, &network);
    }

    InterfaceRecord record = drivercore::DefaultRecord();
    drivercore::NetworkSettings network =
        drivercore::DefaultNetworkSettings(dnet::Library().Traits());
};

TEST_F(DnetConfigWindowTest, WritesBothRecordsOnlyWhenAccepted) {
    auto choose = [](int type, const char* device, int rateIndex, int mac, bool accept) {
        return [=](QDialog* d) {
            d->findChild<QComboBox*>("ComboBox_Interface")->setCurrentIndex(type);
            d->findChild<QComboBox*>("ComboBox_Device")->setEditText(device);
            d->findChild<QComboBox*>("ComboBox_BitRate")->setCurrentIndex(rateIndex);
            d->findChild<QSpinBox*>("SpinEdit_MacId")->setValue(mac);
            accept ? d->accept() : d->reject();
        };
    };
    EXPECT_EQ(Configure(choose(1, "can7", 1, 12, true)), 1);
    EXPECT_EQ(record.interfaceType, drivercore::SocketCan);
    EXPECT_EQ(record.AccessPoint(), "can7");
    EXPECT_EQ(network.bitRate, 250000u);
    EXPECT_EQ(network.address, 12u);

    EXPECT_EQ(Configure(choose(2, "tcp://127.0.0.1:35470/can0", 2, 3, false)), 0); // cancelled
    EXPECT_EQ(record.interfaceType, drivercore::SocketCan);
    EXPECT_EQ(record.AccessPoint(), "can7");
    EXPECT_EQ(network.bitRate, 250000u);
    EXPECT_EQ(network.address, 12u);

    EXPECT_EQ(Configure(choose(0, "ignored", 2, 63, true)), 1);
    EXPECT_EQ(record.interfaceType, drivercore::SimulatedNetwork);
    EXPECT_EQ(record.AccessPoint(), "");
    EXPECT_EQ(network.bitRate, 500000u);
    EXPECT_EQ(network.address, 63u);
}

TEST_F(DnetConfigWindowTest, ShowsTheRecordsWithinTheirRanges) {
    network.address = 40;
    network.bitRate = 500000;
    int lowest = -1, highest = -1, rates = 0;
    bool sdoTimeout = true;
    EXPECT_EQ(Configure([&](QDialog* d) {
                  sdoTimeout = d->findChild<QSpinBox*>("SpinEdit_SdoTimeout") != nullptr;
                  auto* mac = d->findChild<QSpinBox*>("SpinEdit_MacId");
                  EXPECT_EQ(mac->value(), 40);
                  lowest = mac->minimum();
                  highest = mac->maximum();
                  auto* rate = d->findChild<QComboBox*>("ComboBox_BitRate");
                  EXPECT_EQ(rate->currentData().toInt(), 500000);
                  rates = rate->count();
                  d->reject();
              }),
              0);
    EXPECT_EQ(lowest, 0);
    EXPECT_EQ(highest, 63);
    EXPECT_EQ(rates, 3);
    EXPECT_FALSE(sdoTimeout); // DeviceNet has no SDO
}

TEST(DnetVersionWindowTest, ShowsTheLibraryAndTheOpenInterface) {
    bus::SimulatedBus bus;
    const std::uint32_t h = dnet::Library().Register(
        dnet::Library().OpenOnPort(std::shared_ptr<bus::CanPort>(bus.Attach())));
    ASSERT_NE(h, 0u);
    ASSERT_EQ(SetBaud(h, 250000), 1);
    ASSERT_EQ(SetMacID(h, 9), 1);
    QStringList shown;
    auto look = [&](QDialog* d) {
        shown.clear();
        for (const char* name :
             {"Label_Library", "Label_Interface", "Label_BitRate", "Label_MacId"})
            if (auto* label = d->findChild<QLabel*>(name))
                shown << label->text();
        d->accept();
    };
    {
        OnShown<QDialog> watch(look);
        EXPECT_EQ(VersionInformationWindow(h), 1);
    }
    EXPECT_EQ(shown, (QStringList{"QVX_DNET 1.0", "Provided CAN port", "250 kbit/s", "9"}));
    EXPECT_EQ(CloseCard(h), 1);
    {
        OnShown<QDialog> watch(look);
        EXPECT_EQ(VersionInformationWindow(h), 1);
    }
    EXPECT_EQ(shown, (QStringList{"QVX_DNET 1.0", "not open"}));
}

} // namespace
