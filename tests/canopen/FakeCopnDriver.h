#pragma once

#include "FakeDriverControls.h"
#include "Qvx_copn_exports.h"

#include <cstdint>
#include <string>
#include <vector>

// The controls of the fake CANopen driver library (FakeCopn.cpp): besides the calls and
// results every fake has, the nodes' object dictionaries, their online flags, the error a
// failing open leaves, and the configuration the driver gives.
class FakeCopnDriver : public FakeDriverControls {
public:
    FakeCopnDriver() : FakeDriverControls("QVX_COPN.dll") {}

    void SetBytes(std::uint8_t node, std::uint16_t index, std::uint8_t sub,
                  const std::vector<std::uint8_t>& data) {
        setObject_(node, index, sub, data.data(), static_cast<std::uint32_t>(data.size()));
    }
    void SetU8(std::uint8_t node, std::uint16_t index, std::uint8_t sub, std::uint8_t value) {
        SetBytes(node, index, sub, {value});
    }
    void SetU32(std::uint8_t node, std::uint16_t index, std::uint8_t sub, std::uint32_t value) {
        SetBytes(node, index, sub,
                 {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                  static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)});
    }
    void SetText(std::uint8_t node, std::uint16_t index, const std::string& text) {
        SetBytes(node, index, 0, std::vector<std::uint8_t>(text.begin(), text.end()));
    }

    struct Identity {
        std::uint32_t deviceType = 0x00020192;
        std::uint8_t errorRegister = 0;
        std::string deviceName = "Fake Node";
        std::string hardwareVersion = "HW 1";
        std::string softwareVersion = "2.07";
        std::uint32_t vendorId = 0x2A5;
        std::uint32_t productCode = 0x123;
        std::uint32_t revisionNumber = 0x00010002;
        std::uint32_t serialNumber = 100234;
    };
    // The identity entries of a node's communication profile.
    void SetIdentity(std::uint8_t node, const Identity& id) {
        SetU32(node, 0x1000, 0, id.deviceType);
        SetU8(node, 0x1001, 0, id.errorRegister);
        SetText(node, 0x1008, id.deviceName);
        SetText(node, 0x1009, id.hardwareVersion);
        SetText(node, 0x100A, id.softwareVersion);
        SetU32(node, 0x1018, 1, id.vendorId);
        SetU32(node, 0x1018, 2, id.productCode);
        SetU32(node, 0x1018, 3, id.revisionNumber);
        SetU32(node, 0x1018, 4, id.serialNumber);
    }

    void SetNodeOnline(std::uint8_t node, std::uint32_t value) { setNodeOnline_(node, value); }
    void SetOpenError(std::uint32_t value) { setOpenError_(value); }
    void SetSettings(const void* config, const QVX_COPN_NetworkSettings& settings) {
        setSettings_(config, &settings);
    }

private:
    void LookUpOwnControls() override {
        look(setObject_, "Fake_SetObject");
        look(setNodeOnline_, "Fake_SetNodeOnline");
        look(setOpenError_, "Fake_SetOpenError");
        look(setSettings_, "Fake_SetSettings");
    }

    void (*setObject_)(std::uint8_t, std::uint16_t, std::uint8_t, const std::uint8_t*,
                       std::uint32_t) = nullptr;
    void (*setNodeOnline_)(std::uint8_t, std::uint32_t) = nullptr;
    void (*setOpenError_)(std::uint32_t) = nullptr;
    void (*setSettings_)(const void*, const QVX_COPN_NetworkSettings*) = nullptr;
};
