#include "Thread_NodesOnline.h"

#include "Firmware_Downloader.h"
#include "Form_FW_Download_Main.h"

TThread_NodesOnline::~TThread_NodesOnline() {
    RequestStop();
    WaitFor();
}

void TThread_NodesOnline::RequestStop() {
    stopRequest = 1;
    Terminate();
}

void TThread_NodesOnline::Execute() {
    while (!stopRequest) {
        if (downloader) {
            std::uint32_t changed = 0;
            if (downloader->UpdateNodesOnline(&changed) && changed)
                Synchronize([this] { mainWindow_->FillNodesOnlineGrid(); });
        }
        PauseUnlessTerminated(PollPeriod);
    }
}
