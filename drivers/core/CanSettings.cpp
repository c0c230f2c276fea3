#include "CanSettings.h"

#include "Backends.h"
#include "SettingsStore.h"

#include <QFileInfo>
#include <QSettings>
#include <QString>

namespace drivercore {

InterfaceRecord DefaultRecord() {
    InterfaceRecord record{};
    record.interfaceType = SimulatedNetwork;
    return record;
}

NetworkSettings DefaultNetworkSettings(const DriverTraits& traits) {
    NetworkSettings network{};
    network.address = traits.defaultAddress;
    network.bitRate = traits.defaultBitRate;
    return network;
}

bool ReadSettings(const DriverTraits& traits, const char* keyPath, InterfaceRecord* record,
                  NetworkSettings* network) {
    const std::string file = SettingsFileFor(keyPath, traits.libraryName);
    if (file.empty() || !record || !network)
        return false;
    InterfaceRecord r = DefaultRecord();
    if (ReadInterfaceRecord(keyPath, traits.libraryName, &r) && !InterfaceTypeName(r.interfaceType))
        r = DefaultRecord();
    NetworkSettings n = DefaultNetworkSettings(traits);
    if (QFileInfo::exists(QString::fromStdString(file))) {
        QSettings settings(QString::fromStdString(file), QSettings::IniFormat);
        settings.beginGroup(QStringLiteral("Network"));
        bool ok = false;
        const uint address = settings.value(QString::fromUtf8(traits.addressName)).toUInt(&ok);
        if (ok && address >= traits.minAddress && address <= traits.maxAddress)
            n.address = address;
        const uint bitRate = settings.value(QStringLiteral("BitRate")).toUInt(&ok);
        if (ok && traits.validBitRate(bitRate))
            n.bitRate = bitRate;
        const uint sdoTimeout = settings.value(QStringLiteral("SdoTimeout")).toUInt(&ok);
        if (traits.defaultSdoTimeout && ok && sdoTimeout >= MinSdoTimeout &&
            sdoTimeout <= MaxSdoTimeout)
            n.sdoTimeout = static_cast<std::uint16_t>(sdoTimeout);
    }
    *record = r;
    *network = n;
    return true;
}

bool SaveSettings(const DriverTraits& traits, const char* keyPath, const InterfaceRecord& record,
                  const NetworkSettings& network) {
    if (!SaveInterfaceRecord(keyPath, traits.libraryName, record))
        return false;
    QSettings settings(QString::fromStdString(SettingsFileFor(keyPath, traits.libraryName)),
                       QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("Network"));
    settings.setValue(QString::fromUtf8(traits.addressName), network.address & 0xFF);
    settings.setValue(QStringLiteral("BitRate"), network.bitRate);
    if (traits.defaultSdoTimeout && network.sdoTimeout >= MinSdoTimeout)
        settings.setValue(QStringLiteral("SdoTimeout"), network.sdoTimeout);
    else
        settings.remove(QStringLiteral("SdoTimeout"));
    settings.endGroup();
    settings.sync();
    return settings.status() == QSettings::NoError;
}

} // namespace drivercore
