#include "ProgramEntry.h"

#include "AboutBox.h"
#include "Application.h"
#include "Form_FW_Download_Main.h"
#include "Form_NetworkSelect.h"
#include "MessageBox.h"

#include <QApplication>
#include <exception>

TNodeType NodeTypeFromArgumentText(const std::string& argumentText) {
    if (argumentText.empty())
        return NodeTypeNone;
    switch (argumentText[0]) {
    case 'd':
    case 'D':
        return NodeTypeDeviceNet;
    case 'c':
    case 'C':
        return NodeTypeCANopen;
    case 'u':
    case 'U':
        return NodeTypeVARNIX;
    default:
        return NodeTypeNone;
    }
}

TNodeType AskNodeType() {
    TForm_NetworkSelect dialog;
    if (dialog.exec() != QDialog::Accepted)
        return NodeTypeNone;
    return dialog.ChosenNodeType();
}

int RunZandrel(const std::string& argumentText) {
    try {
        Application->SetTitle("Zandrel");
        Application->TrackHints();
        TNodeType nodeType = NodeTypeFromArgumentText(argumentText);
        if (nodeType == NodeTypeNone) {
            nodeType = AskNodeType();
            if (nodeType == NodeTypeNone)
                return 0;
        }
        TForm_FW_Download_Main mainWindow;
        TAboutBox aboutBox;
        mainWindow.AboutBox = &aboutBox;
        mainWindow.NodeType = nodeType;
        mainWindow.show();
        QApplication::exec();
    } catch (const std::exception& error) {
        Application->MessageBox(error.what(), "Zandrel", MB_OK | MB_ICONERROR);
    } catch (...) {
        Application->MessageBox("Unknown error", "Zandrel", MB_OK | MB_ICONERROR);
    }
    return 0;
}

std::string ArgumentText(int argc, char** argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            text += ' ';
        text += argv[i];
    }
    return text;
}
