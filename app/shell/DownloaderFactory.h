#pragma once

#include "Firmware_Downloader.h"
#include "NodeType.h"

#include <memory>

// The downloader of a node type; null for a type that has none yet.
std::unique_ptr<TFirmware_Downloader> CreateDownloaderFor(TNodeType type);
