#include "CopnConfigDialog.h"

#include "CopnInterface.h"

#include <QApplication>
#include <QCanBus>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace copn {

namespace {

constexpr int BitRates[] = {10000, 20000, 50000, 125000, 250000, 500000, 800000, 1000000};

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
    dialog.setObjectName(QStringLiteral("CopnConfiguration"));
    dialog.setWindowTitle(QStringLiteral("CANopen Interface Configuration"));
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
    for (int rate : BitRates)
        bitRate->addItem(QStringLiteral("%1 kbit/s").arg(rate / 1000), rate);
    auto* nodeId = new QSpinBox(&dialog);
    nodeId->setObjectName(QStringLiteral("SpinEdit_NodeId"));
    nodeId->setRange(1, 127);

    form->addRow(QStringLiteral("Interface:"), interfaceType);
    form->addRow(QStringLiteral("Device:"), device);
    form->addRow(QStringLiteral("Bit Rate:"), bitRate);
    form->addRow(QStringLiteral("Node ID:"), nodeId);
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
    const std::uint32_t ownId = network->nodeId & 0xFF;
    nodeId->setValue(ownId >= 1 && ownId <= 127 ? static_cast<int>(ownId)
                                                : static_cast<int>(DefaultOwnNodeId));
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
    settings.nodeId = static_cast<std::uint32_t>(nodeId->value());
    settings.bitRate = static_cast<std::uint32_t>(bitRate->currentData().toInt());
    *record = chosen;
    *network = settings;
    return true;
}

} // namespace copn
