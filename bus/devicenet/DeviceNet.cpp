#include "DeviceNet.h"

#include <algorithm>

namespace bus::devicenet {

namespace {

bool classIs16(BodyFormat format) {
    return format == BodyFormat::Class16Instance16 || format == BodyFormat::Class16Instance8;
}

bool instanceIs16(BodyFormat format) {
    return format == BodyFormat::Class8Instance16 || format == BodyFormat::Class16Instance16;
}

void put(std::vector<std::uint8_t>& out, std::uint16_t value, bool wide) {
    out.push_back(static_cast<std::uint8_t>(value));
    if (wide)
        out.push_back(static_cast<std::uint8_t>(value >> 8));
}

} // namespace

const char* GeneralStatusText(std::uint8_t generalStatus) {
    switch (generalStatus) {
    case GeneralStatus::Success:
        return "success";
    case GeneralStatus::ConnectionFailure:
        return "connection failure";
    case GeneralStatus::ResourceUnavailable:
        return "resource unavailable";
    case GeneralStatus::PathDestinationUnknown:
        return "path destination unknown";
    case GeneralStatus::ServiceNotSupported:
        return "service not supported";
    case GeneralStatus::InvalidAttributeValue:
        return "invalid attribute value";
    case GeneralStatus::AlreadyInRequestedState:
        return "already in requested mode/state";
    case GeneralStatus::ObjectStateConflict:
        return "object state conflict";
    case GeneralStatus::AttributeNotSettable:
        return "attribute not settable";
    case GeneralStatus::PrivilegeViolation:
        return "privilege violation";
    case GeneralStatus::DeviceStateConflict:
        return "device state conflict";
    case GeneralStatus::ReplyDataTooLarge:
        return "reply data too large";
    case GeneralStatus::NotEnoughData:
        return "not enough data";
    case GeneralStatus::AttributeNotSupported:
        return "attribute not supported";
    case GeneralStatus::TooMuchData:
        return "too much data";
    case GeneralStatus::ObjectDoesNotExist:
        return "object does not exist";
    case GeneralStatus::StoreOperationFailure:
        return "store operation failure";
    case GeneralStatus::VendorSpecific:
        return "vendor specific error";
    case GeneralStatus::InvalidParameter:
        return "invalid parameter";
    default:
        return "unknown general status";
    }
}

std::optional<std::vector<std::uint8_t>> EncodeRequestBody(const ExplicitRequest& request,
                                                           BodyFormat format) {
    if ((request.service & Service::ResponseBit) != 0 ||
        (!classIs16(format) && request.classId > 0xFF) ||
        (!instanceIs16(format) && request.instance > 0xFF))
        return std::nullopt;
    std::vector<std::uint8_t> body;
    body.reserve(5 + request.data.size());
    body.push_back(request.service);
    put(body, request.classId, classIs16(format));
    put(body, request.instance, instanceIs16(format));
    body.insert(body.end(), request.data.begin(), request.data.end());
    return body;
}

std::optional<ExplicitRequest> DecodeRequestBody(const std::uint8_t* body, std::size_t size,
                                                 BodyFormat format) {
    const std::size_t classSize = classIs16(format) ? 2 : 1;
    const std::size_t instanceSize = instanceIs16(format) ? 2 : 1;
    if (size < 1 + classSize + instanceSize || (body[0] & Service::ResponseBit) != 0)
        return std::nullopt;
    ExplicitRequest request;
    request.service = body[0];
    std::size_t at = 1;
    request.classId = body[at];
    if (classSize == 2)
        request.classId = static_cast<std::uint16_t>(request.classId | body[at + 1] << 8);
    at += classSize;
    request.instance = body[at];
    if (instanceSize == 2)
        request.instance = static_cast<std::uint16_t>(request.instance | body[at + 1] << 8);
    at += instanceSize;
    request.data.assign(body + at, body + size);
    return request;
}

std::vector<std::uint8_t> EncodeResponseBody(std::uint8_t requestService,
                                             const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> body;
    body.reserve(1 + data.size());
    body.push_back(static_cast<std::uint8_t>(requestService | Service::ResponseBit));
    body.insert(body.end(), data.begin(), data.end());
    return body;
}

std::vector<std::uint8_t> EncodeErrorBody(std::uint8_t generalStatus, std::uint8_t additionalCode) {
    return {Service::ErrorResponse, generalStatus, additionalCode};
}

CanFrame ExplicitFrame(std::uint16_t id, MessageHeader header,
                       const std::vector<std::uint8_t>& body) {
    header.fragmented = false;
    CanFrame frame;
    frame.id = id;
    frame.data[0] = header.Byte();
    const std::size_t n = std::min(body.size(), MaxUnfragmentedBody);
    std::copy(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(n), frame.data.begin() + 1);
    frame.length = static_cast<std::uint8_t>(1 + n);
    return frame;
}

} // namespace bus::devicenet
