#include "ConfigDialog.h"

#include "Backends.h"
#include "CanSettings.h"

#include <QApplication>
#include <QCanBus>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace drivercore {

namespace {

// The devices of a Qt plugin on this machine ("can0", …); none for the simulated network.
QStringList devicesOf(std::uint32_t type) {
    const char* plugin = QtPluginFor(type);
    QStringList names;
    if (!plugin || !QCanBus::instance()->plugins().contains(QString::fromLatin1(plugin)))
        return names;
    for (const QCanBusDeviceInfo& info :
         QCanBus::instance()->availableDevices(QString::fromLatin1(plugin)))
        names << info.name();
    return names;
}

// The window's controls, made and laid out.
struct Controls {
    QComboBox* interfaceType;
    QComboBox* device;
    QComboBox* bitRate;
    QSpinBox* address;
    QSpinBox* sdoTimeout; // null where the bus has no SDO
    QPushButton* ok;
};

Controls buildControls(const DriverTraits& traits, QDialog& dialog) {
    auto* layout = new QVBoxLayout(&dialog);
    auto* form = new QFormLayout;
    Controls c{};
    c.interfaceType = new QComboBox(&dialog);
    c.interfaceType->setObjectName(QStringLiteral("ComboBox_Interface"));
    for (const Backend& backend : Backends())
        c.interfaceType->addItem(QString::fromLatin1(backend.name), backend.type);
    c.device = new QComboBox(&dialog);
    c.device->setObjectName(QStringLiteral("ComboBox_Device"));
    c.device->setEditable(true);
    c.device->setInsertPolicy(QComboBox::NoInsert);
    c.device->setMinimumContentsLength(24);
    c.bitRate = new QComboBox(&dialog);
    c.bitRate->setObjectName(QStringLiteral("ComboBox_BitRate"));
    for (std::uint32_t rate : traits.bitRates)
        c.bitRate->addItem(QStringLiteral("%1 kbit/s").arg(rate / 1000), static_cast<int>(rate));
    c.address = new QSpinBox(&dialog);
    c.address->setObjectName(QStringLiteral("SpinEdit_") + QString::fromLatin1(traits.addressName));
    c.address->setRange(static_cast<int>(traits.minAddress), static_cast<int>(traits.maxAddress));

    form->addRow(QStringLiteral("Interface:"), c.interfaceType);
    form->addRow(QStringLiteral("Device:"), c.device);
    form->addRow(QStringLiteral("Bit Rate:"), c.bitRate);
    form->addRow(QString::fromUtf8(traits.addressLabel), c.address);
    if (traits.defaultSdoTimeout) {
        c.sdoTimeout = new QSpinBox(&dialog);
        c.sdoTimeout->setObjectName(QStringLiteral("SpinEdit_SdoTimeout"));
        c.sdoTimeout->setRange(MinSdoTimeout, MaxSdoTimeout);
        c.sdoTimeout->setSuffix(QStringLiteral(" ms"));
        c.sdoTimeout->setToolTip(
            QStringLiteral("How long to wait for a node's SDO answer (default %1 ms)")
                .arg(traits.defaultSdoTimeout));
        form->addRow(QStringLiteral("SDO Time-out:"), c.sdoTimeout);
    }
    layout->addLayout(form);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    c.ok = buttons->button(QDialogButtonBox::Ok);
    return c;
}

} // namespace

bool ShowConfigDialog(const DriverTraits& traits, InterfaceRecord* record,
                      NetworkSettings* network) {
    if (!record || !network || !qobject_cast<QApplication*>(QCoreApplication::instance()))
        return false;
    QDialog dialog(QApplication::activeWindow());
    dialog.setObjectName(QString::fromLatin1(traits.windowPrefix) +
                         QStringLiteral("Configuration"));
    dialog.setWindowTitle(QString::fromLatin1(traits.busName) +
                          QStringLiteral(" Interface Configuration"));
    const Controls c = buildControls(traits, dialog);

    auto type = [&] {
        return c.interfaceType->currentData().toUInt();
    };
    // A device interface needs a device name; the simulated network none.
    auto followDevice = [&] {
        const bool needsDevice = QtPluginFor(type()) != nullptr;
        c.device->setEnabled(needsDevice);
        c.ok->setEnabled(!needsDevice || !c.device->currentText().trimmed().isEmpty());
    };
    auto followType = [&] {
        const QString typed = c.device->currentText();
        c.device->clear();
        c.device->addItems(devicesOf(type()));
        c.device->setEditText(QtPluginFor(type()) ? typed : QString());
        followDevice();
    };

    const int typeIndex = c.interfaceType->findData(record->interfaceType);
    c.interfaceType->setCurrentIndex(typeIndex >= 0 ? typeIndex : 0);
    followType();
    c.device->setEditText(QString::fromStdString(record->AccessPoint()));
    const int rateIndex = c.bitRate->findData(static_cast<int>(network->bitRate));
    c.bitRate->setCurrentIndex(
        rateIndex >= 0 ? rateIndex : c.bitRate->findData(static_cast<int>(traits.defaultBitRate)));
    const std::uint32_t own = network->address & 0xFF;
    c.address->setValue(static_cast<int>(
        own >= traits.minAddress && own <= traits.maxAddress ? own : traits.defaultAddress));
    if (c.sdoTimeout)
        c.sdoTimeout->setValue(network->sdoTimeout ? network->sdoTimeout
                                                   : traits.defaultSdoTimeout);
    QObject::connect(c.interfaceType, &QComboBox::currentIndexChanged, &dialog, followType);
    QObject::connect(c.device, &QComboBox::editTextChanged, &dialog, followDevice);
    followDevice();

    if (dialog.exec() != QDialog::Accepted)
        return false;
    InterfaceRecord chosen = DefaultRecord();
    chosen.interfaceType = type();
    if (QtPluginFor(chosen.interfaceType))
        chosen.SetAccessPoint(c.device->currentText().trimmed().toStdString());
    NetworkSettings settings = *network;
    settings.address = static_cast<std::uint32_t>(c.address->value());
    settings.bitRate = static_cast<std::uint32_t>(c.bitRate->currentData().toInt());
    if (c.sdoTimeout)
        settings.sdoTimeout = static_cast<std::uint16_t>(c.sdoTimeout->value());
    *record = chosen;
    *network = settings;
    return true;
}

} // namespace drivercore
