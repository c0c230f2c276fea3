#pragma once

#include "RelaxedAtomic.h"
#include "Thread.h"

#include <cstdint>

class TFirmware_Downloader;
class TForm_FW_Download_Main;

// Polls the downloader every 100 ms while network access is on and has the GUI thread fill
// the nodes-online grid whenever the downloader reports a change.
class TThread_NodesOnline : public TThread {
public:
    explicit TThread_NodesOnline(TForm_FW_Download_Main* mainWindow) : mainWindow_(mainWindow) {}
    ~TThread_NodesOnline() override;

    Relaxed<std::uint32_t> stopRequest{0};
    TFirmware_Downloader* downloader = nullptr;

    static constexpr DWORD PollPeriod = 100;

    // Sets stopRequest and cuts the pause between two polls short.
    void RequestStop();

protected:
    void Execute() override;

private:
    TForm_FW_Download_Main* mainWindow_;
};
