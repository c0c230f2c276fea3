#pragma once

#include "FlashNode.h"

#include <memory>
#include <string>

namespace sim {

// The simulated VARNIX interface module: a flash node with four sectors and the module's
// identity.
//
// Its folder holds module.ini, the settings a user may edit (written with the defaults on
// first use; see ReadVarnixModuleSettings), and the node's state.
// On first use the module leaves the factory: sectors 0 (loader) and 2 (application) hold
// valid images, 1 and 3 are empty, and it runs sector 2, its boot sector.
//
// Null, with the reason in *error, when the folder cannot be made or written, or another
// process serves the module.
std::unique_ptr<FlashNode> OpenVarnixModule(const std::string& folder, std::string* error);

// The module's folder: varnix-module in the data folder (see ZandrelDataFolder); empty when
// there is none.
std::string DefaultVarnixModuleFolder();

inline constexpr std::uint32_t VarnixSectorSize = 0x8000;
inline constexpr std::uint32_t MaxRestartMilliseconds = 1500;
inline constexpr std::uint32_t VarnixImageBaseHardware2 = 0x28000;

} // namespace sim
