#include "Form_NetworkSelect.h"

#include "FormScale.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

TForm_NetworkSelect::TForm_NetworkSelect(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Form_NetworkSelect"));
    setWindowTitle(QStringLiteral("Select Node Type"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);

    auto* layout = new QHBoxLayout(this);
    GroupBox_NodeType = new QGroupBox(QStringLiteral("Node Type:"), this);
    auto* types = new QVBoxLayout(GroupBox_NodeType);
    RadioButton_DeviceNet = new QRadioButton(QStringLiteral("DeviceNet"), GroupBox_NodeType);
    RadioButton_DeviceNet->setObjectName(QStringLiteral("RadioButton_DeviceNet"));
    RadioButton_CANopen = new QRadioButton(QStringLiteral("CANopen"), GroupBox_NodeType);
    RadioButton_CANopen->setObjectName(QStringLiteral("RadioButton_CANopen"));
    RadioButton_VARNIX = new QRadioButton(QStringLiteral("VARNIX"), GroupBox_NodeType);
    RadioButton_VARNIX->setObjectName(QStringLiteral("RadioButton_VARNIX"));
    types->addWidget(RadioButton_DeviceNet);
    types->addWidget(RadioButton_CANopen);
    types->addWidget(RadioButton_VARNIX);
    RadioButton_DeviceNet->setChecked(true);
    layout->addWidget(GroupBox_NodeType, 1);

    auto* buttons = new QVBoxLayout;
    Button_Ok = new QPushButton(QStringLiteral("OK"), this);
    Button_Ok->setObjectName(QStringLiteral("Button_Ok"));
    Button_Ok->setDefault(true);
    Button_Cancel = new QPushButton(QStringLiteral("Cancel"), this);
    Button_Cancel->setObjectName(QStringLiteral("Button_Cancel"));
    buttons->addWidget(Button_Ok);
    buttons->addWidget(Button_Cancel);
    buttons->addStretch();
    layout->addLayout(buttons);
    FixFormSize(this, FormScale::Of(this).Size(318, 128));

    connect(Button_Ok, &QPushButton::clicked, this, [this] {
        Button_OkClick();
        accept();
    });
    // Esc and the close box end the dialog as Cancel does.
    connect(Button_Cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TForm_NetworkSelect::Button_OkClick() {
    if (RadioButton_DeviceNet->isChecked())
        nodeType_ = NodeTypeDeviceNet;
    else if (RadioButton_CANopen->isChecked())
        nodeType_ = NodeTypeCANopen;
    else if (RadioButton_VARNIX->isChecked())
        nodeType_ = NodeTypeVARNIX;
}
