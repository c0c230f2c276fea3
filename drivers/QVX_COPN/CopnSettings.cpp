#include "CopnSettings.h"

#include "CopnInterface.h"
#include "SettingsStore.h"

#include <QFileInfo>
#include <QSettings>
#include <QString>
#include <cstring>

namespace copn {

namespace {

constexpr const char* DriverName = "QVX_COPN";

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
    network.nodeId = DefaultOwnNodeId;
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
        const uint nodeId = settings.value(QStringLiteral("NodeId")).toUInt(&ok);
        if (ok && nodeId >= 1 && nodeId <= 127)
            n.nodeId = nodeId;
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
    settings.setValue(QStringLiteral("NodeId"), network.nodeId & 0xFF);
    settings.setValue(QStringLiteral("BitRate"), network.bitRate);
    settings.endGroup();
    settings.sync();
    return settings.status() == QSettings::NoError;
}

} // namespace copn
