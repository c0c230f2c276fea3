#include "DnetDialogs.h"

#include "DnetInterface.h"

#include <QApplication>
#include <QCanBus>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace dnet {

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

} // namespace

bool ShowConfigDialog(InterfaceRecord* record, NetworkSettings* network) {
    if (!record || !network || !qobject_cast<QApplication*>(QCoreApplication::instance()))
        return false;
    QDialog dialog(QApplication::activeWindow());
    dialog.setObjectName(QStringLiteral("DnetConfiguration"));
    dialog.setWindowTitle(QStringLiteral("DeviceNet Interface Configuration"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* form = new QFormLayout;

    auto* interfaceType = new QComboBox(&dialog);
    interfaceType->setObjectName(QStringLiteral("ComboBox_Interface"));
    for (std::uint32_t type : {SimulatedNetwork, SocketCan, VirtualCan})
        interfaceType->addItem(QString::fromLatin1(InterfaceTypeName(type)), type);
    auto* device = new QComboBox(&dialog);
    device->setObjectName(QStringLiteral("ComboBox_Device"));
    device->setEditable(true);
    device->setInsertPolicy(QComboBox::NoInsert);
    device->setMinimumContentsLength(24);
    auto* bitRate = new QComboBox(&dialog);
    bitRate->setObjectName(QStringLiteral("ComboBox_BitRate"));
    for (std::uint32_t rate : BitRates)
        bitRate->addItem(QStringLiteral("%1 kbit/s").arg(rate / 1000), static_cast<int>(rate));
    auto* macId = new QSpinBox(&dialog);
    macId->setObjectName(QStringLiteral("SpinEdit_MacId"));
    macId->setRange(0, 63);

    form->addRow(QStringLiteral("Interface:"), interfaceType);
    form->addRow(QStringLiteral("Device:"), device);
    form->addRow(QStringLiteral("Bit Rate:"), bitRate);
    form->addRow(QStringLiteral("MAC ID:"), macId);
    layout->addLayout(form);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);

    auto type = [&] {
        return interfaceType->currentData().toUInt();
    };
    // A device interface needs a device name; the simulated network none.
    auto followDevice = [&] {
        const bool needsDevice = QtPluginFor(type()) != nullptr;
        device->setEnabled(needsDevice);
        ok->setEnabled(!needsDevice || !device->currentText().trimmed().isEmpty());
    };
    auto followType = [&] {
        const QString typed = device->currentText();
        device->clear();
        device->addItems(devicesOf(type()));
        device->setEditText(QtPluginFor(type()) ? typed : QString());
        followDevice();
    };

    const int typeIndex = interfaceType->findData(record->interfaceType);
    interfaceType->setCurrentIndex(typeIndex >= 0 ? typeIndex : 0);
    followType();
    device->setEditText(QString::fromStdString(record->AccessPoint()));
    const int rateIndex = bitRate->findData(static_cast<int>(network->bitRate));
    bitRate->setCurrentIndex(rateIndex >= 0 ? rateIndex
                                            : bitRate->findData(static_cast<int>(DefaultBitRate)));
    const std::uint32_t ownMac = network->macId & 0xFF;
    macId->setValue(ownMac <= 63 ? static_cast<int>(ownMac) : static_cast<int>(DefaultOwnMac));
    QObject::connect(interfaceType, &QComboBox::currentIndexChanged, &dialog, followType);
    QObject::connect(device, &QComboBox::editTextChanged, &dialog, followDevice);
    followDevice();

    if (dialog.exec() != QDialog::Accepted)
        return false;
    InterfaceRecord chosen = DefaultRecord();
    chosen.interfaceType = type();
    if (QtPluginFor(chosen.interfaceType))
        chosen.SetAccessPoint(device->currentText().trimmed().toStdString());
    NetworkSettings settings = *network;
    settings.macId = static_cast<std::uint32_t>(macId->value());
    settings.bitRate = static_cast<std::uint32_t>(bitRate->currentData().toInt());
    *record = chosen;
    *network = settings;
    return true;
}

bool ShowVersionWindow(const VersionFacts& facts) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return false;
    QDialog dialog(QApplication::activeWindow());
    dialog.setObjectName(QStringLiteral("DnetVersion"));
    dialog.setWindowTitle(QStringLiteral("DeviceNet Driver Version"));
    auto* layout = new QVBoxLayout(&dialog);
    auto* form = new QFormLayout;
    auto addFact = [&](const QString& name, const QString& label, const QString& value) {
        auto* text = new QLabel(value, &dialog);
        text->setObjectName(name);
        text->setTextInteractionFlags(Qt::TextSelectableByMouse);
        form->addRow(label, text);
    };
    addFact(QStringLiteral("Label_Library"), QStringLiteral("Driver:"),
            QStringLiteral("QVX_DNET %1.%2").arg(facts.major).arg(facts.minor));
    if (facts.interfaceOpen) {
        const char* name = InterfaceTypeName(facts.interfaceType);
        addFact(QStringLiteral("Label_Interface"), QStringLiteral("Interface:"),
                name ? QString::fromLatin1(name) : QStringLiteral("Provided CAN port"));
        addFact(QStringLiteral("Label_BitRate"), QStringLiteral("Bit Rate:"),
                facts.bitRate ? QStringLiteral("%1 kbit/s").arg(facts.bitRate / 1000)
                              : QStringLiteral("not set"));
        addFact(QStringLiteral("Label_MacId"), QStringLiteral("MAC ID:"),
                QString::number(facts.macId));
        addFact(QStringLiteral("Label_State"), QStringLiteral("State:"),
                facts.online ? QStringLiteral("online") : QStringLiteral("offline"));
    } else {
        addFact(QStringLiteral("Label_Interface"), QStringLiteral("Interface:"),
                QStringLiteral("not open"));
    }
    layout->addLayout(form);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &dialog);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    dialog.exec();
    return true;
}

} // namespace dnet
