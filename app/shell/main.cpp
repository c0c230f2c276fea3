#include "Application.h"
#include "Firmware_Downloader.h"
#include "Form_FW_Download.h"

#include <QApplication>

// Until the main window exists, the program opens the download window over the base
// downloader, whose every operation fails.
int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    Application->SetTitle("Zandrel");
    TFirmware_Downloader downloader;
    downloader.Node = 0;
    TForm_FW_Download window;
    window.Downloader = &downloader;
    window.exec();
    return 0;
}
