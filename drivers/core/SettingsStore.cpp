#include "SettingsStore.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

namespace {

QString configRoot() {
    QByteArray xdg = qgetenv("XDG_CONFIG_HOME");
    if (!xdg.isEmpty())
        return QString::fromLocal8Bit(xdg);
    return QDir::homePath() + QStringLiteral("/.config");
}

} // namespace

std::string SettingsFileFor(const char* keyPath, const char* driverName) {
    if (!keyPath || !driverName)
        return {};
    QStringList parts;
    for (const QString& part :
         QString::fromLocal8Bit(keyPath).split(QChar('\\'), Qt::SkipEmptyParts)) {
        QString clean = part.trimmed();
        clean.replace(QChar('/'), QChar('_'));
        if (clean.isEmpty() || clean == QStringLiteral(".") || clean == QStringLiteral(".."))
            continue;
        parts << clean;
    }
    if (!parts.isEmpty() &&
        parts.first().compare(QStringLiteral("Software"), Qt::CaseInsensitive) == 0)
        parts.removeFirst();
    if (parts.isEmpty())
        return {};
    QString path = configRoot() + QChar('/') + parts.join(QChar('/')) + QChar('/') +
                   QString::fromLocal8Bit(driverName) + QStringLiteral(".ini");
    return path.toStdString();
}

bool ReadInterfaceRecord(const char* keyPath, const char* driverName, InterfaceRecord* record) {
    const std::string file = SettingsFileFor(keyPath, driverName);
    if (file.empty() || !record || !QFileInfo::exists(QString::fromStdString(file)))
        return false;
    QSettings settings(QString::fromStdString(file), QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("Interface"));
    if (!settings.contains(QStringLiteral("Type")))
        return false;
    InterfaceRecord r{};
    r.interfaceType = settings.value(QStringLiteral("Type")).toUInt();
    r.port = settings.value(QStringLiteral("Port"), 0).toUInt();
    r.irq = settings.value(QStringLiteral("Irq"), 0).toUInt();
    r.comPort = settings.value(QStringLiteral("ComPort"), 0).toUInt();
    r.comBaud = settings.value(QStringLiteral("ComBaud"), 0).toUInt();
    r.SetAccessPoint(settings.value(QStringLiteral("AccessPoint")).toString().toStdString());
    *record = r;
    return true;
}

bool SaveInterfaceRecord(const char* keyPath, const char* driverName,
                         const InterfaceRecord& record) {
    const std::string file = SettingsFileFor(keyPath, driverName);
    if (file.empty())
        return false;
    QDir().mkpath(QFileInfo(QString::fromStdString(file)).absolutePath());
    QSettings settings(QString::fromStdString(file), QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("Interface"));
    settings.setValue(QStringLiteral("Type"), record.interfaceType);
    settings.setValue(QStringLiteral("Port"), record.port);
    settings.setValue(QStringLiteral("Irq"), record.irq);
    settings.setValue(QStringLiteral("ComPort"), record.comPort);
    settings.setValue(QStringLiteral("ComBaud"), record.comBaud);
    settings.setValue(QStringLiteral("AccessPoint"), QString::fromStdString(record.AccessPoint()));
    settings.endGroup();
    settings.sync();
    return settings.status() == QSettings::NoError;
}
