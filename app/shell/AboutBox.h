#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class THtmlLabel;

// The program's name and version. Created once, hidden, and shown modally on request.
class TAboutBox : public QDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);

    QLabel* ProgramIcon;
    QLabel* ProductName;
    QLabel* Version;
    QLabel* VersionNumber;
    QLabel* Copyright;
    QLabel* Comments;
    THtmlLabel* HTMLabel_Link;
    QPushButton* OKButton;
};
