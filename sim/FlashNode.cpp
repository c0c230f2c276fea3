#include "FlashNode.h"

#include "FirmwareImage.h"
#include "NodeFolder.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace sim {

namespace {

constexpr std::uint32_t EmptyRevision = 0xFFFFFFFFu;

std::uint32_t revisionOf(const std::vector<std::uint8_t>& sector) {
    std::uint32_t revision = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const std::size_t at = RevisionOffset + i;
        const std::uint32_t byte = at < sector.size() ? sector[at] : 0xFFu;
        revision |= byte << (8 * i);
    }
    return revision;
}

} // namespace

const char* NodeErrorText(NodeError error) {
    switch (error) {
    case NodeError::None:
        return "done";
    case NodeError::NoSuchSector:
        return "no such sector";
    case NodeError::OutOfRange:
        return "outside the sector";
    case NodeError::NotErased:
        return "flash not erased";
    case NodeError::NotInDownloadMode:
        return "not in download mode";
    case NodeError::WrongPassword:
        return "wrong password";
    case NodeError::StorageFailed:
        return "could not be stored";
    case NodeError::Busy:
        return "restarting";
    }
    return "unknown";
}

std::string FlashNodeSettings::Problem() const {
    if (sectorSizes.empty() || sectorSizes.size() > 255)
        return "a node has 1 to 255 sectors";
    std::uint64_t total = 0;
    for (std::uint32_t size : sectorSizes) {
        if (size == 0 || size > MaxSectorSize)
            return "a sector holds 1 byte to " + std::to_string(MaxSectorSize) + " bytes";
        total += size;
    }
    if (total > MaxNodeFlash)
        return "a node's sectors hold at most " + std::to_string(MaxNodeFlash) + " bytes together";
    if (loaderSector >= sectorSizes.size())
        return "the loader sector does not exist";
    if (!checksum.Valid())
        return "a checksum sums 8- or 16-bit values";
    if (checksum.window > MaxSectorSize)
        return "a checksum sums at most " + std::to_string(MaxSectorSize) + " bytes";
    return "";
}

FlashNode::FlashNode(FlashNodeSettings settings, NodeClock clock)
    : settings_(std::move(settings)), clock_(std::move(clock)) {
    if (const std::string problem = settings_.Problem(); !problem.empty())
        throw std::invalid_argument(problem);
    for (std::uint32_t size : settings_.sectorSizes)
        sectors_.emplace_back(size, 0xFF);
    checksums_.assign(sectors_.size(), NoChecksum);
    runningSector_ = bootSector_ = settings_.loaderSector;
    serialNumber_ = settings_.identity.serialNumber;
}

FlashNode::~FlashNode() = default;

bool FlashNode::AttachStateFolder(const std::string& path, std::string* error) {
    std::string ignored;
    std::string& reason = error ? *error : ignored;
    folder_.reset();
    auto folder = NodeFolder::Take(path, &reason);
    if (!folder)
        return false;
    NodeState stored;
    std::vector<std::vector<std::uint8_t>> flash;
    std::string why;
    switch (folder->Load(settings_.sectorSizes, &stored, &flash, &why)) {
    case NodeFolder::Found::State:
        sectors_ = std::move(flash);
        checksums_ = std::move(stored.checksums);
        mode_ = stored.mode;
        runningSector_ = stored.runningSector;
        bootSector_ = stored.bootSector;
        serialNumberSet_ = stored.serialNumber.has_value();
        serialNumber_ = stored.serialNumber.value_or(settings_.identity.serialNumber);
        // A node comes up running an image only when the image may run.
        if (mode_ == Mode::Application && !Runnable(runningSector_)) {
            mode_ = Mode::Download;
            runningSector_ = settings_.loaderSector;
        }
        folder_ = std::move(folder);
        return true;
    case NodeFolder::Found::Unreadable:
    case NodeFolder::Found::Unwritable:
        reason = path + ": " + why;
        return false;
    case NodeFolder::Found::Damaged: {
        std::string aside;
        if (!folder->SetAside(&aside, &reason))
            return false;
        std::fprintf(stderr,
                     "zandrel: %s: %s; moved to %s, the node starts as it left the factory\n",
                     path.c_str(), why.c_str(), aside.c_str());
        break;
    }
    case NodeFolder::Found::Nothing:
        break;
    }
    NodeState state{mode_, runningSector_, bootSector_, checksums_, std::nullopt};
    if (serialNumberSet_)
        state.serialNumber = serialNumber_;
    if (!folder->SaveNew(state, sectors_)) {
        reason = path + ": the node's flash cannot be written there";
        return false;
    }
    folder_ = std::move(folder);
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
    return clock_() >= offlineUntil_;
}

NodeResult FlashNode::SectorSize(std::uint8_t sector, std::uint32_t* size) const {
    if (!Online())
        return NodeError::Busy;
    if (!validSector(sector))
        return NodeError::NoSuchSector;
    *size = static_cast<std::uint32_t>(sectors_[sector].size());
    return {};
}

NodeResult FlashNode::Description(std::uint8_t sector, std::uint8_t* header76) const {
    if (!Online())
        return NodeError::Busy;
    if (!validSector(sector))
        return NodeError::NoSuchSector;
    const auto& flash = sectors_[sector];
    const std::size_t n = std::min(FirmwareHeaderSize, flash.size());
    std::memcpy(header76, flash.data(), n);
    std::memset(header76 + n, 0xFF, FirmwareHeaderSize - n);
    return {};
}

NodeResult FlashNode::Read(std::uint8_t sector, std::uint32_t address, std::uint8_t* data,
                           std::size_t length) const {
    if (!Online())
        return NodeError::Busy;
    if (!validSector(sector))
        return NodeError::NoSuchSector;
    if (address < settings_.imageBase ||
        std::uint64_t{address} - settings_.imageBase + length > sectors_[sector].size())
        return NodeError::OutOfRange;
    std::memcpy(data, sectors_[sector].data() + (address - settings_.imageBase), length);
    return {};
}

NodeResult FlashNode::changeable(std::uint8_t sector) const {
    if (!Online())
        return NodeError::Busy;
    if (!validSector(sector))
        return NodeError::NoSuchSector;
    if (mode_ != Mode::Download)
        return NodeError::NotInDownloadMode;
    return {};
}

NodeResult FlashNode::Write(std::uint8_t sector, std::uint32_t address, const std::uint8_t* data,
                            std::size_t length) {
    if (auto refused = changeable(sector); !refused)
        return refused;
    auto& flash = sectors_[sector];
    if (address < settings_.imageBase ||
        std::uint64_t{address} - settings_.imageBase + length > flash.size())
        return NodeError::OutOfRange;
    const std::size_t offset = address - settings_.imageBase;
    for (std::size_t i = 0; i < length; ++i)
        if ((flash[offset + i] & data[i]) != data[i])
            return NodeError::NotErased; // flash can only clear bits
    if (length == 0)
        return {};
    if (folder_ && !folder_->WriteSector(sector, static_cast<std::uint32_t>(offset), data, length))
        return NodeError::StorageFailed;
    std::memcpy(flash.data() + offset, data, length);
    return {};
}

NodeResult FlashNode::Erase(std::uint8_t sector) {
    if (auto refused = changeable(sector); !refused)
        return refused;
    // The state goes first: a stored checksum or boot sector never vouches for bytes that are
    // gone. Stored before the erase, it leaves a sector that may still hold its old bytes but
    // is no longer believed or booted.
    const std::uint32_t checksum = checksums_[sector];
    const std::uint8_t boot = bootSector_;
    checksums_[sector] = NoChecksum;
    // The boot sector is gone: the node boots its loader from now on.
    if (sector == bootSector_)
        bootSector_ = settings_.loaderSector;
    if (checksums_[sector] != checksum || bootSector_ != boot)
        if (auto stored = storeState(); !stored) {
            checksums_[sector] = checksum;
            bootSector_ = boot;
            return stored;
        }
    // An erased sector is not erased again (a standard update erases twice).
    auto& flash = sectors_[sector];
    if (std::all_of(flash.begin(), flash.end(), [](std::uint8_t b) { return b == 0xFF; }))
        return {};
    // Refused, the sector keeps its bytes, on disk as here, without its checksum.
    if (folder_ && !folder_->EraseSector(sector))
        return NodeError::StorageFailed;
    std::fill(flash.begin(), flash.end(), 0xFF);
    return {};
}

NodeResult FlashNode::SetStoredChecksum(std::uint8_t sector, std::uint32_t checksum) {
    if (auto refused = changeable(sector); !refused)
        return refused;
    // The bytes are on the disk before a checksum vouches for them.
    if (folder_ && !folder_->SyncSector(sector))
        return NodeError::StorageFailed;
    const std::uint32_t before = checksums_[sector];
    if (checksum == before)
        return {};
    checksums_[sector] = checksum;
    if (auto stored = storeState(); !stored) {
        checksums_[sector] = before;
        return stored;
    }
    return {};
}

NodeResult FlashNode::StoredChecksum(std::uint8_t sector, std::uint32_t* checksum) const {
    if (!Online())
        return NodeError::Busy;
    if (!validSector(sector))
        return NodeError::NoSuchSector;
    *checksum = checksums_[sector];
    return {};
}

std::uint32_t FlashNode::ComputedChecksum(std::uint8_t sector) const {
    if (!validSector(sector))
        return 0;
    return settings_.checksum.Sum(sectors_[sector].data(), sectors_[sector].size());
}

NodeResult FlashNode::ChecksumMatches(std::uint8_t sector, bool* ok) const {
    if (!Online())
        return NodeError::Busy;
    if (!validSector(sector))
        return NodeError::NoSuchSector;
    *ok = checksums_[sector] == ComputedChecksum(sector);
    return {};
}

NodeResult FlashNode::SetBootSector(std::uint8_t sector) {
    if (auto refused = changeable(sector); !refused)
        return refused;
    const std::uint8_t before = bootSector_;
    if (sector == before)
        return {};
    bootSector_ = sector;
    if (auto stored = storeState(); !stored) {
        bootSector_ = before;
        return stored;
    }
    return {};
}

NodeResult FlashNode::SetSerialNumber(std::uint32_t serialNumber) {
    if (!Online())
        return NodeError::Busy;
    if (mode_ != Mode::Download)
        return NodeError::NotInDownloadMode;
    const std::uint32_t before = serialNumber_;
    const bool wasSet = serialNumberSet_;
    if (wasSet && serialNumber == before)
        return {};
    serialNumber_ = serialNumber;
    serialNumberSet_ = true;
    if (auto stored = storeState(); !stored) {
        serialNumber_ = before;
        serialNumberSet_ = wasSet;
        return stored;
    }
    return {};
}

std::uint32_t FlashNode::RunningRevision() const {
    const std::uint8_t sector =
        mode_ == Mode::Application ? runningSector_ : settings_.loaderSector;
    if (!validSector(sector))
        return 0;
    const std::uint32_t revision = revisionOf(sectors_[sector]);
    return revision == EmptyRevision ? 0 : revision;
}

bool FlashNode::Runnable(std::uint8_t sector) const {
    return validSector(sector) && revisionOf(sectors_[sector]) != EmptyRevision &&
           checksums_[sector] == ComputedChecksum(sector);
}

NodeResult FlashNode::ArmDownloadMode(std::uint32_t password) {
    if (!Online())
        return NodeError::Busy;
    armed_ = password == settings_.password;
    return armed_ ? NodeResult{} : NodeResult{NodeError::WrongPassword};
}

NodeResult FlashNode::Reset() {
    if (!Online())
        return NodeError::Busy;
    if (armed_)
        return restartInto(Mode::Download, settings_.loaderSector);
    if (Runnable(bootSector_))
        return restartInto(Mode::Application, bootSector_);
    return restartInto(Mode::Download, settings_.loaderSector);
}

NodeResult FlashNode::EnterDownloadMode(std::uint32_t password) {
    if (auto armed = ArmDownloadMode(password); !armed)
        return armed;
    return Reset();
}

NodeResult FlashNode::Execute(std::uint8_t sector) {
    if (!Online())
        return NodeError::Busy;
    if (!validSector(sector))
        return NodeError::NoSuchSector;
    if (Runnable(sector))
        return restartInto(Mode::Application, sector);
    return restartInto(Mode::Download, settings_.loaderSector);
}

NodeResult FlashNode::restartInto(Mode mode, std::uint8_t sector) {
    const Mode modeBefore = mode_;
    const std::uint8_t sectorBefore = runningSector_;
    mode_ = mode;
    runningSector_ = sector;
    if (auto stored = storeState(); !stored) {
        mode_ = modeBefore;
        runningSector_ = sectorBefore;
        return stored;
    }
    armed_ = false;
    ++incarnation_;
    offlineUntil_ = clock_() + std::chrono::milliseconds(settings_.restartMilliseconds);
    return {};
}

NodeResult FlashNode::storeState() {
    if (!folder_)
        return {};
    NodeState state{mode_, runningSector_, bootSector_, checksums_, std::nullopt};
    if (serialNumberSet_)
        state.serialNumber = serialNumber_;
    return folder_->SaveState(state) ? NodeResult{} : NodeResult{NodeError::StorageFailed};
}

} // namespace sim
