#include "ProgramNode.h"

#include "FirmwareImage.h"

#include <algorithm>

namespace sim {

namespace {

using bus::canopen::SdoReadResult;
namespace SdoAbort = bus::canopen::SdoAbort;

static_assert(MaxProgramSize <= bus::canopen::SdoServer::MaxDownloadSize,
              "a program crosses the bus in one SDO download");
static_assert(std::uint64_t{MaxPrograms} * MaxProgramSize <= MaxNodeFlash,
              "a node's programs fit its flash");

constexpr std::uint16_t ProgramData = 0x1F50;
constexpr std::uint16_t ProgramControl = 0x1F51;
constexpr std::uint16_t ProgramIdentification = 0x1F56;
constexpr std::uint16_t FlashStatus = 0x1F57;

constexpr std::uint32_t FlashBusy = 0x1;

enum Control : std::uint8_t { Stop = 0, Start = 1, Reset = 2, Clear = 3 };

bool programObject(std::uint16_t index) {
    return index == ProgramData || index == ProgramControl || index == ProgramIdentification ||
           index == FlashStatus || index == ProgramRoomIndex;
}

// What a program area's refusal tells the client.
std::uint32_t abortFor(NodeError error) {
    switch (error) {
    case NodeError::None:
        return 0;
    case NodeError::StorageFailed:
        return SdoAbort::CannotStore;
    case NodeError::OutOfRange:
        return SdoAbort::LengthTooHigh;
    default:
        return SdoAbort::CannotStoreState;
    }
}

// Faults found before anything is written leave the area clear.
bool foundBeforeWriting(FlashStatusError fault) {
    return fault == FlashStatusError::DataFormatUnknown || fault == FlashStatusError::FlashSecured;
}

} // namespace

ProgramNode::ProgramNode(CanopenNodeSettings settings, FlashSource flash)
    : Cia301Node(std::move(settings), std::move(flash)),
      faultPending_(this->settings().programs.fault != FlashStatusError::None) {
    sdo().SetBlockTransfer(this->settings().programs.blockTransfer);
    sdo().SetBlockSize(this->settings().programs.blockSize);
}

std::uint32_t ProgramNode::productCode(FlashNode& node) {
    return node.Settings().identity.productCode;
}

NodeResult ProgramNode::restart(FlashNode& node) {
    // The flash node itself stays in download mode: it restarts there, as it was.
    return node.EnterDownloadMode(node.Settings().password);
}

void ProgramNode::started(FlashNode& node) {
    if (!store_)
        store_.emplace(node);
    programs_.assign(store_->Count(), Program{});
    if (!programs_.empty())
        programs_[0].running = store_->AreaOf(1) == ProgramStore::Area::Program;
}

bool ProgramNode::busy(std::uint8_t program) const {
    return now() < programs_[program - 1u].flashedAt;
}

std::uint32_t ProgramNode::flashStatus(std::uint8_t program) const {
    if (busy(program))
        return FlashBusy;
    FlashStatusError error = programs_[program - 1u].failed;
    if (error == FlashStatusError::None && store_->AreaOf(program) != ProgramStore::Area::Program)
        error = FlashStatusError::NoValidProgram;
    return static_cast<std::uint32_t>(error) << 1;
}

SdoReadResult ProgramNode::readApplication(FlashNode&, std::uint16_t index, std::uint8_t subIndex) {
    if (!programObject(index) || (index == ProgramRoomIndex && !settings().programs.roomObject))
        return Refusal(SdoAbort::NoObject);
    if (subIndex == 0)
        return ValueAnswer(store_->Count(), 1);
    if (subIndex > store_->Count())
        return Refusal(SdoAbort::NoSubIndex);
    switch (index) {
    case ProgramData:
        return Refusal(SdoAbort::WriteOnly);
    case ProgramControl:
        return ValueAnswer(programs_[subIndex - 1u].running ? 1 : 0, 1);
    case ProgramIdentification:
        return ValueAnswer(busy(subIndex) ? 0 : identification(subIndex), 4);
    case ProgramRoomIndex:
        return ValueAnswer(store_->Room(subIndex), 4);
    default:
        return ValueAnswer(flashStatus(subIndex), 4);
    }
}

std::uint32_t ProgramNode::identification(std::uint8_t program) const {
    const ProgramSettings& programs = settings().programs;
    if (programs.identifiesByCrc)
        return store_->Crc(program);
    return store_->AreaOf(program) == ProgramStore::Area::Program ? programs.identification : 0;
}

std::uint32_t ProgramNode::refusedEntry(std::uint16_t index, std::uint8_t subIndex) const {
    if (!programObject(index) || (index == ProgramRoomIndex && !settings().programs.roomObject))
        return SdoAbort::NoObject;
    if (subIndex > store_->Count())
        return SdoAbort::NoSubIndex;
    if (subIndex == 0 || index == ProgramIdentification || index == FlashStatus ||
        index == ProgramRoomIndex)
        return SdoAbort::ReadOnly;
    return 0;
}

std::uint32_t ProgramNode::checkApplicationWrite(FlashNode&, std::uint16_t index,
                                                 std::uint8_t subIndex,
                                                 std::optional<std::size_t> size) {
    // Refused before its data crosses the bus.
    if (const std::uint32_t code = refusedEntry(index, subIndex))
        return code;
    return index == ProgramData ? checkProgramWrite(subIndex, size) : 0;
}

std::uint32_t ProgramNode::writeApplication(FlashNode&, std::uint16_t index, std::uint8_t subIndex,
                                            const std::vector<std::uint8_t>& data) {
    if (const std::uint32_t code = refusedEntry(index, subIndex))
        return code;
    if (index == ProgramData)
        return writeProgram(subIndex, data);
    if (data.size() != 1)
        return data.size() > 1 ? SdoAbort::LengthTooHigh : SdoAbort::LengthTooLow;
    return control(subIndex, data[0]);
}

std::uint32_t ProgramNode::checkProgramWrite(std::uint8_t program,
                                             std::optional<std::size_t> size) {
    Program& p = programs_[program - 1u];
    if (busy(program) || p.running)
        return SdoAbort::CannotStoreState;
    if (store_->AreaOf(program) != ProgramStore::Area::Clear) {
        p.failed = FlashStatusError::FlashNotCleared;
        return SdoAbort::CannotStoreState;
    }
    if (size && *size > store_->Room(program))
        return SdoAbort::LengthTooHigh;
    if (size && *size == 0)
        return SdoAbort::LengthTooLow;
    return 0;
}

std::uint32_t ProgramNode::writeProgram(std::uint8_t program,
                                        const std::vector<std::uint8_t>& bytes) {
    if (const std::uint32_t code = checkProgramWrite(program, bytes.size()))
        return code;
    Program& p = programs_[program - 1u];
    const FlashStatusError fault =
        faultPending_ ? settings().programs.fault : FlashStatusError::None;
    faultPending_ = false;
    NodeResult stored;
    if (fault == FlashStatusError::None)
        stored = store_->Write(program, bytes);
    else if (!foundBeforeWriting(fault))
        stored = store_->WriteFailed(program, bytes);
    if (!stored) {
        p.failed = FlashStatusError::FlashWriteError;
        return abortFor(stored.error);
    }
    p.failed = fault;
    // Flashing takes its time per KiB, to the microsecond.
    const std::uint64_t micros =
        (std::uint64_t{bytes.size()} * settings().programs.flashMillisecondsPerKib * 1000 + 1023) /
        1024;
    p.flashedAt = now() + std::chrono::microseconds(micros);
    return 0;
}

std::uint32_t ProgramNode::control(std::uint8_t program, std::uint8_t command) {
    Program& p = programs_[program - 1u];
    switch (command) {
    case Stop:
        p.running = false;
        return 0;
    case Start:
    case Reset:
        if (busy(program) || store_->AreaOf(program) != ProgramStore::Area::Program)
            return SdoAbort::CannotStoreState;
        p.running = true;
        return 0;
    case Clear: {
        if (busy(program) || p.running)
            return SdoAbort::CannotStoreState;
        if (auto cleared = store_->Clear(program); !cleared) {
            p.failed = FlashStatusError::FlashWriteError;
            return abortFor(cleared.error);
        }
        p.failed = FlashStatusError::None;
        return 0;
    }
    default:
        return SdoAbort::InvalidValue;
    }
}

void LeaveProgramFactory(FlashNode& node) {
    const std::uint32_t room = node.Settings().sectorSizes.at(0);
    std::vector<std::uint8_t> image = MakeFirmwareImage(
        {"Standard App", "CiA 302-3 node program", "Dec 01 2025", "09:30:00", 0x00010000},
        std::max<std::size_t>(FirmwareHeaderSize, std::min<std::uint32_t>(room, 16384)));
    image.resize(std::min<std::size_t>(image.size(), room));
    ProgramStore::SetFactoryProgram(node, 1, image);
}

} // namespace sim
