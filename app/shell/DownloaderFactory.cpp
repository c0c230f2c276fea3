#include "DownloaderFactory.h"

#include "Class_copn.h"
#include "Class_fw_dnld_dnet.h"
#include "Class_varnixs.h"

std::unique_ptr<TFirmware_Downloader> CreateDownloaderFor(TNodeType type) {
    switch (type) {
    case NodeTypeDeviceNet:
        return std::make_unique<TDNet_Downloader>();
    case NodeTypeCANopen:
        return std::make_unique<TCOPN_Downloader>();
    case NodeTypeVARNIX:
        return std::make_unique<TVARNIXS_Downloader>();
    default:
        return nullptr;
    }
}
