#include "VarnixModule.h"

#include "DataFolder.h"
#include "FirmwareImage.h"
#include "StateFiles.h"
#include "VarnixModuleSettings.h"

namespace sim {

namespace {

std::string settingsFile(const std::string& folder) {
    return folder + "/module.ini";
}

// The text of module.ini: as the user left it, or the defaults when there is none. False,
// with the reason in *error, when it cannot be read.
bool readSettingsText(const std::string& folder, std::string* text, std::string* error) {
    std::vector<std::uint8_t> bytes;
    std::string problem;
    switch (ReadWholeFile(settingsFile(folder), MaxTextFileSize, &bytes, &problem)) {
    case FileRead::Read:
        text->assign(bytes.begin(), bytes.end());
        return true;
    case FileRead::Missing:
        *text = DefaultVarnixModuleSettings;
        return true;
    case FileRead::TooLarge:
        *error = settingsFile(folder) + ": " + problem + ", too many for a settings file";
        return false;
    case FileRead::Unreadable:
        *error = settingsFile(folder) + ": cannot be read: " + problem;
        return false;
    }
    return false;
}

void leaveFactory(FlashNode& node) {
    node.SetSector(0,
                   MakeFirmwareImage({"VARNIX Loader", "VARNIX USB/RS-232 boot loader",
                                      "Mar 11 2024", "09:30:00", 0x00010004},
                                     8192),
                   true);
    node.SetSector(2,
                   MakeFirmwareImage({"VARNIX App", "VARNIX interface application", "Sep 02 2025",
                                      "14:05:10", 0x00020011},
                                     16384),
                   true);
    node.SetRunState(FlashNode::Mode::Application, 2, 2);
}

} // namespace

std::unique_ptr<FlashNode> OpenVarnixModule(const std::string& folder, std::string* error) {
    std::string ignored;
    std::string& reason = error ? *error : ignored;
    std::string text;
    if (!readSettingsText(folder, &text, &reason))
        return nullptr;
    auto node = std::make_unique<FlashNode>(ReadVarnixModuleSettings(text, settingsFile(folder)));
    leaveFactory(*node);
    if (!node->AttachStateFolder(folder, &reason))
        return nullptr;
    // Written on first use, and again when a damaged folder was set aside with it.
    std::vector<std::uint8_t> present;
    std::string problem;
    if (ReadWholeFile(settingsFile(folder), MaxTextFileSize, &present, &problem) ==
        FileRead::Missing)
        WriteFileReplacing(settingsFile(folder), text.data(), text.size(), FileAccess::OwnerOnly);
    return node;
}

std::string DefaultVarnixModuleFolder() {
    const std::string base = ZandrelDataFolder();
    return base.empty() ? "" : base + "/varnix-module";
}

} // namespace sim
