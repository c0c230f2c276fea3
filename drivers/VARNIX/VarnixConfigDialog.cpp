#include "VarnixConfigDialog.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

InterfaceRecord VarnixUsbRecord() {
    InterfaceRecord record{};
    record.interfaceType = VarnixInterfaceType;
    record.SetAccessPoint("1");
    return record;
}

InterfaceRecord VarnixSerialRecord(std::uint32_t comPort, std::uint32_t bitRate) {
    InterfaceRecord record{};
    record.interfaceType = VarnixInterfaceType;
    record.comPort = comPort;
    record.comBaud = bitRate;
    return record;
}

bool ShowVarnixConfigDialog(InterfaceRecord* record) {
    if (!record || !qobject_cast<QApplication*>(QCoreApplication::instance()))
        return false;
    QDialog dialog(QApplication::activeWindow());
    dialog.setObjectName(QStringLiteral("VarnixConfiguration"));
    dialog.setWindowTitle(QStringLiteral("VARNIX Interface Configuration"));
    auto* layout = new QVBoxLayout(&dialog);

    auto* link = new QGroupBox(QStringLiteral("Connection:"), &dialog);
    auto* linkLayout = new QVBoxLayout(link);
    auto* usb = new QRadioButton(QStringLiteral("USB"), link);
    usb->setObjectName(QStringLiteral("RadioButton_USB"));
    auto* serial = new QRadioButton(QStringLiteral("RS-232"), link);
    serial->setObjectName(QStringLiteral("RadioButton_RS232"));
    linkLayout->addWidget(usb);
    linkLayout->addWidget(serial);
    layout->addWidget(link);

    auto* form = new QFormLayout;
    auto* comPort = new QSpinBox(&dialog);
    comPort->setObjectName(QStringLiteral("SpinEdit_ComPort"));
    comPort->setRange(1, 256);
    comPort->setPrefix(QStringLiteral("COM"));
    auto* bitRate = new QComboBox(&dialog);
    bitRate->setObjectName(QStringLiteral("ComboBox_BitRate"));
    for (int rate : {9600, 19200, 38400, 57600, 115200})
        bitRate->addItem(QString::number(rate), rate);
    form->addRow(QStringLiteral("COM Port:"), comPort);
    form->addRow(QStringLiteral("COM Baud:"), bitRate);
    layout->addLayout(form);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);

    const bool wasSerial = record->comPort != 0;
    (wasSerial ? serial : usb)->setChecked(true);
    comPort->setValue(wasSerial ? static_cast<int>(record->comPort) : 1);
    int rateIndex = bitRate->findData(static_cast<int>(wasSerial ? record->comBaud : 57600));
    bitRate->setCurrentIndex(rateIndex >= 0 ? rateIndex : bitRate->findData(57600));
    auto follow = [&] {
        comPort->setEnabled(serial->isChecked());
        bitRate->setEnabled(serial->isChecked());
    };
    QObject::connect(serial, &QRadioButton::toggled, &dialog, follow);
    follow();

    if (dialog.exec() != QDialog::Accepted)
        return false;
    *record = serial->isChecked()
                  ? VarnixSerialRecord(static_cast<std::uint32_t>(comPort->value()),
                                       static_cast<std::uint32_t>(bitRate->currentData().toInt()))
                  : VarnixUsbRecord();
    return true;
}
