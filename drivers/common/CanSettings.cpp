#include "CanSettings.h"

#include "CanInterface.h"
#include "SettingsStore.h"

#include <QFileInfo>
#include <QSettings>
#include <QString>

bool ReadCanSettings(const char* keyPath, const CanSettingsRules& rules, InterfaceRecord* record,
                     std::uint32_t* address, std::uint32_t* bitRate) {
    const std::string file = SettingsFileFor(keyPath, rules.driverName);
    if (file.empty() || !record || !address || !bitRate)
        return false;
    InterfaceRecord r{};
    r.interfaceType = canif::SimulatedNetwork;
    if (ReadInterfaceRecord(keyPath, rules.driverName, &r) &&
        !canif::InterfaceTypeName(r.interfaceType)) {
        r = InterfaceRecord{};
        r.interfaceType = canif::SimulatedNetwork;
    }
    std::uint32_t a = rules.defaultAddress;
    std::uint32_t b = rules.defaultBitRate;
    if (QFileInfo::exists(QString::fromStdString(file))) {
        QSettings settings(QString::fromStdString(file), QSettings::IniFormat);
        settings.beginGroup(QStringLiteral("Network"));
        bool ok = false;
        const uint storedAddress = settings.value(QString::fromUtf8(rules.addressKey)).toUInt(&ok);
        if (ok && storedAddress >= rules.minAddress && storedAddress <= rules.maxAddress)
            a = storedAddress;
        const uint storedBitRate = settings.value(QStringLiteral("BitRate")).toUInt(&ok);
        if (ok && rules.validBitRate(storedBitRate))
            b = storedBitRate;
    }
    *record = r;
    *address = a;
    *bitRate = b;
    return true;
}

bool SaveCanSettings(const char* keyPath, const CanSettingsRules& rules,
                     const InterfaceRecord& record, std::uint32_t address, std::uint32_t bitRate) {
    if (!SaveInterfaceRecord(keyPath, rules.driverName, record))
        return false;
    QSettings settings(QString::fromStdString(SettingsFileFor(keyPath, rules.driverName)),
                       QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("Network"));
    settings.setValue(QString::fromUtf8(rules.addressKey), address & 0xFF);
    settings.setValue(QStringLiteral("BitRate"), bitRate);
    settings.endGroup();
    settings.sync();
    return settings.status() == QSettings::NoError;
}
