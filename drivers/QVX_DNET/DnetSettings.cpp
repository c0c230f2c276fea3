#include "DnetSettings.h"

#include "DnetInterface.h"
#include "SettingsStore.h"

#include <QFileInfo>
#include <QSettings>
#include <QString>
#include <cstring>

namespace dnet {

namespace {

constexpr const char* DriverName = "QVX_DNET";

bool knownType(std::uint32_t type) {
    return InterfaceTypeName(type) != nullptr;
}

} // namespace

InterfaceRecord DefaultRecord() {
    InterfaceRecord record{};
    record.interfaceType = SimulatedNetwork;
    return record;
}

NetworkSettings DefaultNetworkSettings() {
    NetworkSettings network{};
    network.macId = DefaultOwnMac;
    network.bitRate = DefaultBitRate;
    return network;
}

bool ReadSettings(const char* keyPath, InterfaceRecord* record, NetworkSettings* network) {
    const std::string file = SettingsFileFor(keyPath, DriverName);
    if (file.empty() || !record || !network)
        return false;
    InterfaceRecord r = DefaultRecord();
    if (ReadInterfaceRecord(keyPath, DriverName, &r) && !knownType(r.interfaceType))
        r = DefaultRecord();
    NetworkSettings n = DefaultNetworkSettings();
    if (QFileInfo::exists(QString::fromStdString(file))) {
        QSettings settings(QString::fromStdString(file), QSettings::IniFormat);
        settings.beginGroup(QStringLiteral("Network"));
        bool ok = false;
        const uint mac = settings.value(QStringLiteral("MacId")).toUInt(&ok);
        if (ok && mac <= 63)
            n.macId = mac;
        const uint bitRate = settings.value(QStringLiteral("BitRate")).toUInt(&ok);
        if (ok && ValidBitRate(bitRate))
            n.bitRate = bitRate;
    }
    *record = r;
    *network = n;
    return true;
}

bool SaveSettings(const char* keyPath, const InterfaceRecord& record,
                  const NetworkSettings& network) {
    if (!SaveInterfaceRecord(keyPath, DriverName, record))
        return false;
    QSettings settings(QString::fromStdString(SettingsFileFor(keyPath, DriverName)),
                       QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("Network"));
    settings.setValue(QStringLiteral("MacId"), network.macId & 0xFF);
    settings.setValue(QStringLiteral("BitRate"), network.bitRate);
    settings.endGroup();
    settings.sync();
    return settings.status() == QSettings::NoError;
}

} // namespace dnet
