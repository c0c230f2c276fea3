#pragma once

#include "NodeType.h"

#include <QDialog>

class QGroupBox;
class QPushButton;
class QRadioButton;

// Asks at start-up which kind of target this run serves.
class TForm_NetworkSelect : public QDialog {
    Q_OBJECT
public:
    explicit TForm_NetworkSelect(QWidget* parent = nullptr);

    QGroupBox* GroupBox_NodeType;
    QRadioButton* RadioButton_DeviceNet;
    QRadioButton* RadioButton_CANopen;
    QRadioButton* RadioButton_VARNIX;
    QPushButton* Button_Ok;
    QPushButton* Button_Cancel;

    void Button_OkClick();

    // The node type chosen with OK; NodeTypeNone before.
    TNodeType ChosenNodeType() const { return nodeType_; }

private:
    TNodeType nodeType_ = NodeTypeNone;
};
