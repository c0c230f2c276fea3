#include "FlashNode.h"

#include "FirmwareImage.h"
#include "StateFiles.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace sim {

namespace {

constexpr std::uint32_t EmptyRevision = 0xFFFFFFFFu;

std::uint32_t revisionOf(const std::vector<std::uint8_t>& sector) {
    std::uint32_t revision = 0;
    for (int i = 0; i < 4; ++i)
        revision |= static_cast<std::uint32_t>(sector[RevisionOffset + static_cast<std::size_t>(i)])
                    << (8 * i);
    return revision;
}

std::string sectorFile(const std::string& folder, std::uint8_t sector) {
    return folder + "/sector" + std::to_string(sector) + ".bin";
}

std::string stateFile(const std::string& folder) {
    return folder + "/node.state";
}

} // namespace

FlashNode::FlashNode(FlashNodeSettings settings)
    : settings_(std::move(settings)),
      sectors_(settings_.sectorCount,
               std::vector<std::uint8_t>(
                   std::max<std::size_t>(settings_.sectorSize, FirmwareHeaderSize), 0xFF)),
      checksums_(settings_.sectorCount, NoChecksum) {
    settings_.sectorSize = static_cast<std::uint32_t>(sectors_.empty() ? 0 : sectors_[0].size());
}

bool FlashNode::AttachStateFolder(const std::string& folder) {
    if (!MakeFolders(folder))
        return false;
    folder_ = folder;
    std::vector<std::uint8_t> stateBytes;
    if (!ReadWholeFile(stateFile(folder), &stateBytes)) {
        for (std::uint8_t s = 0; s < sectors_.size(); ++s)
            saveSector(s);
        saveState();
        return true;
    }
    auto values = ParseKeyValues(std::string(stateBytes.begin(), stateBytes.end()));
    auto number = [&](const std::string& key, std::uint32_t fallback) -> std::uint32_t {
        auto it = values.find(key);
        return it == values.end() ? fallback
                                  : static_cast<std::uint32_t>(std::stoul(it->second, nullptr, 0));
    };
    try {
        mode_ = number("mode", 0) == 0 ? Mode::Download : Mode::Application;
        runningSector_ = static_cast<std::uint8_t>(number("running", 0));
        bootSector_ = static_cast<std::uint8_t>(number("boot", 0));
        for (std::uint8_t s = 0; s < sectors_.size(); ++s) {
            checksums_[s] = number("checksum" + std::to_string(s), NoChecksum);
            std::vector<std::uint8_t> bytes;
            if (ReadWholeFile(sectorFile(folder, s), &bytes) && bytes.size() == sectors_[s].size())
                sectors_[s] = std::move(bytes);
            else
                std::fill(sectors_[s].begin(), sectors_[s].end(), 0xFF);
        }
    } catch (const std::exception&) {
        return false; // a damaged state file: the node keeps the state it has
    }
    if (!validSector(runningSector_) || (mode_ == Mode::Application && !Runnable(runningSector_)))
        restartInto(Mode::Download, 0);
    return true;
}

void FlashNode::SetSector(std::uint8_t sector, const std::vector<std::uint8_t>& image,
                          bool withChecksum) {
    if (!validSector(sector))
        return;
    auto& flash = sectors_[sector];
    std::fill(flash.begin(), flash.end(), 0xFF);
    std::memcpy(flash.data(), image.data(), std::min(image.size(), flash.size()));
    checksums_[sector] = withChecksum ? ComputedChecksum(sector) : NoChecksum;
}

void FlashNode::SetRunState(Mode mode, std::uint8_t runningSector, std::uint8_t bootSector) {
    mode_ = mode;
    runningSector_ = runningSector;
    bootSector_ = bootSector;
}

bool FlashNode::Online() const {
    return std::chrono::steady_clock::now() >= offlineUntil_;
}

bool FlashNode::SectorSize(std::uint8_t sector, std::uint32_t* size) const {
    if (!validSector(sector))
        return false;
    *size = static_cast<std::uint32_t>(sectors_[sector].size());
    return true;
}

bool FlashNode::Description(std::uint8_t sector, std::uint8_t* header76) const {
    if (!validSector(sector))
        return false;
    std::memcpy(header76, sectors_[sector].data(), FirmwareHeaderSize);
    return true;
}

bool FlashNode::Read(std::uint8_t sector, std::uint32_t address, std::uint8_t* data,
                     std::size_t length) const {
    if (!validSector(sector) || address < settings_.imageBase)
        return false;
    const std::uint64_t offset = address - settings_.imageBase;
    if (offset + length > sectors_[sector].size())
        return false;
    std::memcpy(data, sectors_[sector].data() + offset, length);
    return true;
}

bool FlashNode::changeable(std::uint8_t sector) const {
    return validSector(sector) && mode_ == Mode::Download;
}

bool FlashNode::Write(std::uint8_t sector, std::uint32_t address, const std::uint8_t* data,
                      std::size_t length) {
    if (!changeable(sector) || address < settings_.imageBase)
        return false;
    const std::uint64_t offset = address - settings_.imageBase;
    auto& flash = sectors_[sector];
    if (offset + length > flash.size())
        return false;
    for (std::size_t i = 0; i < length; ++i)
        if ((flash[offset + i] & data[i]) != data[i])
            return false; // flash can only clear bits: not erased there
    if (length == 0)
        return true;
    for (std::size_t i = 0; i < length; ++i)
        flash[offset + i] = data[i];
    saveSector(sector);
    return true;
}

bool FlashNode::Erase(std::uint8_t sector) {
    if (!changeable(sector))
        return false;
    std::fill(sectors_[sector].begin(), sectors_[sector].end(), 0xFF);
    checksums_[sector] = NoChecksum;
    // The boot sector is gone: the node boots sector 0 from now on.
    if (sector == bootSector_)
        bootSector_ = 0;
    saveSector(sector);
    saveState();
    return true;
}

bool FlashNode::SetStoredChecksum(std::uint8_t sector, std::uint32_t checksum) {
    if (!changeable(sector))
        return false;
    checksums_[sector] = checksum;
    saveState();
    return true;
}

bool FlashNode::StoredChecksum(std::uint8_t sector, std::uint32_t* checksum) const {
    if (!validSector(sector))
        return false;
    *checksum = checksums_[sector];
    return true;
}

std::uint32_t FlashNode::ComputedChecksum(std::uint8_t sector) const {
    if (!validSector(sector))
        return 0;
    return WordSum(sectors_[sector].data(), sectors_[sector].size());
}

bool FlashNode::ChecksumMatches(std::uint8_t sector, bool* ok) const {
    if (!validSector(sector))
        return false;
    *ok = checksums_[sector] == ComputedChecksum(sector);
    return true;
}

bool FlashNode::SetBootSector(std::uint8_t sector) {
    if (!changeable(sector))
        return false;
    bootSector_ = sector;
    saveState();
    return true;
}

bool FlashNode::SetSerialNumber(std::uint32_t serialNumber) {
    if (mode_ != Mode::Download)
        return false;
    settings_.serialNumber = serialNumber;
    return true;
}

std::uint32_t FlashNode::RunningRevision() const {
    std::uint8_t sector = mode_ == Mode::Application ? runningSector_ : 0;
    if (!validSector(sector))
        return 0;
    std::uint32_t revision = revisionOf(sectors_[sector]);
    return revision == EmptyRevision ? 0 : revision;
}

bool FlashNode::Runnable(std::uint8_t sector) const {
    bool ok = false;
    return validSector(sector) && revisionOf(sectors_[sector]) != EmptyRevision &&
           ChecksumMatches(sector, &ok) && ok;
}

bool FlashNode::EnterDownloadMode(std::uint32_t password) {
    if (password != settings_.password)
        return false;
    restartInto(Mode::Download, 0);
    return true;
}

bool FlashNode::Execute(std::uint8_t sector) {
    if (!validSector(sector))
        return false;
    if (Runnable(sector))
        restartInto(Mode::Application, sector);
    else
        restartInto(Mode::Download, 0);
    return true;
}

bool FlashNode::Reset() {
    if (Runnable(bootSector_))
        restartInto(Mode::Application, bootSector_);
    else
        restartInto(Mode::Download, 0);
    return true;
}

void FlashNode::restartInto(Mode mode, std::uint8_t sector) {
    mode_ = mode;
    runningSector_ = sector;
    ++incarnation_;
    offlineUntil_ =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(settings_.restartMilliseconds);
    saveState();
}

void FlashNode::saveSector(std::uint8_t sector) {
    if (!folder_.empty())
        WriteFileReplacing(sectorFile(folder_, sector), sectors_[sector].data(),
                           sectors_[sector].size());
}

void FlashNode::saveState() {
    if (folder_.empty())
        return;
    std::string text = "# State of a simulated flash node; rewritten at every change.\n";
    text += "mode=" + std::to_string(static_cast<int>(mode_)) + "\n";
    text += "running=" + std::to_string(runningSector_) + "\n";
    text += "boot=" + std::to_string(bootSector_) + "\n";
    for (std::size_t s = 0; s < checksums_.size(); ++s)
        text += "checksum" + std::to_string(s) + "=" + std::to_string(checksums_[s]) + "\n";
    WriteFileReplacing(stateFile(folder_), text.data(), text.size());
}

} // namespace sim
