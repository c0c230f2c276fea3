#include "DownloaderFactory.h"

#include "Class_varnixs.h"

std::unique_ptr<TFirmware_Downloader> CreateDownloaderFor(TNodeType type) {
    switch (type) {
    case NodeTypeVARNIX:
        return std::make_unique<TVARNIXS_Downloader>();
    default:
        return nullptr;
    }
}
