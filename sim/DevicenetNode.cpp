#include "DevicenetNode.h"

#include "FirmwareImage.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace sim {

namespace {

using bus::CanFrame;
using bus::devicenet::MacCheckState;
using bus::devicenet::NoDeadline;
using bus::devicenet::ServiceResult;
namespace Service = bus::devicenet::Service;
namespace Status = bus::devicenet::GeneralStatus;
namespace Attribute = FirmwareAttribute;

constexpr std::uint16_t DownloadModeBit = 0x8000;
constexpr std::uint8_t ProductNameMax = 32;
constexpr std::uint8_t PhysicalPort = 0;

std::vector<std::uint8_t> little(std::uint32_t value, std::size_t width) {
    std::vector<std::uint8_t> bytes(width);
    for (std::size_t i = 0; i < width; ++i)
        bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
    return bytes;
}

std::uint32_t fromLittle(const std::vector<std::uint8_t>& bytes, std::size_t from) {
    std::uint32_t value = 0;
    for (std::size_t i = from; i < bytes.size() && i < from + 4; ++i)
        value |= static_cast<std::uint32_t>(bytes[i]) << (8 * (i - from));
    return value;
}

ServiceResult value(std::uint32_t v, std::size_t width) {
    return ServiceResult::Ok(little(v, width));
}

// A SHORT_STRING: its length in one byte, then the characters.
ServiceResult shortString(const std::string& s, std::size_t max) {
    const std::size_t n = std::min(s.size(), max);
    std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(n)};
    bytes.insert(bytes.end(), s.begin(), s.begin() + static_cast<std::ptrdiff_t>(n));
    return ServiceResult::Ok(std::move(bytes));
}

ServiceResult refused(NodeError error) {
    return ServiceResult::Error(GeneralStatusFor(error));
}

ServiceResult done(NodeResult result) {
    return result ? ServiceResult::Ok() : refused(result.error);
}

// A text field of a firmware header: up to its first zero byte, or an erased byte.
std::string headerText(const std::uint8_t* header, std::size_t offset, std::size_t width) {
    std::string s;
    for (std::size_t i = offset; i < offset + width; ++i) {
        if (header[i] == 0x00 || header[i] == 0xFF)
            break;
        s += static_cast<char>(header[i]);
    }
    return s;
}

// The one attribute ID of a Get_Attribute_Single request.
std::optional<ServiceResult> badGet(const std::vector<std::uint8_t>& request) {
    if (request.empty())
        return ServiceResult::Error(Status::NotEnoughData);
    if (request.size() > 1)
        return ServiceResult::Error(Status::TooMuchData);
    return std::nullopt;
}

} // namespace

std::uint8_t GeneralStatusFor(NodeError error) {
    switch (error) {
    case NodeError::None:
        return Status::Success;
    case NodeError::NoSuchSector:
    case NodeError::OutOfRange:
        return Status::InvalidAttributeValue;
    case NodeError::NotErased: // the flash there is not blank
    case NodeError::Busy:
        return Status::DeviceStateConflict;
    case NodeError::NotInDownloadMode:
        return Status::ObjectStateConflict;
    case NodeError::WrongPassword:
        return Status::PrivilegeViolation;
    case NodeError::StorageFailed:
        return Status::StoreOperationFailure;
    }
    return Status::VendorSpecific;
}

DevicenetNode::DevicenetNode(DevicenetNodeSettings settings, FlashSource flash)
    : settings_(std::move(settings)), flashSource_(std::move(flash)),
      server_(settings_.macId, *this) {
    restartCheck();
}

FlashNode* DevicenetNode::flash() {
    if (!flash_ && !flashRefused_) {
        std::string error;
        flash_ = flashSource_(&error);
        if (!flash_) {
            // Without its flash the node cannot go on: it falls silent, once said why.
            flashRefused_ = true;
            std::fprintf(stderr, "zandrel: simulated DeviceNet node %u: %s\n", settings_.macId,
                         error.c_str());
        } else {
            known_ = flash_->Incarnation(); // the node came onto the network with it
        }
    }
    return flash_;
}

bool DevicenetNode::restarting() const {
    return flash_ && !flash_->Online();
}

void DevicenetNode::restartCheck() {
    const NodeIdentity& identity = settings_.flash.identity;
    const std::uint32_t serial = flash_ ? flash_->SerialNumber() : identity.serialNumber;
    check_.emplace(settings_.macId, PhysicalPort, static_cast<std::uint16_t>(identity.vendorId),
                   serial);
}

DevicenetNode::Output DevicenetNode::PowerOn(TimePoint now) {
    return published(powerOn(now));
}

DevicenetNode::Output DevicenetNode::OnFrame(const CanFrame& frame, TimePoint now) {
    return published(onFrame(frame, now));
}

DevicenetNode::Output DevicenetNode::OnTime(TimePoint now) {
    return published(onTime(now));
}

DevicenetNode::Output DevicenetNode::published(Output output) {
    connectionHeld_.store(server_.Allocated(), std::memory_order_relaxed);
    return output;
}

DevicenetNode::Output DevicenetNode::powerOn(TimePoint now) {
    server_.Reset();
    selected_ = 0;
    duplicateReported_ = false;
    restartCheck();
    if (!settings_.duplicateMacCheck) {
        check_->SetOnline();
        return {};
    }
    return check_->Start(now);
}

DevicenetNode::Output DevicenetNode::cameBack(TimePoint now) {
    known_ = flash_->Incarnation();
    return powerOn(now);
}

DevicenetNode::Output DevicenetNode::joined(Output first, Output second) const {
    first.frames.insert(first.frames.end(), second.frames.begin(), second.frames.end());
    first.deadline = std::min(first.deadline, second.deadline);
    return first;
}

DevicenetNode::Output DevicenetNode::withDeadline(Output output) const {
    // Restarting, or back and not yet checked in: the node wants the time when it is back.
    if (flash_ && flash_->Incarnation() != known_)
        output.deadline = std::min(output.deadline, flash_->BackAt());
    // Online, whatever the frame was: the server's timers run on.
    else if (check_->State() == MacCheckState::Online)
        output.deadline = std::min(output.deadline, server_.Deadline());
    return output;
}

DevicenetNode::Output DevicenetNode::onTime(TimePoint now) {
    if (flashRefused_)
        return {};
    if (restarting())
        return withDeadline({});
    if (flash_ && flash_->Incarnation() != known_)
        return withDeadline(cameBack(now));
    Output out = check_->OnTime(now);
    if (check_->State() == MacCheckState::Online)
        out = joined(std::move(out), server_.OnTime(now));
    return withDeadline(std::move(out));
}

DevicenetNode::Output DevicenetNode::onFrame(const CanFrame& frame, TimePoint now) {
    if (flashRefused_)
        return {};
    if (restarting())
        return withDeadline({}); // off the bus: hears nothing
    if (flash_ && flash_->Incarnation() != known_) {
        // Back from a restart whose end the timer has not seen yet: it comes onto the network
        // first, then hears the frame.
        Output out = cameBack(now);
        return joined(std::move(out), onFrame(frame, now));
    }
    // The check first catches up with the time: a frame that comes after its end finds the
    // node online, whether or not the timer has been round since.
    Output out = check_->OnTime(now);
    const MacCheckState before = check_->State();
    if (before == MacCheckState::Idle || before == MacCheckState::Duplicate)
        return {};
    out = joined(std::move(out), check_->OnFrame(frame, now));
    if (check_->State() == MacCheckState::Duplicate) {
        server_.Reset();
        if (!duplicateReported_) {
            duplicateReported_ = true;
            std::fprintf(stderr,
                         "zandrel: simulated DeviceNet node %u: another node has MAC ID %u; "
                         "this one stays off the network\n",
                         settings_.macId, settings_.macId);
        }
        return {};
    }
    if (before != MacCheckState::Online)
        return withDeadline(std::move(out)); // nothing but the check until it is done
    const auto address = bus::devicenet::ParseGroup2Id(frame.id);
    if (!address || address->mac != settings_.macId ||
        (address->message != bus::devicenet::Group2Message::ExplicitRequest &&
         address->message != bus::devicenet::Group2Message::UnconnectedRequest))
        return withDeadline(std::move(out));
    if (!flash())
        return {};
    out = joined(std::move(out), server_.OnFrame(frame, now));
    if (flash_->Incarnation() != known_) {
        // The request restarted the node: its answer goes out, and with it the connection.
        server_.Reset();
        selected_ = 0;
        out.deadline = NoDeadline;
    }
    return withDeadline(std::move(out));
}

ServiceResult DevicenetNode::Service(std::uint8_t service, std::uint16_t classId,
                                     std::uint16_t instance,
                                     const std::vector<std::uint8_t>& request) {
    if (classId != bus::devicenet::IdentityClass && classId != FirmwareClass)
        return ServiceResult::Error(Status::ObjectDoesNotExist);
    if (instance != 1)
        return ServiceResult::Error(Status::ObjectDoesNotExist);
    if (!flash())
        return ServiceResult::Error(Status::DeviceStateConflict);
    return classId == FirmwareClass ? firmware(service, request) : identity(service, request);
}

ServiceResult DevicenetNode::identity(std::uint8_t service,
                                      const std::vector<std::uint8_t>& request) {
    FlashNode& node = *flash_;
    const NodeIdentity& id = node.Settings().identity;
    switch (service) {
    case Service::GetAttributeSingle: {
        if (auto bad = badGet(request))
            return *bad;
        switch (request[0]) {
        case 1:
            return value(id.vendorId, 2);
        case 2:
            return value(id.deviceType, 2);
        case 3: {
            std::uint32_t code = id.productCode & ~std::uint32_t{DownloadModeBit};
            if (node.CurrentMode() == NodeMode::Download)
                code |= DownloadModeBit;
            return value(code, 2);
        }
        case 4: {
            const std::uint32_t revision = node.RunningRevision();
            return ServiceResult::Ok(
                {static_cast<std::uint8_t>(revision >> 16), static_cast<std::uint8_t>(revision)});
        }
        case 5:
            return value(server_.Allocated() ? 0x0001 : 0x0000, 2); // bit 0: owned
        case 6:
            return value(node.SerialNumber(), 4);
        case 7:
            return shortString(id.deviceName, ProductNameMax);
        default:
            return ServiceResult::Error(Status::AttributeNotSupported);
        }
    }
    case Service::SetAttributeSingle:
        if (request.empty())
            return ServiceResult::Error(Status::NotEnoughData);
        return ServiceResult::Error(request[0] >= 1 && request[0] <= 7
                                        ? Status::AttributeNotSettable
                                        : Status::AttributeNotSupported);
    case Service::Reset:
        // Type 0 (as a power cycle) or none; a return to factory defaults is not offered.
        if (request.size() > 1)
            return ServiceResult::Error(Status::TooMuchData);
        if (!request.empty() && request[0] != 0)
            return ServiceResult::Error(Status::InvalidParameter);
        return done(node.Reset());
    default:
        return ServiceResult::Error(Status::ServiceNotSupported);
    }
}

ServiceResult DevicenetNode::firmware(std::uint8_t service,
                                      const std::vector<std::uint8_t>& request) {
    switch (service) {
    case Service::GetAttributeSingle:
        if (auto bad = badGet(request))
            return *bad;
        return getFirmware(request[0]);
    case Service::SetAttributeSingle:
        if (request.empty())
            return ServiceResult::Error(Status::NotEnoughData);
        return setFirmware(request[0],
                           std::vector<std::uint8_t>(request.begin() + 1, request.end()));
    default:
        return ServiceResult::Error(Status::ServiceNotSupported);
    }
}

ServiceResult DevicenetNode::getFirmware(std::uint8_t attribute) {
    FlashNode& node = *flash_;
    switch (attribute) {
    case Attribute::Select:
        return value(selected_, 1);
    case Attribute::Name:
    case Attribute::Description:
    case Attribute::BuildDate:
    case Attribute::BuildTime:
    case Attribute::Revision: {
        std::uint8_t header[FirmwareHeaderSize];
        if (auto read = node.Description(selected_, header); !read)
            return refused(read.error);
        if (attribute == Attribute::Revision) {
            std::uint32_t revision = 0;
            for (std::size_t i = 0; i < 4; ++i)
                revision |= static_cast<std::uint32_t>(header[RevisionOffset + i]) << (8 * i);
            return value(revision, 4);
        }
        static constexpr std::size_t offsets[] = {0, 16, 48, 60};
        static constexpr std::size_t widths[] = {16, 32, 12, 12};
        const std::size_t field = attribute - Attribute::Name;
        return shortString(headerText(header, offsets[field], widths[field]), widths[field]);
    }
    case Attribute::Checksum: {
        std::uint32_t checksum = 0;
        if (auto read = node.StoredChecksum(selected_, &checksum); !read)
            return refused(read.error);
        // The node vouches only for a checksum that matches its bytes by its own rule: one
        // that does not reads as none.
        bool matches = false;
        if (checksum != FlashNode::NoChecksum && node.ChecksumMatches(selected_, &matches) &&
            !matches)
            checksum = FlashNode::NoChecksum;
        return value(checksum, 4);
    }
    case Attribute::BootSector:
        return value(node.BootSector(), 1);
    case Attribute::SectorCount:
        return value(node.SectorCount(), 1);
    case Attribute::SectorSize: {
        if (!settings_.sectorSizeAttribute)
            return ServiceResult::Error(Status::AttributeNotSupported);
        std::uint32_t size = 0;
        if (auto read = node.SectorSize(selected_, &size); !read)
            return refused(read.error);
        return value(size, 4);
    }
    default:
        // The command and the password are written, never read.
        return ServiceResult::Error(Status::AttributeNotSupported);
    }
}

ServiceResult DevicenetNode::setFirmware(std::uint8_t attribute,
                                         const std::vector<std::uint8_t>& data) {
    FlashNode& node = *flash_;
    std::size_t width = 0;
    switch (attribute) {
    case Attribute::Command:
        return command(data);
    case Attribute::Select:
    case Attribute::BootSector:
        width = 1;
        break;
    case Attribute::Checksum:
    case Attribute::Password:
        width = 4;
        break;
    case Attribute::Name:
    case Attribute::Description:
    case Attribute::BuildDate:
    case Attribute::BuildTime:
    case Attribute::Revision:
    case Attribute::SectorCount:
        return ServiceResult::Error(Status::AttributeNotSettable);
    case Attribute::SectorSize:
        return ServiceResult::Error(settings_.sectorSizeAttribute ? Status::AttributeNotSettable
                                                                  : Status::AttributeNotSupported);
    default:
        return ServiceResult::Error(Status::AttributeNotSupported);
    }
    if (data.size() != width)
        return ServiceResult::Error(data.size() < width ? Status::NotEnoughData
                                                        : Status::TooMuchData);
    const std::uint32_t v = fromLittle(data, 0);
    switch (attribute) {
    case Attribute::Select:
        if (v >= node.SectorCount())
            return ServiceResult::Error(Status::InvalidAttributeValue);
        selected_ = static_cast<std::uint8_t>(v);
        return ServiceResult::Ok();
    case Attribute::BootSector:
        return done(node.SetBootSector(static_cast<std::uint8_t>(v)));
    case Attribute::Checksum:
        return done(node.SetStoredChecksum(selected_, v));
    default: // Attribute::Password
        return done(node.ArmDownloadMode(v));
    }
}

// The command byte string: 0x02 write block (sector, address in 24 bits low byte first,
// length n, n bytes), 0x03 erase sector (sector).
ServiceResult DevicenetNode::command(const std::vector<std::uint8_t>& record) {
    FlashNode& node = *flash_;
    if (record.empty())
        return ServiceResult::Error(Status::NotEnoughData);
    std::size_t size = 0;
    switch (record[0]) {
    case 0x02:
        size = record.size() < 6 ? 6 : 6 + std::size_t{record[5]};
        break;
    case 0x03:
        size = 2;
        break;
    default:
        return ServiceResult::Error(Status::InvalidAttributeValue);
    }
    if (record.size() != size)
        return ServiceResult::Error(record.size() < size ? Status::NotEnoughData
                                                         : Status::TooMuchData);
    const std::uint8_t sector = record[1];
    if (record[0] == 0x03)
        return done(node.Erase(sector));
    const std::uint32_t address = fromLittle(record, 2) & 0xFFFFFF;
    return done(node.Write(sector, address, record.data() + 6, record[5]));
}

} // namespace sim
